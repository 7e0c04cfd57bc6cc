#!/usr/bin/python3
"""Writes an Ansible inventory (YAML) from a device list in hj5-update's CSV
format (address, and optionally login_id, password, http_port, ftp_port).

Without --shares (update.yml): one inventory host per device, in the group
`hj5`, all run by the machines named with --runner (default: this one, with
a local connection), dealt to them in turn. Passwords are not taken over:
the playbook reads them from the environment of the machine that runs it.
Every value taken from the input (and each runner's name) is tagged
`!unsafe`: Ansible carries it as text and never evaluates a `{{ }}` or
`{% %}` in it, so a device list cannot run anything on the machine that
runs the playbook.

With --shares DIR (rollout.yml): the devices are dealt to the runners in
turn into one CSV file per runner, DIR/RUNNER.csv, in hj5-update's format
with the input's columns and in the input's order (so a runner's first
devices are its canaries); the inventory printed is that of the runners,
the group `hj5_runners`. The files are written for the owner only, since
they keep a password column if the input has one.

Usage: inventory_from_csv.py DEVICES.csv [--runner HOST ...] > inventory.yml
       inventory_from_csv.py DEVICES.csv --shares DIR --runner HOST ...
           [--connection local] > runners.yml
"""
import argparse
import csv
import os
import re
import sys

import yaml

# The columns of hj5-update's CSV format, matched as it matches them (case
# aside); any other column is the operator's own and is kept in the shares.
COLUMNS = ("address", "login_id", "password", "http_port", "ftp_port")

# A runner is a host name or an address: it names a file in the shares
# folder and a host of the inventory.
RUNNER = re.compile(r"[A-Za-z0-9_:][A-Za-z0-9_.:-]*")


class Unsafe(str):
    """A value from the input, carried by Ansible as text, never templated."""


class InventoryDumper(yaml.SafeDumper):
    pass


InventoryDumper.add_representer(
    Unsafe, lambda dumper, value: dumper.represent_scalar(
        "!unsafe", str(value), style='"'))


def emit(inventory):
    yaml.dump(inventory, sys.stdout, Dumper=InventoryDumper,
              default_flow_style=False, sort_keys=False, allow_unicode=True)


def device_inventory(rows, columns, runners):
    hosts = {}
    for i, row in enumerate(rows):
        value = {name: row[columns[name]] for name in columns}
        host = {
            "hj5_address": Unsafe(value["address"]),
            "hj5_http_port": Unsafe(value.get("http_port") or "80"),
            "hj5_ftp_port": Unsafe(value.get("ftp_port") or "21"),
        }
        if value.get("login_id"):
            host["hj5_login_id"] = Unsafe(value["login_id"])
        host["hj5_runner"] = Unsafe(runners[i % len(runners)])
        hosts[f"hj5-{i + 1:04d}"] = host
    emit({"hj5": {"hosts": hosts, "vars": {
        "ansible_connection": "local",
        "ansible_python_interpreter": "/usr/bin/python3"}}})


def runner_inventory(rows, fields, runners, shares, connection):
    if len(set(runners)) != len(runners):
        sys.exit("inventory_from_csv.py: a runner is named twice")
    if len(rows) < len(runners):
        sys.exit(f"inventory_from_csv.py: {len(rows)} devices cannot give "
                 f"each of {len(runners)} runners a share")
    os.makedirs(shares, exist_ok=True)
    for n, runner in enumerate(runners):
        path = os.path.join(shares, f"{runner}.csv")
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        os.fchmod(fd, 0o600)
        with os.fdopen(fd, "w", newline="") as f:
            writer = csv.DictWriter(f, fieldnames=fields, lineterminator="\n")
            writer.writeheader()
            writer.writerows(rows[n::len(runners)])
    hosts = {}
    for n, runner in enumerate(runners):
        count = len(rows[n::len(runners)])
        devices = "device" if count == 1 else "devices"
        print(f"# {runner}: {count} {devices}")
        host = {}
        if connection:
            host["ansible_connection"] = connection
        elif runner == "localhost":
            host["ansible_connection"] = "local"
        hosts[runner] = host or None
    emit({"hj5_runners": {"hosts": hosts, "vars": {
        "ansible_python_interpreter": "/usr/bin/python3"}}})


def read_devices(path):
    """The rows, the header's names and {known column: name as given}; a
    file hj5-update would refuse for its shape ends the script here."""
    def refuse(text):
        sys.exit(f"inventory_from_csv.py: {path}: {text}")
    # utf-8-sig: a byte-order mark before the header is dropped, as
    # hj5-update drops it.
    with open(path, newline="", encoding="utf-8-sig") as f:
        reader = csv.DictReader(f)
        fields = reader.fieldnames or []
        columns = {}
        for name in fields:
            if name.lower() in COLUMNS:
                if name.lower() in columns:
                    refuse(f"column \"{name.lower()}\" named twice")
                columns[name.lower()] = name
        if "address" not in columns:
            refuse("the header has no \"address\" column")
        rows = []
        for row in reader:
            values = list(row.values())
            given = [v for v in values if v is not None]
            if len(given) == 1 and not given[0].strip(" \t"):
                continue  # a blank line, which hj5-update skips
            if None in row or None in values:
                refuse(f"line {reader.line_num}: its fields do not match "
                       f"the header's {len(fields)}")
            rows.append(row)
    return rows, fields, columns


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("devices")
    parser.add_argument("--runner", action="append", default=[],
                        help="a machine that runs hj5-update (repeatable); "
                             "devices are dealt to them in turn")
    parser.add_argument("--shares", metavar="DIR",
                        help="write each runner's share to DIR/RUNNER.csv "
                             "and print the runners' inventory")
    parser.add_argument("--connection",
                        help="with --shares: the runners' ansible_connection "
                             "(default: local for localhost, else Ansible's)")
    args = parser.parse_args()
    if args.connection and not args.shares:
        parser.error("--connection needs --shares")
    runners = args.runner or ["localhost"]
    for runner in runners:
        if not RUNNER.fullmatch(runner):
            parser.error(f"--runner {runner!r}: not a host name or address")
    if args.connection and not re.fullmatch(r"[A-Za-z0-9_.]+",
                                            args.connection):
        parser.error(f"--connection {args.connection!r}: not a connection "
                     "plugin's name")
    rows, fields, columns = read_devices(args.devices)
    if args.shares:
        runner_inventory(rows, fields, runners, args.shares.rstrip("/"),
                         args.connection)
    else:
        device_inventory(rows, columns, runners)


if __name__ == "__main__":
    sys.exit(main())

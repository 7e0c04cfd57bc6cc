#!/usr/bin/python3
"""Writes an Ansible inventory (YAML) from a device list in hj5-update's CSV
format (address, and optionally login_id, password, http_port, ftp_port).

Without --shares (update.yml): one inventory host per device, in the group
`hj5`, all run by the machines named with --runner (default: this one, with
a local connection), dealt to them in turn. Passwords are not taken over:
the playbook reads them from the environment of the machine that runs it.

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
import sys


def device_inventory(rows, runners):
    print("hj5:")
    print("  hosts:")
    for i, row in enumerate(rows):
        port = row.get("http_port") or "80"
        print(f"    hj5-{i + 1:04d}:")
        print(f"      hj5_address: \"{row['address']}\"")
        print(f"      hj5_http_port: {port}")
        print(f"      hj5_ftp_port: {row.get('ftp_port') or 21}")
        if row.get("login_id"):
            print(f"      hj5_login_id: \"{row['login_id']}\"")
        print(f"      hj5_runner: {runners[i % len(runners)]}")
    print("  vars:")
    print("    ansible_connection: local")
    print("    ansible_python_interpreter: /usr/bin/python3")


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
    print("hj5_runners:")
    print("  hosts:")
    for n, runner in enumerate(runners):
        count = len(rows[n::len(runners)])
        devices = "device" if count == 1 else "devices"
        print(f"    {runner}:  # {count} {devices} in {shares}/{runner}.csv")
        if connection:
            print(f"      ansible_connection: {connection}")
        elif runner == "localhost":
            print("      ansible_connection: local")
    print("  vars:")
    print("    ansible_python_interpreter: /usr/bin/python3")


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
    with open(args.devices, newline="") as f:
        reader = csv.DictReader(f)
        rows = list(reader)
        fields = reader.fieldnames
    if args.shares:
        runner_inventory(rows, fields, runners, args.shares.rstrip("/"),
                         args.connection)
    else:
        device_inventory(rows, runners)


if __name__ == "__main__":
    sys.exit(main())

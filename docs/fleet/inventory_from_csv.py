#!/usr/bin/python3
"""Writes an Ansible inventory (YAML) of HJ-5 devices from a device list in
hj5-update's CSV format (address, and optionally login_id, http_port,
ftp_port): one inventory host per device, in the group `hj5`, all run by
the machine named with --runner (default: this one, with a local
connection). Passwords are not taken over: the playbook reads them from the
environment of the machine that runs it.

Usage: inventory_from_csv.py DEVICES.csv [--runner HOST ...] > inventory.yml
"""
import argparse
import csv
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("devices")
    parser.add_argument("--runner", action="append", default=[],
                        help="a machine that runs hj5-update (repeatable); "
                             "devices are dealt to them in turn")
    args = parser.parse_args()
    runners = args.runner or ["localhost"]
    with open(args.devices, newline="") as f:
        rows = list(csv.DictReader(f))
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


if __name__ == "__main__":
    sys.exit(main())

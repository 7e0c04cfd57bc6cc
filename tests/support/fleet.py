"""An emulated fleet on loopback for the tests that drive hj5-update as a
whole: started on ports the system finds, some devices made to fail, each
device's parameters read back from the emulator's control endpoint.
"""
import csv
import json
import os
import select
import subprocess
import urllib.request

EMULATOR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                        "emulator", "hj5-emulator")


class Fleet:
    """An emulated fleet; some devices fail, the list says which."""

    def __init__(self, work, count, reboot_seconds, fail_fraction=0.0):
        self.devices_csv = os.path.join(work, "devices.csv")
        failing = os.path.join(work, "failing.csv")
        args = ["/usr/bin/python3", EMULATOR, "--devices", str(count),
                "--devices-csv", self.devices_csv, "--reboot-seconds",
                str(reboot_seconds), "--exit-on-stdin-eof"]
        if fail_fraction:
            args += ["--fail-fraction", str(fail_fraction),
                     "--fail-kinds", "ftp_on_refused,mark_refused",
                     "--fault-list", failing]
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.process.stdout], [], [], 30)
        line = self.process.stdout.readline() if ready else ""
        if not line.startswith("devices="):
            self.stop()
            raise RuntimeError("the emulator did not start: " + line)
        self.control = int(line.split("control=")[1])
        with open(self.devices_csv) as f:
            self.labels = ["%s:%s" % (r["address"], r["http_port"])
                           for r in csv.DictReader(f)]
        self.failing = set()
        if fail_fraction:
            with open(failing) as f:
                self.failing = {"%s:%s" % (r["address"], r["http_port"])
                                for r in csv.DictReader(f)}
        os.chmod(self.devices_csv, 0o600)

    def params(self, index):
        url = "http://127.0.0.1:%d/devices/%d/params" % (self.control, index)
        with urllib.request.urlopen(url, timeout=10) as reply:
            return json.load(reply)

    def stop(self):
        self.process.stdin.close()
        self.process.wait(30)

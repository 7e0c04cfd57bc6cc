"""docs/fleet under Ansible: a device list's values reach hj5-update as text,
never evaluated on the machine that runs the playbook, and a runner keeps
no password once its play is over, also when a task on it failed.

Every host is this machine with a local connection, and hj5-update is a
stand-in script: nothing leaves the machine.
"""

import csv
import glob
import json
import os
import shutil
import subprocess
import tempfile
import unittest

FLEET = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                     os.pardir, os.pardir, "docs", "fleet")

# Records its arguments (NUL-separated, one run a line) and prints a summary
# in which the first device failed; exits with $STUB_EXIT.
STUB = """#!/bin/sh
printf '%s\\0' "$@" >> "$STUB_ARGV"
printf '\\n' >> "$STUB_ARGV"
echo '{"kind": "summary", "succeeded": 1, "failed": 1, "not_started": 0,'\
' "stopped_by": "'"${STUB_STOPPED:-canary}"'", "interrupted": false, "devices":'\
' [{"succeeded": false, "text": "Update Failure."},'\
' {"succeeded": true, "text": "Update completed."}]}'
exit "$STUB_EXIT"
"""


class FleetInventoryTest(unittest.TestCase):
    def setUp(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        self.tmp = tmp.name
        # The playbooks write results/ and retry files beside themselves.
        self.fleet = self.path("fleet")
        os.mkdir(self.fleet)
        for name in ("inventory_from_csv.py", "update.yml", "rollout.yml",
                     "ansible.cfg"):
            shutil.copy2(os.path.join(FLEET, name), self.fleet)
        for name in ("home", "runner-tmp"):
            os.mkdir(self.path(name))
        self.stub = self.path("hj5-update")
        with open(self.stub, "w") as f:
            f.write(STUB)
        os.chmod(self.stub, 0o700)
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith("ANSIBLE_")}
        self.env.update(
            HOME=self.path("home"), TMPDIR=self.path("runner-tmp"),
            LC_ALL="C.UTF-8", ANSIBLE_CONFIG=self.path("fleet", "ansible.cfg"),
            ANSIBLE_LOCAL_TEMP=self.path("home", "local"),
            ANSIBLE_NOCOLOR="1", HJ5_PASSWORD="not-a-secret",
            STUB_ARGV=self.path("argv"), STUB_EXIT="0")
        # Jinja in every column that the inventory or a share carries; each
        # would create its marker file if Ansible evaluated it.
        self.address = self.jinja("{{ lookup('pipe', 'touch %s') }}", "a")
        self.login_id = self.jinja(
            "{%% set x = lookup('pipe', 'touch %s') %%}o\"p: #", "id")
        self.http_port = self.jinja("{{ lookup('pipe', 'touch %s') }}", "p")
        self.rows = [
            ["address", "login_id", "password", "http_port", "ftp_port"],
            [self.address, self.login_id, "pw", self.http_port, "2121"],
            ["192.0.2.1", "", "", "", ""],
        ]
        with open(self.path("devices.csv"), "w", newline="") as f:
            csv.writer(f, lineterminator="\n").writerows(self.rows)

    def path(self, *names):
        return os.path.join(self.tmp, *names)

    def jinja(self, template, marker):
        return template % self.path("marker-" + marker)

    def assert_nothing_evaluated(self):
        self.assertEqual(glob.glob(self.path("marker-*")), [])

    def run_tool(self, *args, ok=True):
        done = subprocess.run(args, cwd=self.fleet, env=self.env, text=True,
                              capture_output=True, timeout=90)
        if ok:
            self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        return done

    def script(self, *args, **kwargs):
        return subprocess.run(
            [os.path.join(self.fleet, "inventory_from_csv.py"),
             self.path("devices.csv"), *args], env=self.env, timeout=30,
            **kwargs)

    def inventory(self, *args):
        out = self.path("inventory-out.yml")
        with open(out, "w") as f:
            self.script(*args, stdout=f, check=True)
        return out

    def stub_runs(self):
        if not os.path.exists(self.path("argv")):
            return []
        with open(self.path("argv")) as f:
            return [line.split("\0")[:-1] for line in f.read().splitlines()]

    def left_on_runner(self):
        return os.listdir(self.path("runner-tmp"))

    def test_devices_values_reach_hj5_update_as_text(self):
        inventory = self.inventory("--runner", "localhost")
        listed = json.loads(self.run_tool(
            "ansible-inventory", "-i", inventory, "--list").stdout)
        self.assertEqual(listed["hj5"]["hosts"], ["hj5-0001", "hj5-0002"])
        unsafe = {name: {"__ansible_unsafe": value} for name, value in (
            ("hj5_address", self.address), ("hj5_http_port", self.http_port),
            ("hj5_ftp_port", "2121"), ("hj5_login_id", self.login_id),
            ("hj5_runner", "localhost"))}
        first = listed["_meta"]["hostvars"]["hj5-0001"]
        self.assertEqual({k: v for k, v in first.items() if k in unsafe},
                         unsafe)

        self.run_tool("ansible-playbook", "-i", inventory, "update.yml",
                      "-e", "hj5_update=" + self.stub,
                      "-e", "hj5_file=/srv/site.xml")
        self.assert_nothing_evaluated()
        runs = sorted(self.stub_runs(),
                      key=lambda argv: argv[1] != "192.0.2.1:80")
        for argv in runs:
            self.assertEqual(os.path.dirname(argv[7]),
                             self.path("runner-tmp"))
        self.assertEqual([argv[:6] + argv[8:] for argv in runs], [
            ["--address", "192.0.2.1:80", "--ftp-port", "21", "--id", "admin",
             "--json", "/srv/site.xml"],
            ["--address", f"{self.address}:{self.http_port}",
             "--ftp-port", "2121", "--id", self.login_id,
             "--json", "/srv/site.xml"]])
        self.assertEqual(self.left_on_runner(), [])

    def test_rollout_keeps_share_values_as_text(self):
        refused = self.script("--shares", self.path("shares"),
                              "--runner", "../escaped", capture_output=True)
        self.assertNotEqual(refused.returncode, 0)
        self.assertFalse(os.path.exists(self.path("escaped.csv")))

        inventory = self.inventory("--shares", self.path("shares"),
                                   "--runner", "localhost")
        with open(self.path("shares", "localhost.csv"), newline="") as f:
            self.assertEqual(list(csv.reader(f)), self.rows)
        self.env["STUB_EXIT"] = "3"
        done = self.run_tool(
            "ansible-playbook", "-i", inventory, "rollout.yml",
            "-e", "hj5_update=" + self.stub, "-e", "hj5_file=/srv/site.xml",
            "-e", "hj5_shares=" + self.path("shares"),
            "-e", "hj5_results=" + self.path("results"), ok=False)
        self.assertEqual(done.returncode, 2, done.stdout + done.stderr)
        self.assertIn("its canary failed", done.stdout)
        self.assert_nothing_evaluated()
        [argv] = self.stub_runs()
        self.assertEqual(argv[1], os.path.join(os.path.dirname(argv[5]),
                                               "devices.csv"))
        self.assertEqual(os.path.dirname(os.path.dirname(argv[1])),
                         self.path("runner-tmp"))
        with open(self.path("results", "left", "localhost.csv"),
                  newline="") as f:
            self.assertEqual(list(csv.reader(f)), self.rows[:2])
        self.assertEqual(self.left_on_runner(), [])

    def test_a_window_passes_through_and_its_close_carries_the_rest(self):
        inventory = self.inventory("--shares", self.path("shares"),
                                   "--runner", "localhost")
        self.env.update(STUB_EXIT="5", STUB_STOPPED="window")
        self.run_tool(
            "ansible-playbook", "-i", inventory, "rollout.yml",
            "-e", "hj5_update=" + self.stub, "-e", "hj5_file=/srv/site.xml",
            "-e", "hj5_window=01:00-05:00",
            "-e", "hj5_shares=" + self.path("shares"),
            "-e", "hj5_results=" + self.path("results"))
        [argv] = self.stub_runs()
        self.assertEqual(argv[-3:], ["--window", "01:00-05:00",
                                     "/srv/site.xml"])
        with open(self.path("results", "left", "localhost.csv"),
                  newline="") as f:
            self.assertEqual(list(csv.reader(f)), self.rows[:2])

    def test_no_password_left_when_hj5_update_cannot_be_run(self):
        # Without hj5_file the task that runs hj5-update fails, after the
        # password has been written on the runner.
        shares = self.path("shares")
        for playbook, args, extra in (
                ("update.yml", ("--runner", "localhost"), ()),
                ("rollout.yml", ("--shares", shares, "--runner", "localhost"),
                 ("-e", "hj5_shares=" + shares,
                  "-e", "hj5_results=" + self.path("results")))):
            with self.subTest(playbook):
                done = self.run_tool(
                    "ansible-playbook", "-i", self.inventory(*args), playbook,
                    "-e", "hj5_update=" + self.stub, *extra, ok=False)
                self.assertNotEqual(done.returncode, 0)
                self.assertIn("'hj5_file' is undefined", done.stdout)
                self.assertEqual(self.stub_runs(), [])
                self.assertEqual(self.left_on_runner(), [])


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/python3
"""What a fleet costs in descriptors: 500 emulated devices updated at once
by the real hj5-update; its descriptors, read from /proc while no upload is
open, never exceed 1.5 a running device beyond what it holds at rest, and
all 500 complete.

Run: HJ5_UPDATE=.../hj5-update /usr/bin/python3 -m unittest -v test_descriptors
"""
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "support"))
from fleet import Fleet  # noqa: E402

TOOL = os.environ.get("HJ5_UPDATE", "hj5-update")
DEVICES = 500
# Standard streams, the signal pipe, the shared event loop and the rest of
# what the process holds with no device running.
AT_REST = 16


def descriptors(pid):
    try:
        return len(os.listdir("/proc/%d/fd" % pid))
    except FileNotFoundError:
        return 0


class DescriptorTest(unittest.TestCase):
    def test_a_running_device_holds_at_most_one_and_a_half(self):
        work = tempfile.mkdtemp(prefix="hj5-fds-")
        fleet = Fleet(work, DEVICES, reboot_seconds=2)
        self.addCleanup(fleet.stop)
        xml = os.path.join(work, "site.xml")
        with open(xml, "w") as f:
            f.write('<?xml version="1.0"?>\n<a/>\n')
        out = open(os.path.join(work, "out.jsonl"), "w")
        self.addCleanup(out.close)
        tool = subprocess.Popen(
            [TOOL, "--devices", fleet.devices_csv, "--id", "admin", "--json",
             "--jobs", str(DEVICES), xml],
            stdout=out, stderr=subprocess.DEVNULL,
            env=dict(os.environ, HJ5_PASSWORD="hj5pass"))
        uploads = "http://127.0.0.1:%d/uploads" % fleet.control
        most = 0
        deadline = time.monotonic() + 240
        while tool.poll() is None and time.monotonic() < deadline:
            held = descriptors(tool.pid)
            with urllib.request.urlopen(uploads, timeout=5) as reply:
                open_uploads = json.load(reply)["open"]
            if open_uploads == 0 and descriptors(tool.pid) == held:
                most = max(most, held)
            time.sleep(0.05)
        self.assertEqual(tool.wait(60), 0)
        self.assertGreater(most, 0)
        self.assertLessEqual(most, AT_REST + 1.5 * DEVICES, most)


if __name__ == "__main__":
    unittest.main()

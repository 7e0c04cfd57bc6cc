"""A whole update as the tool drives it, with curl as the FTP client."""

import subprocess
import tempfile
import time
import unittest
import urllib.parse

import emu_support as es


def wait_for_answer(emu, limit=10.0):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        try:
            return emu.command(es.PROBE, timeout=1.0).body
        except OSError:
            time.sleep(0.05)
    return None


class UpdateSequenceTest(unittest.TestCase):
    def test_the_tools_sequence_leaves_the_device_as_it_was(self):
        emu = es.Emulator("--reboot-seconds", "0.2")
        try:
            self.run_update(emu)
        finally:
            emu.stop()

    def run_update(self, emu):
        self.assertIn(b"HJ5M", emu.command(es.QUERY).body)
        for data in (es.FTP_ON, es.MARK, es.RESTART):
            self.assertTrue(emu.command(data).body.endswith(b"HJ5_Ret(0)"))
        self.assertEqual(wait_for_answer(emu), b"HJ5_Ret(-1)")
        self.assertTrue(emu.command(es.MODE_ONE).body.endswith(b"HJ5_Ret(0)"))
        firmware = b"<?xml version=\"1.0\"?>\r\n<cfg>\x00\xff</cfg>\r\n" * 500
        with tempfile.NamedTemporaryFile(suffix=".xml") as local:
            local.write(firmware)
            local.flush()
            url = "ftp://127.0.0.1:%d/%s" % (
                emu.ftp_port, urllib.parse.quote("C:\\www\\new.xml", safe=""))
            done = subprocess.run(
                ["curl", "-sS", "--max-time", "20", "--ftp-method", "nocwd",
                 "-u", "admin:hj5pass", "-T", local.name, url],
                capture_output=True, timeout=30)
        self.assertEqual(done.returncode, 0, done.stderr)
        for data in (es.FTP_OFF, es.RESTORE, es.RESTART):
            self.assertTrue(emu.command(data).body.endswith(b"HJ5_Ret(0)"))
        self.assertEqual(wait_for_answer(emu), b"HJ5_Ret(-1)")

        with open(emu.www("new.xml"), "rb") as stored:
            self.assertEqual(stored.read(), firmware)
        state = emu.state()
        self.assertEqual(state["boot_count"], 3)
        self.assertEqual(state["params"]["svr_ftp_port"], "0")
        self.assertEqual(state["params"]["user9"], "HJ5M")
        self.assertFalse(state["ftp_running"])
        self.assertTrue(es.refused(emu.ftp_port))
        bodies = [b.encode("latin-1") for b in emu.get("/records/bodies")]
        self.assertEqual(bodies[:4], [es.QUERY, es.FTP_ON, es.MARK,
                                      es.RESTART])
        self.assertEqual(bodies[-4:], [es.FTP_OFF, es.RESTORE, es.RESTART,
                                       es.PROBE])


if __name__ == "__main__":
    unittest.main()

"""FTP side: the device path, byte-identical uploads, FTP faults."""

import ftplib
import io
import os
import random
import subprocess
import tempfile
import time
import unittest
import urllib.parse

import emu_support as es


def firmware_bytes(size, seed=5):
    """Bytes that a text-mode transfer would damage: CR, LF, NUL, 0xFF."""
    rng = random.Random(seed)
    data = bytearray(rng.getrandbits(8) for _ in range(size))
    data[:8] = b"\r\n\n\r\x00\xff\x1a\r"
    return bytes(data)


class FtpTest(es.SharedEmulatorTest):
    EMULATOR_ARGS = ("--ftp-on",)

    def setUp(self):
        super().setUp()
        for name in os.listdir(os.path.join(self.emu.root, "www")):
            os.remove(os.path.join(self.emu.root, "www", name))

    def test_device_path_is_stored_under_www(self):
        data = firmware_bytes(70000)
        self.emu.upload("C:\\www\\a.xml", data)
        with open(self.emu.www("a.xml"), "rb") as stored:
            self.assertEqual(stored.read(), data)
        events = [e for e in self.emu.records()["events"]
                  if e["event"] == "ftp_stored"]
        self.assertEqual(events[0]["name"], "a.xml")
        self.assertEqual(events[0]["size"], len(data))

    def test_every_other_path_is_refused_with_550(self):
        paths = ["a.xml", "/www/a.xml", "C:/www/a.xml", "c:\\www\\a.xml",
                 "C:\\www\\", "C:\\www\\..", "C:\\www\\sub\\a.xml",
                 "C:\\www\\sub/a.xml", "D:\\www\\a.xml", "C:\\wwwa.xml"]
        for path in paths:
            with self.subTest(path=path):
                with self.assertRaisesRegex(ftplib.error_perm, "^550"):
                    self.emu.upload(path, b"<?xml?>")
        client = self.emu.ftp()
        try:
            with self.assertRaisesRegex(ftplib.error_perm, "^550"):
                client.storbinary("STOU", io.BytesIO(b"x"))
        finally:
            client.close()
        self.assertEqual(os.listdir(os.path.join(self.emu.root, "www")), [])

    def test_names_keep_their_bytes(self):
        self.emu.upload("C:\\www\\Firm \u00e9 v1.XML", b"<?xml?>")
        names = os.listdir(os.path.join(self.emu.root, "www").encode())
        self.assertEqual(names, ["Firm \u00e9 v1.XML".encode()])

    def test_curl_uploads_byte_identical_with_the_device_path(self):
        data = firmware_bytes(300000, seed=7)
        with tempfile.NamedTemporaryFile(suffix=".xml") as local:
            local.write(data)
            local.flush()
            url = "ftp://127.0.0.1:%d/%s" % (
                self.emu.ftp_port, urllib.parse.quote("C:\\www\\fw 1.xml",
                                                      safe=""))
            result = subprocess.run(
                ["curl", "-sS", "--max-time", "20", "--ftp-method", "nocwd",
                 "-u", "%s:%s" % (es.ID, es.PW), "-T", local.name, url],
                capture_output=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.emu.www("fw 1.xml"), "rb") as stored:
            self.assertEqual(stored.read(), data)
        lines = self.emu.get("/records/ftp")
        self.assertIn("PASS " + es.PW, lines)
        self.assertIn("TYPE I", lines)
        self.assertIn("STOR C:\\www\\fw 1.xml", lines)

    def test_wrong_password_is_refused_at_once(self):
        start = time.monotonic()
        with self.assertRaisesRegex(ftplib.error_perm, "^530"):
            self.emu.ftp(password="wrong")
        self.assertLess(time.monotonic() - start, 2.0)

    def test_commands_are_recorded_per_session_with_passwords(self):
        self.emu.ftp().quit()
        records = self.emu.records()["ftp"]
        self.assertEqual([r["line"] for r in records],
                         ["USER admin", "PASS hj5pass", "QUIT"])
        self.assertEqual(len({r["session"] for r in records}), 1)

    # --- faults ------------------------------------------------------------

    def test_login_refused(self):
        self.emu.add_fault({"ftp": "login_refused", "times": 1})
        with self.assertRaisesRegex(ftplib.error_perm, "^530"):
            self.emu.ftp()
        self.emu.ftp().quit()

    def test_stor_answered_550_or_552(self):
        for name, code in (("stor_550", "^550"), ("stor_552", "^552")):
            with self.subTest(fault=name):
                self.emu.add_fault({"ftp": name, "times": 1})
                with self.assertRaisesRegex(ftplib.Error, code):
                    self.emu.upload("C:\\www\\a.xml", b"<?xml?>")
                self.assertFalse(os.path.exists(self.emu.www("a.xml")))

    def test_final_reply_451_discards_the_file(self):
        self.emu.add_fault({"ftp": "final_451"})
        with self.assertRaisesRegex(ftplib.error_temp, "^451"):
            self.emu.upload("C:\\www\\a.xml", firmware_bytes(5000))
        self.assertTrue(self.emu.wait_until(
            lambda: not os.path.exists(self.emu.www("a.xml"))))

    def test_connection_dropped_mid_upload(self):
        self.emu.add_fault({"ftp": "drop_mid_upload", "after_bytes": 1000})
        data = firmware_bytes(2 * 1024 * 1024)
        with self.assertRaises((OSError, EOFError, ftplib.Error)):
            self.emu.upload("C:\\www\\a.xml", data)
        self.assertLess(os.path.getsize(self.emu.www("a.xml")), len(data))
        events = [e["event"] for e in self.emu.records()["events"]]
        self.assertIn("ftp_dropped", events)

    def test_not_started_while_the_fault_is_set(self):
        self.emu.add_fault({"ftp": "not_started"})
        self.assertTrue(es.refused(self.emu.ftp_port))
        self.assertFalse(self.emu.state()["ftp_running"])
        self.emu.control("DELETE", "/faults")
        self.emu.ftp().quit()


if __name__ == "__main__":
    unittest.main()

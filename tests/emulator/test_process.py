"""The emulator as a process: side by side, exit, record file, root folder."""

import json
import os
import signal
import socket
import subprocess
import tempfile
import time
import unittest

import emu_support as es


class ProcessTest(unittest.TestCase):
    def test_two_emulators_side_by_side(self):
        first, second = es.Emulator(), es.Emulator()
        try:
            ports = {first.http_port, first.ftp_port, first.control_port,
                     second.http_port, second.ftp_port, second.control_port}
            self.assertEqual(len(ports), 6)
            self.assertNotEqual(first.root, second.root)
            first.command(es.MARK)
            self.assertIn(b"user9=UPDATE", first.command(es.QUERY).body)
            self.assertIn(b"user9=HJ5M", second.command(es.QUERY).body)
            self.assertEqual(len(second.records()["http"]), 1)
        finally:
            first.stop()
            second.stop()

    def busy_emulator(self):
        """An emulator with a dripping, a blackholed and an FTP connection."""
        emu = es.Emulator("--ftp-on", "--fault",
                          '{"probe": true, "drip_ms": 1000}', "--fault",
                          '{"match": {"MODE": "1"}, "blackhole": true}')
        socks = [es.connect(emu.http_port), es.connect(emu.http_port)]
        socks[0].sendall(es.tool_request(es.PROBE))
        socks[1].sendall(es.tool_request(es.MODE_ONE))
        ftp = emu.ftp()
        self.assertEqual(socks[0].recv(1), b"H")
        return emu, socks, ftp

    def check_quick_clean_exit(self, sig):
        emu, socks, ftp = self.busy_emulator()
        try:
            start = time.monotonic()
            emu.proc.send_signal(sig)
            self.assertEqual(emu.proc.wait(5), 0)
            self.assertLess(time.monotonic() - start, 2.0)
            self.assertFalse(os.path.exists(emu.root))
            self.assertTrue(es.refused(emu.http_port))
            self.assertTrue(es.refused(emu.control_port))
        finally:
            for sock in socks:
                sock.close()
            ftp.close()
            emu.stop()

    def test_sigterm_ends_it_quickly_and_cleanly(self):
        self.check_quick_clean_exit(signal.SIGTERM)

    def test_sigint_ends_it_quickly_and_cleanly(self):
        self.check_quick_clean_exit(signal.SIGINT)

    def test_end_of_stdin_ends_it_when_asked(self):
        emu = es.Emulator()
        try:
            emu.proc.stdin.close()
            self.assertEqual(emu.proc.wait(5), 0)
        finally:
            emu.stop()

    def test_record_file_holds_one_json_object_a_line(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "rec.jsonl")
            emu = es.Emulator("--ftp-on", "--record", path)
            try:
                emu.command(es.QUERY)
                emu.upload("C:\\www\\a.xml", b"<?xml?>")
            finally:
                emu.stop()
            with open(path, encoding="utf-8") as lines:
                records = [json.loads(line) for line in lines]
        kinds = {r["kind"] for r in records}
        self.assertEqual(kinds, {"http", "ftp", "event"})
        http = [r for r in records if r["kind"] == "http"]
        self.assertEqual(http[0]["body"], es.QUERY.decode())
        self.assertIn("STOR C:\\www\\a.xml",
                      [r["line"] for r in records if r["kind"] == "ftp"])
        self.assertTrue(all(isinstance(r["t"], float) for r in records))

    def test_a_given_root_is_used_and_kept(self):
        with tempfile.TemporaryDirectory() as tmp:
            emu = es.Emulator("--ftp-on", "--root", tmp)
            try:
                self.assertEqual(emu.root, tmp)
                emu.upload("C:\\www\\a.xml", b"<?xml?>")
            finally:
                emu.stop()
            with open(os.path.join(tmp, "www", "a.xml"), "rb") as stored:
                self.assertEqual(stored.read(), b"<?xml?>")

    def test_a_port_in_use_is_reported(self):
        with socket.socket() as holder:
            holder.bind(("127.0.0.1", 0))
            holder.listen(1)
            port = holder.getsockname()[1]
            with tempfile.TemporaryDirectory() as tmp:
                result = subprocess.run(
                    [es.PYTHON, es.EMULATOR, "--http-port", str(port)],
                    capture_output=True, text=True, timeout=10,
                    env=dict(os.environ, TMPDIR=tmp))
                self.assertEqual(os.listdir(tmp), [])
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot start", result.stderr)
        self.assertEqual(result.stdout, "")

    def test_version_is_the_builds(self):
        top = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                           os.pardir, os.pardir)
        with open(os.path.join(top, "VERSION"), encoding="ascii") as source:
            expected = source.readline().strip()
        result = subprocess.run([es.PYTHON, es.EMULATOR, "--version"],
                                capture_output=True, text=True, timeout=10)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, "hj5-emulator %s\n" % expected)
        self.assertEqual(result.stderr, "")


if __name__ == "__main__":
    unittest.main()

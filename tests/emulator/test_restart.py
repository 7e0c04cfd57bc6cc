"""Restarts: the down window, the FTP server after a boot, stuck devices."""

import ftplib
import socket
import time
import unittest

import emu_support as es

REBOOT = 0.4


def probe_answered(emu):
    try:
        return emu.command(es.PROBE, timeout=1.0).body == b"HJ5_Ret(-1)"
    except OSError:
        return False


def ftp_accepts_login(emu):
    try:
        emu.ftp().quit()
        return True
    except (OSError, ftplib.Error):
        return False


class InstantRebootTest(unittest.TestCase):
    """A reboot of 0 s boots while the restart's reply is still being sent:
    the boot must spare the connection that carries it."""

    def setUp(self):
        self.emu = es.Emulator("--reboot-seconds", "0")

    def tearDown(self):
        self.emu.stop()

    def test_every_restart_gets_its_reply(self):
        for attempt in range(40):
            self.assertTrue(self.emu.wait_up(), attempt)
            with es.connect(self.emu.http_port) as sock:
                sock.sendall(es.tool_request(es.RESTART))
                data, _ = es.read_until_close(sock)
            self.assertTrue(data.endswith(b"HJ5_Ret(0)"), (attempt, data))


class RefuseWhileDownTest(unittest.TestCase):
    def setUp(self):
        self.emu = es.Emulator("--reboot-seconds", str(REBOOT))

    def tearDown(self):
        self.emu.stop()

    def test_restart_replies_then_refuses_until_the_boot(self):
        start = time.monotonic()
        with es.connect(self.emu.http_port) as sock:
            sock.sendall(es.tool_request(es.RESTART))
            data, _ = es.read_until_close(sock)
        self.assertTrue(data.endswith(b"HJ5_Ret(0)"))
        self.assertTrue(es.refused(self.emu.http_port))
        self.assertFalse(self.emu.state()["up"])
        self.assertTrue(self.emu.wait_until(lambda: probe_answered(self.emu)))
        self.assertGreaterEqual(time.monotonic() - start, REBOOT * 0.9)
        state = self.emu.state()
        self.assertEqual((state["boot_count"], state["restart_count"]), (2, 1))

    def test_settings_persist_across_a_restart(self):
        self.emu.command(es.MARK)
        self.emu.command(es.RESTART)
        self.assertTrue(self.emu.wait_up())
        self.assertIn(b"user9=UPDATE\r\n", self.emu.command(es.QUERY).body)

    def test_open_connections_are_dropped_by_a_restart(self):
        with es.connect(self.emu.http_port) as idle:
            idle.sendall(es.tool_request(es.QUERY))
            es.read_reply(idle)
            self.emu.command(es.RESTART)
            data, _ = es.read_until_close(idle, timeout=2)
            self.assertEqual(data, b"")

    def test_ftp_starts_only_after_the_next_boot_and_stops_likewise(self):
        ftp = self.emu.ftp_port
        self.emu.command(es.FTP_ON)
        self.assertTrue(es.refused(ftp))
        self.emu.command(es.RESTART)
        self.assertTrue(es.refused(ftp))
        self.assertTrue(self.emu.wait_up())
        self.assertTrue(ftp_accepts_login(self.emu))
        self.emu.command(es.FTP_OFF)
        self.assertTrue(ftp_accepts_login(self.emu))
        self.emu.command(es.RESTART)
        self.assertTrue(es.refused(ftp))
        self.assertTrue(self.emu.wait_up())
        self.assertTrue(es.refused(ftp))
        events = [e["event"] for e in self.emu.records()["events"]]
        self.assertEqual(events, ["down", "boot", "ftp_up", "down",
                                  "ftp_down", "boot"])

    def test_a_device_that_never_comes_back_can_be_restarted_by_control(self):
        self.emu.add_fault({"never_back_after_restart": 2})
        self.emu.command(es.RESTART)
        self.assertTrue(self.emu.wait_up())
        self.emu.command(es.RESTART)
        time.sleep(REBOOT * 3)
        self.assertTrue(es.refused(self.emu.http_port))
        self.assertTrue(self.emu.state()["stuck"])
        self.assertEqual(self.emu.control("POST", "/restart")[0], 200)
        self.assertTrue(self.emu.wait_up())
        self.assertEqual(self.emu.state()["boot_count"], 3)


class BlackholeWhileDownTest(unittest.TestCase):
    def test_accepts_and_never_answers_until_the_boot(self):
        emu = es.Emulator("--reboot-seconds", "0.8", "--down", "blackhole")
        try:
            emu.command(es.RESTART)
            with es.connect(emu.http_port) as sock:
                sock.sendall(es.tool_request(es.PROBE))
                sock.settimeout(0.3)
                with self.assertRaises(socket.timeout):
                    sock.recv(100)
                data, _ = es.read_until_close(sock, timeout=3)
                self.assertEqual(data, b"")
            self.assertTrue(emu.wait_up())
            self.assertEqual(emu.command(es.PROBE).body, b"HJ5_Ret(-1)")
            http = emu.records()["http"]
            self.assertEqual([r["down"] for r in http], [False, True, False])
        finally:
            emu.stop()


class FtpOnTest(unittest.TestCase):
    def test_ftp_on_starts_with_the_server_running(self):
        emu = es.Emulator("--ftp-on")
        try:
            self.assertEqual(emu.param("svr_ftp_port"), "21")
            self.assertTrue(ftp_accepts_login(emu))
            self.assertTrue(emu.state()["ftp_running"])
        finally:
            emu.stop()


if __name__ == "__main__":
    unittest.main()

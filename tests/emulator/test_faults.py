"""HTTP reply faults, their selectors, and the control endpoint's checks."""

import socket
import time
import unittest

import emu_support as es


class FaultsTest(es.SharedEmulatorTest):
    def setUp(self):
        super().setUp()
        self.emu.set_param("svr_ftp_port", "0")

    def exchange_until_close(self, data, timeout=5.0):
        with es.connect(self.emu.http_port) as sock:
            sock.sendall(es.tool_request(data))
            return es.read_until_close(sock, timeout)

    # --- selectors ---------------------------------------------------------

    def test_match_tells_the_four_settings_apart(self):
        self.emu.add_fault({"match": {"MODE": "2", "CODE": "svr_ftp_port",
                                      "DATA": "0"}, "code": -3})
        self.emu.add_fault({"match": {"CODE": "user9", "DATA": "HJ5M"},
                            "code": -5})
        self.assertEqual(self.emu.command(es.FTP_ON).body,
                         b"svr_ftp_port=21\r\nHJ5_Ret(0)")
        self.assertEqual(self.emu.command(es.MARK).body,
                         b"user9=UPDATE\r\nHJ5_Ret(0)")
        self.assertEqual(self.emu.command(es.FTP_OFF).body, b"HJ5_Ret(-3)")
        self.assertEqual(self.emu.command(es.RESTORE).body, b"HJ5_Ret(-5)")
        self.assertEqual(self.emu.param("svr_ftp_port"), "21")
        self.assertEqual(self.emu.param("user9"), "UPDATE")

    def test_a_code_fault_can_still_carry_the_command_out(self):
        self.emu.add_fault({"match": {"CODE": "user9"}, "code": -5,
                            "execute": True})
        self.assertEqual(self.emu.command(es.MARK).body,
                         b"user9=UPDATE\r\nHJ5_Ret(-5)")
        self.assertEqual(self.emu.param("user9"), "UPDATE")

    def test_a_code_fault_on_the_query_still_lists_the_parameters(self):
        self.emu.add_fault({"match": {"MODE": "4"}, "code": -5})
        reply = self.emu.command(es.QUERY)
        self.assertIn(b"user9=HJ5M\r\n", reply.body)
        self.assertTrue(reply.body.endswith(b"HJ5_Ret(-5)"))

    def test_without_execute_the_login_is_still_checked(self):
        self.emu.add_fault({"execute": False, "close": True})
        self.assertEqual(self.emu.command(es.PROBE).body, b"HJ5_Ret(-1)")
        self.assertEqual(self.emu.command(es.body("4", password="x")).body,
                         b"HJ5_Ret(-3)")
        self.assertEqual(self.emu.command(es.MARK).body, b"HJ5_Ret(0)")
        self.assertEqual(self.emu.param("user9"), "HJ5M")

    def test_times_spends_a_fault(self):
        self.emu.add_fault({"match": {"MODE": "1"}, "code": -4, "times": 2})
        bodies = [self.emu.command(es.MODE_ONE).body for _ in range(3)]
        self.assertEqual(bodies, [b"HJ5_Ret(-4)", b"HJ5_Ret(-4)",
                                  b"HJ5_Ret(0)"])
        self.assertEqual(self.emu.get("/faults"), [])

    def test_nth_counts_requests_since_the_records_were_cleared(self):
        self.emu.add_fault({"nth": 3, "code": -7})
        bodies = [self.emu.command(es.PROBE).body for _ in range(4)]
        self.assertEqual(bodies, [b"HJ5_Ret(-1)", b"HJ5_Ret(-1)",
                                  b"HJ5_Ret(-7)", b"HJ5_Ret(-1)"])

    def test_probe_selector_aims_at_bodies_without_fields(self):
        self.emu.add_fault({"probe": True, "code": 3})
        self.assertEqual(self.emu.command(es.PROBE).body, b"HJ5_Ret(3)")
        self.assertEqual(self.emu.command(es.MODE_ONE).body, b"HJ5_Ret(0)")

    def test_the_first_matching_fault_wins(self):
        self.emu.add_fault({"match": {"MODE": "1"}, "code": -2, "times": 1})
        self.emu.add_fault({"code": -4})
        self.assertEqual(self.emu.command(es.MODE_ONE).body, b"HJ5_Ret(-2)")
        self.assertEqual(self.emu.command(es.MODE_ONE).body, b"HJ5_Ret(-4)")

    # --- reply kinds -------------------------------------------------------

    def test_delay_holds_the_reply_back(self):
        self.emu.add_fault({"match": {"MODE": "1"}, "delay_ms": 300})
        start = time.monotonic()
        reply = self.emu.command(es.MODE_ONE)
        self.assertGreaterEqual(time.monotonic() - start, 0.28)
        self.assertEqual(reply.body, b"HJ5_Ret(0)")

    def test_drip_sends_the_same_reply_byte_by_byte(self):
        plain = self.emu.command(es.PROBE).raw
        self.emu.add_fault({"probe": True, "drip_ms": 10})
        start = time.monotonic()
        with es.connect(self.emu.http_port) as sock:
            sock.sendall(es.tool_request(es.PROBE))
            first = sock.recv(1000)
            rest = b""
            while len(first + rest) < len(plain):
                chunk = sock.recv(1000)
                if not chunk:
                    break
                rest += chunk
        self.assertEqual(len(first), 1)
        self.assertEqual(first + rest, plain)
        self.assertGreaterEqual(time.monotonic() - start,
                                (len(plain) - 1) * 0.010 * 0.8)

    def test_truncate_sends_the_first_bytes_then_closes(self):
        self.emu.add_fault({"probe": True, "truncate": 10})
        data, reset = self.exchange_until_close(es.PROBE)
        self.assertEqual(data, b"HTTP/1.1 2")
        self.assertFalse(reset)

    def test_oversize_body_carries_the_token_at_its_end(self):
        self.emu.add_fault({"match": {"MODE": "4"}, "oversize": True})
        reply = self.emu.command(es.QUERY)
        self.assertGreaterEqual(len(reply.body), 20 * 1024)
        self.assertTrue(reply.body.endswith(b"HJ5_Ret(0)"))
        self.assertGreater(reply.raw.find(b"HJ5_Ret"), 1000)
        self.assertIn(b"user9=HJ5M", reply.body)

    def test_garbage_has_no_token(self):
        self.emu.add_fault({"garbage": True})
        reply = self.emu.command(es.QUERY)
        self.assertGreater(len(reply.body), 0)
        self.assertNotIn(b"HJ5_Ret", reply.raw)

    def test_token_not_at_end(self):
        self.emu.add_fault({"probe": True, "token_not_at_end": True,
                            "times": 1})
        self.emu.add_fault({"probe": True, "token_not_at_end": "\r\n"})
        self.assertEqual(self.emu.command(es.PROBE).body,
                         b"HJ5_Ret(-1)\r\nEND\r\n")
        self.assertEqual(self.emu.command(es.PROBE).body, b"HJ5_Ret(-1)\r\n")

    def test_body_is_sent_verbatim(self):
        self.emu.add_fault({"body": "HJ5_Ret(0) UPDATE \u00e9"})
        self.assertEqual(self.emu.command(es.QUERY).body,
                         b"HJ5_Ret(0) UPDATE \xe9")

    def test_reset_mid_reply(self):
        full = self.emu.command(es.QUERY).raw
        self.emu.add_fault({"match": {"MODE": "4"}, "reset": 20})
        data, reset = self.exchange_until_close(es.QUERY)
        self.assertTrue(reset)
        self.assertLess(len(data), len(full))
        self.assertTrue(full.startswith(data))

    def test_blackhole_never_answers_but_carries_the_command_out(self):
        self.emu.add_fault({"match": {"CODE": "user9"}, "blackhole": True})
        with es.connect(self.emu.http_port) as sock:
            sock.sendall(es.tool_request(es.MARK))
            sock.settimeout(0.5)
            with self.assertRaises(socket.timeout):
                sock.recv(100)
        self.assertEqual(self.emu.param("user9"), "UPDATE")

    def test_close_ends_a_kept_connection(self):
        self.emu.add_fault({"probe": True, "close": True})
        data, reset = self.exchange_until_close(es.PROBE)
        self.assertTrue(data.endswith(b"HJ5_Ret(-1)"))
        self.assertFalse(reset)

    def test_kinds_combine(self):
        self.emu.add_fault({"match": {"MODE": "4"}, "code": -5,
                            "delay_ms": 200, "token_not_at_end": True})
        start = time.monotonic()
        reply = self.emu.command(es.QUERY)
        self.assertGreaterEqual(time.monotonic() - start, 0.18)
        self.assertTrue(reply.body.endswith(b"HJ5_Ret(-5)\r\nEND\r\n"))

    def test_a_slow_connection_does_not_hold_up_the_others(self):
        self.emu.add_fault({"probe": True, "drip_ms": 1000})
        with es.connect(self.emu.http_port) as slow:
            slow.sendall(es.tool_request(es.PROBE))
            start = time.monotonic()
            self.assertEqual(self.emu.command(es.MODE_ONE).body,
                             b"HJ5_Ret(0)")
            self.assertTrue(self.emu.state()["up"])
            self.assertLess(time.monotonic() - start, 0.9)

    def test_faults_are_recorded_with_the_request(self):
        self.emu.add_fault({"probe": True, "code": 2})
        self.emu.command(es.PROBE)
        record = self.emu.records()["http"][0]
        self.assertEqual(record["reply_code"], 2)
        self.assertEqual(record["fault"], {"probe": True, "code": 2})

    # --- control checks ----------------------------------------------------

    def test_faults_that_cannot_be_used_are_refused(self):
        bad = [
            {"cod": -3},
            {"code": -3, "ftp": "stor_550"},
            {"nth": 0, "code": 1},
            {"ftp": "stor_999"},
            {"ftp": "stor_550", "match": {"MODE": "1"}},
            {"match": {"MOOD": "1"}, "code": 1},
            {"code": "-3"},
            {"never_back_after_restart": 0},
            [{"code": 1}, {"bogus": 1}],
            "text",
        ]
        for desc in bad:
            with self.subTest(desc=desc):
                status, obj = self.emu.control("POST", "/faults", desc)
                self.assertEqual(status, 400)
                self.assertIn("error", obj)
        self.assertEqual(self.emu.get("/faults"), [])
        self.assertEqual(self.emu.control("POST", "/faults", "{")[0], 400)


class StartFaultsTest(unittest.TestCase):
    def test_faults_given_at_start(self):
        emu = es.Emulator("--fault", '{"match": {"MODE": "4"}, "code": -4}',
                          "--fault", '{"probe": true, "code": 9}')
        try:
            self.assertTrue(emu.command(es.QUERY).body.endswith(
                b"HJ5_Ret(-4)"))
            self.assertEqual(emu.command(es.PROBE).body, b"HJ5_Ret(9)")
        finally:
            emu.stop()


if __name__ == "__main__":
    unittest.main()

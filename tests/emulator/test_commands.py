"""Commands of the HTTP side: answers, parsing, connection handling."""

import socket
import subprocess
import unittest

import emu_support as es


class CommandsTest(es.SharedEmulatorTest):
    def test_query_lists_parameters_with_the_token_last(self):
        reply = self.emu.command(es.QUERY)
        self.assertEqual(reply.status, "HTTP/1.1 200 OK")
        self.assertEqual(reply.headers["content-type"], "text/plain")
        self.assertEqual(int(reply.headers["content-length"]), len(reply.body))
        self.assertIn(b"model=HJ-5\r\n", reply.body)
        self.assertIn(b"svr_ftp_port=0\r\n", reply.body)
        self.assertIn(b"user9=HJ5M\r\n", reply.body)
        self.assertTrue(reply.body.endswith(b"\r\nHJ5_Ret(0)"))
        self.assertLess(reply.raw.find(b"HJ5_Ret"), 1000)

    def test_neither_device_code_nor_update_appears_in_the_head(self):
        self.emu.set_param("user9", "nothing")
        reply = self.emu.command(es.QUERY)
        self.assertNotIn(b"HJ5M", reply.raw)
        self.assertNotIn(b"UPDATE", reply.raw)

    def test_set_changes_the_parameter_shown_by_query(self):
        self.assertTrue(self.emu.command(es.MARK).body.endswith(b"HJ5_Ret(0)"))
        self.assertIn(b"user9=UPDATE\r\n", self.emu.command(es.QUERY).body)
        self.assertEqual(self.emu.param("user9"), "UPDATE")

    def test_unknown_parameter_is_refused_with_minus_5(self):
        reply = self.emu.command(es.body("2", "21", "nope", "1"))
        self.assertEqual(reply.body, b"HJ5_Ret(-5)")
        self.assertEqual(self.emu.control("GET", "/params/nope")[0], 404)

    def test_result_codes_of_the_other_commands(self):
        cases = [
            (es.MODE_ONE, b"HJ5_Ret(0)"),
            (es.PROBE, b"HJ5_Ret(-1)"),
            (b"", b"HJ5_Ret(-1)"),
            (es.body("4", login="root"), b"HJ5_Ret(-2)"),
            (es.body("4", password="x"), b"HJ5_Ret(-3)"),
            (es.body("9", "1"), b"HJ5_Ret(-6)"),
        ]
        for data, token in cases:
            with self.subTest(data=data):
                self.assertTrue(self.emu.command(data).body.endswith(token))

    def test_values_are_taken_as_bytes_without_decoding(self):
        value = b"%41+\xe9\xff"
        self.emu.command(es.body("2", "21", "user9", "").replace(
            b"DATA=", b"DATA=" + value))
        self.assertEqual(self.emu.param("user9"), value.decode("latin-1"))
        self.assertIn(b"user9=" + value + b"\r\n",
                      self.emu.command(es.QUERY).body)

    def test_an_ampersand_in_the_id_cuts_it(self):
        reply = self.emu.command(es.body("4", login="adm&in"))
        self.assertEqual(reply.body, b"HJ5_Ret(-2)")
        fields = self.emu.records()["http"][-1]["fields"]
        self.assertEqual(fields["ID"], "adm")
        self.assertEqual(fields["PW"], es.PW)

    def test_keeps_the_connection_for_further_requests(self):
        with es.connect(self.emu.http_port) as sock:
            for data in (es.QUERY, es.MODE_ONE, es.PROBE):
                sock.sendall(es.tool_request(data))
                reply = es.read_reply(sock)
                self.assertEqual(reply.headers["connection"], "Keep-Alive")
        conns = {r["conn"] for r in self.emu.records()["http"]}
        self.assertEqual(len(conns), 1)

    def test_requests_sent_in_one_go_are_answered_in_order(self):
        with es.connect(self.emu.http_port) as sock:
            sock.sendall(es.tool_request(es.PROBE) + es.tool_request(es.QUERY))
            data = b""
            while not data.endswith(b"HJ5_Ret(0)"):
                chunk = sock.recv(65536)
                self.assertTrue(chunk, data)
                data += chunk
        first, second = data.split(b"HTTP/1.1 200 OK")[1:]
        self.assertTrue(first.endswith(b"\r\n\r\nHJ5_Ret(-1)"))
        self.assertIn(b"user9=HJ5M", second)

    def test_a_body_sent_in_pieces_is_read_by_its_length(self):
        request = es.tool_request(es.QUERY)
        with es.connect(self.emu.http_port) as sock:
            sock.sendall(request[:30])
            sock.sendall(request[30:-5])
            sock.sendall(request[-5:])
            self.assertTrue(es.read_reply(sock).body.endswith(b"HJ5_Ret(0)"))
        self.assertEqual(self.emu.records()["http"][0]["raw"],
                         request.decode("latin-1"))

    def test_well_formed_requests_are_accepted_too(self):
        request = (b"POST /system.wcr HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                   b"Content-Type: application/x-www-form-urlencoded\r\n"
                   b"Content-Length: %d\r\nConnection: close\r\n\r\n%s" %
                   (len(es.QUERY), es.QUERY))
        with es.connect(self.emu.http_port) as sock:
            sock.sendall(request)
            data, _ = es.read_until_close(sock)
        self.assertTrue(data.endswith(b"HJ5_Ret(0)"))
        self.assertIn(b"Connection: close", data)

    def test_other_paths_get_404_without_a_token(self):
        with es.connect(self.emu.http_port) as sock:
            sock.sendall(b"GET /index.html HTTP/1.1\r\n\r\n")
            reply = es.read_reply(sock)
        self.assertTrue(reply.status.startswith("HTTP/1.1 404"))
        self.assertNotIn(b"HJ5_Ret", reply.raw)

    def test_a_broken_request_line_gets_400_and_a_close(self):
        with es.connect(self.emu.http_port) as sock:
            sock.sendall(b"NONSENSE\r\n\r\n")
            data, _ = es.read_until_close(sock)
        self.assertTrue(data.startswith(b"HTTP/1.1 400"))

    def test_records_carry_raw_bytes_and_monotonic_times(self):
        self.emu.command(es.QUERY)
        self.emu.command(es.PROBE)
        http = self.emu.records()["http"]
        self.assertEqual([r["seq"] for r in http], [1, 2])
        self.assertEqual(http[0]["raw"],
                         es.tool_request(es.QUERY).decode("latin-1"))
        self.assertEqual(http[1]["body"], "\r\n")
        self.assertEqual(http[0]["reply_code"], 0)
        self.assertLessEqual(http[0]["t"], http[1]["t"])
        self.assertEqual(self.emu.get("/records/bodies"),
                         [es.QUERY.decode(), "\r\n"])


class ConnectionOptionsTest(unittest.TestCase):
    def test_close_option_closes_after_each_reply(self):
        emu = es.Emulator("--close")
        try:
            with es.connect(emu.http_port) as sock:
                sock.sendall(es.tool_request(es.QUERY))
                data, _ = es.read_until_close(sock)
            self.assertIn(b"Connection: close\r\n", data)
            self.assertTrue(data.endswith(b"HJ5_Ret(0)"))
        finally:
            emu.stop()

    def test_no_length_option_keeps_open_without_content_length(self):
        emu = es.Emulator("--no-length")
        try:
            with es.connect(emu.http_port) as sock:
                for data, token in ((es.PROBE, b"HJ5_Ret(-1)"),
                                    (es.QUERY, b"HJ5_Ret(0)")):
                    sock.sendall(es.tool_request(data))
                    reply = b""
                    while not reply.endswith(token):
                        chunk = sock.recv(65536)
                        self.assertTrue(chunk, reply)
                        reply += chunk
                    self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK\r\n"))
                    self.assertNotIn(b"content-length", reply.lower())
                    sock.settimeout(0.3)
                    with self.assertRaises(socket.timeout):
                        sock.recv(1)
        finally:
            emu.stop()

    def test_credentials_and_parameters_from_the_command_line(self):
        emu = es.Emulator("--id", "op", "--pw", "secret", "--param",
                          "user9=UPDATE", "--param", "extra=a=b")
        try:
            good = es.body("4", login="op", password="secret")
            reply = emu.command(good)
            self.assertIn(b"user9=UPDATE\r\n", reply.body)
            self.assertIn(b"extra=a=b\r\n", reply.body)
            self.assertEqual(emu.command(es.QUERY).body, b"HJ5_Ret(-2)")
        finally:
            emu.stop()

    def test_help_documents_every_option_and_fault(self):
        out = subprocess.run([es.PYTHON, es.EMULATOR, "--help"],
                             capture_output=True, text=True, timeout=10).stdout
        for word in ("--http-port", "--ftp-port", "--control-port", "--root",
                     "--id", "--pw", "--reboot-seconds", "--down", "--close",
                     "--no-length", "--ftp-on", "--param", "--fault",
                     "--record", "admin", "hj5pass", "code", "delay_ms",
                     "drip_ms", "truncate", "oversize", "garbage",
                     "token_not_at_end", "reset", "blackhole", "nth", "times",
                     "never_back_after_restart", "login_refused", "stor_550",
                     "stor_552", "final_451", "drop_mid_upload",
                     "not_started"):
            self.assertIn(word, out)


if __name__ == "__main__":
    unittest.main()

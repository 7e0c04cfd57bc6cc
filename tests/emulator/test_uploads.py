"""Uploads: how they end and are counted, what a lying device stores, and a
device an unfinished update left behind."""

import ftplib
import io
import os
import socket
import struct
import time
import unittest

import emu_support as es

RATE = 64 * 1024


def upload_bytes(size):
    """Bytes that a text-mode transfer or a lost byte would change."""
    return (bytes(range(256)) * (size // 256 + 1))[:size]


def reset(conn):
    """Closes with a reset (RST), as a client that gives up does."""
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                    struct.pack("ii", 1, 0))
    conn.close()


class UploadEndingsTest(unittest.TestCase):
    def setUp(self):
        self.emu = es.Emulator("--ftp-on")
        self.addCleanup(self.emu.stop)

    def start_upload(self, name, data):
        client = self.emu.ftp()
        self.addCleanup(client.close)
        client.voidcmd("TYPE I")
        conn = client.transfercmd("STOR C:\\www\\" + name)
        self.addCleanup(conn.close)
        conn.sendall(data)
        return client, conn

    def wait_for_bytes(self, name):
        self.assertTrue(self.emu.wait_until(
            lambda: os.path.getsize(self.emu.www(name)) > 0))

    def test_only_an_upload_closed_in_order_is_stored_and_counts_stay_exact(
            self):
        self.emu.add_fault({"ftp": "slow_store", "bytes_per_second": RATE,
                            "times": 2})
        data = upload_bytes(RATE)
        started = time.monotonic()
        slow, slow_conn = self.start_upload("slow.xml", data)
        slow_conn.close()  # all sent; the server reads it in about 1 s
        held, held_conn = self.start_upload("held.xml", data)
        self.assertEqual(self.emu.get("/uploads")["open"], 2)
        reset(held_conn)  # most likely while its reading is paused
        with self.assertRaisesRegex(ftplib.error_temp, "^426"):
            held.voidresp()
        self.assertTrue(slow.voidresp().startswith("226"))
        self.assertGreaterEqual(time.monotonic() - started, 0.9)
        with open(self.emu.www("slow.xml"), "rb") as stored:
            self.assertEqual(stored.read(), data)

        big = upload_bytes(1024 * 1024)
        fast, fast_conn = self.start_upload("reset.xml", big)
        self.wait_for_bytes("reset.xml")
        reset(fast_conn)
        with self.assertRaisesRegex(ftplib.error_temp, "^426"):
            fast.voidresp()

        aborted, abort_conn = self.start_upload("abort.xml", big)
        self.wait_for_bytes("abort.xml")
        self.assertTrue(aborted.abort().startswith("426"))
        self.assertTrue(aborted.voidresp().startswith("226"))

        self.assertEqual(self.emu.get("/uploads"), {
            "open": 0, "max_open": 2, "started": 4, "stored": 1})
        events = self.emu.records()["events"]
        self.assertEqual([e["name"] for e in events
                          if e["event"] == "ftp_stored"], ["slow.xml"])
        incomplete = {e["name"]: e for e in events
                      if e["event"] == "ftp_incomplete"}
        self.assertEqual({n: e["reason"] for n, e in incomplete.items()},
                         {"held.xml": "reset", "reset.xml": "reset",
                          "abort.xml": "abort"})
        for name, event in incomplete.items():
            self.assertEqual(event["received"],
                             os.path.getsize(self.emu.www(name)), name)
        self.assertGreater(incomplete["reset.xml"]["received"], 0)
        state = self.emu.state()
        self.assertEqual((state["stored_uploads"],
                          state["incomplete_uploads"]), (1, 3))
        self.emu.control("DELETE", "/records")
        self.assertEqual(self.emu.get("/uploads"), {
            "open": 0, "max_open": 0, "started": 0, "stored": 0})


class LeftInUpdateTest(unittest.TestCase):
    def test_a_device_left_in_update_runs_ftp_that_may_store_wrong_bytes(
            self):
        left, plain = es.Emulator("--left-in-update"), es.Emulator()
        self.addCleanup(left.stop)
        self.addCleanup(plain.stop)
        listing = left.command(es.QUERY).body
        self.assertIn(b"user9=UPDATE\r\n", listing)
        self.assertIn(b"svr_ftp_port=21\r\n", listing)
        self.assertNotIn(b"HJ5M", listing)
        self.assertIn(b"user9=HJ5M\r\n", plain.command(es.QUERY).body)
        self.assertTrue(es.refused(plain.ftp_port))
        self.assertEqual(plain.control("POST", "/left-in-update")[1],
                         {"ok": True, "ftp_running": True})
        plain.ftp().quit()
        self.assertNotIn(b"HJ5M", plain.command(es.QUERY).body)
        self.assertEqual([d["left_in_update"] for d in
                          left.get("/devices") + plain.get("/devices")],
                         [True, True])

        data = upload_bytes(1000)
        left.add_fault({"ftp": "store_short", "drop_bytes": 3, "times": 1})
        left.add_fault({"ftp": "store_flip", "times": 1})
        client = left.ftp()
        self.addCleanup(client.close)
        got = {}
        for name in ("short.xml", "flip.xml", "fine.xml"):
            path = "C:\\www\\" + name
            self.assertTrue(client.storbinary(
                "STOR " + path, io.BytesIO(data)).startswith("226"))
            got[name] = (client.size(path), bytearray())
            client.retrbinary("RETR " + path, got[name][1].extend)
        flipped = bytearray(data)
        flipped[500] ^= 0xFF
        self.assertEqual(got, {"short.xml": (997, bytearray(data[:-3])),
                               "flip.xml": (1000, flipped),
                               "fine.xml": (1000, bytearray(data))})

        def features():
            return [line.strip() for line in
                    client.sendcmd("FEAT").splitlines()]

        self.assertIn("SIZE", features())
        left.add_fault({"ftp": "no_size"})
        with self.assertRaisesRegex(ftplib.error_perm, "^502"):
            client.sendcmd("SIZE C:\\www\\fine.xml")
        self.assertNotIn("SIZE", features())
        client.voidcmd("TYPE A")
        left.control("DELETE", "/faults")
        with self.assertRaisesRegex(ftplib.error_perm, "^550"):
            client.sendcmd("SIZE C:\\www\\fine.xml")


if __name__ == "__main__":
    unittest.main()

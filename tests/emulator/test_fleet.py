"""A fleet: many independent devices served by one emulator process."""

import json
import os
import socket
import subprocess
import tempfile
import unittest

import emu_support as es


class FleetTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def start(self, count, *args):
        emu = es.Emulator("--devices", str(count), "--devices-csv",
                          self.path("devices.csv"), *args, pass_ports=False)
        self.addCleanup(emu.stop)
        return emu

    def test_devices_keep_their_own_state(self):
        emu = self.start(3, "--reboot-seconds", "0.3", "--ftp-on",
                         "--record", self.path("rec.jsonl"),
                         "--usage", self.path("usage.json"))
        rows = es.read_csv(self.path("devices.csv"))
        self.assertEqual(rows[0], ["address", "http_port", "ftp_port"])
        devs = [emu.device(i) for i in range(3)]
        self.assertEqual([[r[0], int(r[1]), int(r[2])] for r in rows[1:]],
                         [["127.0.0.1", d.http_port, d.ftp_port]
                          for d in devs])
        devs[0].command(es.MARK)
        devs[2].add_fault({"match": {"MODE": "1"}, "code": -5})
        devs[1].command(es.RESTART)
        self.assertTrue(es.refused(devs[1].http_port))
        self.assertIn(b"user9=UPDATE", devs[0].command(es.QUERY).body)
        self.assertIn(b"user9=HJ5M", devs[2].command(es.QUERY).body)
        self.assertEqual(devs[0].command(es.MODE_ONE).body, b"HJ5_Ret(0)")
        self.assertEqual(devs[2].command(es.MODE_ONE).body, b"HJ5_Ret(-5)")
        devs[0].upload("C:\\www\\a.xml", b"zero")
        devs[2].upload("C:\\www\\a.xml", b"two")
        self.assertTrue(devs[1].wait_up())
        states = [d.state() for d in devs]
        self.assertEqual([s["boot_count"] for s in states], [1, 2, 1])
        self.assertEqual(len({s["params"]["serial"] for s in states}), 3)
        self.assertEqual(len({d.root for d in devs}), 3)
        for dev, data in ((devs[0], b"zero"), (devs[2], b"two")):
            with open(dev.www("a.xml"), "rb") as stored:
                self.assertEqual(stored.read(), data)
        self.assertFalse(os.path.exists(devs[1].www("a.xml")))
        self.assertEqual(devs[1].get("/records/ftp"), [])
        self.assertEqual(len(devs[1].get("/records/bodies")), 1)
        emu.stop()
        with open(self.path("rec.jsonl"), encoding="utf-8") as lines:
            owners = {json.loads(line)["device"] for line in lines}
        self.assertEqual(owners, {0, 1, 2})
        with open(self.path("usage.json"), encoding="utf-8") as text:
            self.assertGreater(json.load(text)["cpu_seconds"], 0)
        self.assertFalse(any(os.path.exists(d.root) for d in devs))

    def failing(self, seed):
        emu = self.start(20, "--fail-fraction", "0.25", "--fail-seed",
                         str(seed), "--fault-list", self.path("faults.csv"))
        rows = es.read_csv(self.path("faults.csv"))
        self.assertEqual(rows[0], ["address", "http_port", "ftp_port",
                                   "fault"])
        by_port = {int(r[1]): r[3] for r in rows[1:]}
        faulty = {}
        for index in range(20):
            dev = emu.device(index)
            if dev.get("/faults"):
                faulty[dev.http_port] = dev.get("/faults")
        emu.stop()
        return by_port, faulty

    def test_failures_go_to_the_listed_devices_only_and_repeat_by_seed(self):
        listed, faulty = self.failing(7)
        self.assertEqual(len(listed), 5)
        self.assertEqual(len(set(listed.values())), 5)  # assorted
        self.assertEqual(set(faulty), set(listed))
        self.assertTrue(all(len(f) == 1 for f in faulty.values()))
        again, _ = self.failing(7)
        self.assertEqual(list(again.values()), list(listed.values()))

    def test_an_unknown_device_is_not_found(self):
        emu = self.start(2)
        self.assertEqual(emu.control("GET", "/devices/2/state")[0], 404)
        self.assertEqual(len(emu.get("/devices")), 2)

    def test_a_taken_port_in_the_range_is_reported(self):
        with socket.socket() as holder:
            holder.bind(("127.0.0.1", 0))
            holder.listen(1)
            base = holder.getsockname()[1] - 2
            result = subprocess.run(
                [es.PYTHON, es.EMULATOR, "--devices", "2", "--base-port",
                 str(base)], capture_output=True, text=True, timeout=20,
                env=dict(os.environ, TMPDIR=self.tmp.name))
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot start", result.stderr)
        self.assertEqual(os.listdir(self.tmp.name), [])

    def test_a_thousand_devices_fit_in_one_process(self):
        emu = self.start(1000, "--reboot-seconds", "0.2", "--ftp-on")
        rows = es.read_csv(self.path("devices.csv"))[1:]
        self.assertEqual(len(rows), 1000)
        ports = {int(r[1]) for r in rows} | {int(r[2]) for r in rows}
        self.assertEqual(len(ports), 2000)
        for row in rows:
            with es.connect(int(row[1])) as sock:
                sock.sendall(es.tool_request(es.PROBE))
                self.assertEqual(es.read_reply(sock).body, b"HJ5_Ret(-1)")
        last = emu.device(999)
        last.ftp().quit()  # the FTP servers' connection limits stay apart
        last.command(es.RESTART)
        self.assertTrue(last.wait_up())
        self.assertEqual(emu.device(998).state()["boot_count"], 1)


if __name__ == "__main__":
    unittest.main()

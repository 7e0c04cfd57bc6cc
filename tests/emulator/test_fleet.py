"""A fleet: many independent devices served by one emulator process, or
split over several processes behind one control port."""

import json
import os
import socket
import subprocess
import tempfile
import time
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

    # 6 devices, at most 2 a process: 3 processes serve devices 0-1, 2-3
    # and 4-5.
    SPLIT = ("--devices-per-process", "2", "--fail-fraction", "0.5",
             "--fail-seed", "3", "--left-in-update-list", "1,4")

    def update(self, dev, data):
        """The tool's update of one device, its upload included."""
        for step in (es.QUERY, es.FTP_ON, es.MARK, es.RESTART):
            self.assertEqual(dev.command(step).body[-10:], b"HJ5_Ret(0)")
        self.assertTrue(dev.wait_up())
        dev.command(es.MODE_ONE)
        dev.upload("C:\\www\\a.xml", data)
        for step in (es.FTP_OFF, es.RESTORE, es.RESTART):
            self.assertEqual(dev.command(step).body[-10:], b"HJ5_Ret(0)")
        self.assertTrue(dev.wait_up())

    @staticmethod
    def marks(emu):
        """Each device's failure, faults and whether it is left in update."""
        return [[d["index"], d["fault"], d["left_in_update"],
                 emu.get("/devices/%d/faults" % d["index"])]
                for d in emu.get("/devices")]

    def test_a_fleet_split_over_processes_serves_every_device_as_one(self):
        emu = self.start(6, "--reboot-seconds", "0.2", "--record",
                         self.path("rec.jsonl"), "--usage",
                         self.path("usage.json"), *self.SPLIT)
        base = emu.http_port
        self.assertEqual(es.read_csv(self.path("devices.csv"))[1:], [
            ["127.0.0.1", str(base + 2 * i), str(base + 2 * i + 1)]
            for i in range(6)])
        pids = [p["pid"] for p in emu.get("/usage")["processes"]]
        self.assertEqual(len(set(pids)), 4)
        one = self.start(6, *self.SPLIT[2:])  # one process
        marks = self.marks(one)
        one.stop()
        self.assertEqual(self.marks(emu), marks)
        for i in (0, 3, 5):  # one device of each process
            dev = emu.device(i)
            self.assertEqual(dev.control("DELETE", "/faults")[0], 200)
            self.update(dev, b"device %d" % i)
            state = dev.state()
            ports = {"http": base + 2 * i, "ftp": base + 2 * i + 1,
                     "control": emu.control_port}
            self.assertEqual([state["index"], state["boot_count"],
                              state["ports"]], [i, 3, ports])
            with open(dev.www("a.xml"), "rb") as stored:
                self.assertEqual(stored.read(), b"device %d" % i)
        self.assertEqual(emu.get("/uploads"), {
            "open": 0, "max_open": 1, "started": 3, "stored": 3})
        # Two uploads open at once, in two processes.
        clients = [emu.device(i).ftp() for i in (1, 4)]
        data = [c.transfercmd("STOR C:\\www\\b.xml") for c in clients]
        self.assertEqual(emu.get("/uploads")["open"], 2)
        for sock, client in zip(data, clients):
            sock.close()
            client.voidresp()
            client.quit()
        self.assertEqual(emu.get("/uploads"), {
            "open": 0, "max_open": 2, "started": 5, "stored": 5})
        emu.device(4).control("DELETE", "/records")
        self.assertEqual(emu.get("/uploads"), {
            "open": 0, "max_open": 0, "started": 0, "stored": 0})
        usage = emu.get("/usage")
        for key in ("cpu_seconds", "max_rss_kib"):
            parts = [p[key] for p in usage["processes"]]
            self.assertTrue(all(part > 0 for part in parts))
            self.assertAlmostEqual(usage[key], sum(parts))
        emu.stop()
        self.assertTrue(all(gone(pid) for pid in pids))
        with open(self.path("usage.json"), encoding="utf-8") as text:
            final = json.load(text)
        self.assertEqual([p["pid"] for p in final["processes"]], pids)
        self.assertTrue(all(p["cpu_seconds"] > 0 and p["max_rss_kib"] > 0
                            for p in final["processes"]))
        with open(self.path("rec.jsonl"), encoding="utf-8") as lines:
            owners = {json.loads(line)["device"] for line in lines}
        self.assertEqual(owners, {0, 1, 3, 4, 5})
        self.assertFalse(os.path.exists(os.path.dirname(dev.root)))

    def test_the_processes_of_a_split_fleet_end_with_the_first(self):
        emu = self.start(3, "--devices-per-process", "1")
        pids = [p["pid"] for p in emu.get("/usage")["processes"]][1:]
        emu.proc.kill()
        emu.proc.wait()
        deadline = time.monotonic() + 5
        while not all(gone(pid) for pid in pids) and \
                time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertTrue(all(gone(pid) for pid in pids))


def gone(pid):
    """Whether the process has ended (a zombie has)."""
    try:
        with open("/proc/%d/stat" % pid, encoding="ascii") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


if __name__ == "__main__":
    unittest.main()

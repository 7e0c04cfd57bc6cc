#!/usr/bin/python3
"""The fleet emulator's own cost: start-up time, peak memory (VmHWM),
descriptors and threads for N devices (default 1,000), then one sweep in
which every device answers a query and stores a 4 KiB upload (CLIENTS at a
time, default 16; loopback only), with the emulator's CPU time for it. Prints a
Markdown table row. A fleet split over several processes is measured as the
sum over its processes (their number in the second column).

usage: bench/fleet_emulator_bench.py [N [CLIENTS]]
"""
import concurrent.futures
import csv
import ftplib
import http.client
import io
import json
import os
import select
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
EMULATOR = os.path.join(HERE, "..", "emulator", "hj5-emulator")
QUERY = b"ID=admin&PW=hj5pass&MODE=4&ACT=&CODE=&DATA="
UPLOAD = b"<?xml version='1.0'?>\n" + b"x" * 4074


def proc_status(pid):
    status = {}
    with open("/proc/%d/status" % pid) as lines:
        for line in lines:
            name, _, value = line.partition(":")
            status[name] = (value.split() or [""])[0]
    return {"vmhwm_kib": int(status["VmHWM"]),
            "threads": int(status["Threads"]),
            "fds": len(os.listdir("/proc/%d/fd" % pid))}


def start(count, tmp):
    devices = os.path.join(tmp, "devices.csv")
    began = time.monotonic()
    proc = subprocess.Popen(
        ["/usr/bin/python3", EMULATOR, "--devices", str(count), "--ftp-on",
         "--devices-csv", devices, "--usage", os.path.join(tmp, "usage.json"),
         "--exit-on-stdin-eof"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    ready, _, _ = select.select([proc.stdout], [], [], 60)
    line = proc.stdout.readline().decode() if ready else ""
    if not line:
        proc.kill()
        sys.exit("the emulator did not start")
    seconds = time.monotonic() - began
    control = int(dict(i.split("=") for i in line.split())["control"])
    with open(devices, newline="") as rows:
        ports = [(int(r["http_port"]), int(r["ftp_port"]))
                 for r in csv.DictReader(rows)]
    return proc, seconds, control, ports


def fleet_status(control):
    """proc_status() summed over the emulator's processes, and their
    number."""
    pids = [p["pid"] for p in control_get(control, "/usage")["processes"]]
    total = {"vmhwm_kib": 0, "threads": 0, "fds": 0}
    for pid in pids:
        for key, value in proc_status(pid).items():
            total[key] += value
    return total, len(pids)


def control_get(port, path):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    try:
        conn.request("GET", path)
        return json.loads(conn.getresponse().read())
    finally:
        conn.close()


def one_device(ports):
    conn = http.client.HTTPConnection("127.0.0.1", ports[0], timeout=10)
    try:
        conn.request("POST", "/system.wcr", body=QUERY)
        ok = conn.getresponse().read().endswith(b"HJ5_Ret(0)")
    finally:
        conn.close()
    ftp = ftplib.FTP()
    try:
        ftp.connect("127.0.0.1", ports[1], timeout=10)
        ftp.login("admin", "hj5pass")
        ftp.storbinary("STOR C:\\www\\f.xml", io.BytesIO(UPLOAD))
    finally:
        ftp.close()
    return ok


def sweep(ports, clients):
    began = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(clients) as pool:
        results = list(pool.map(one_device, ports))
    if not all(results):
        sys.exit("a device did not answer its query")
    return time.monotonic() - began


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    clients = int(sys.argv[2]) if len(sys.argv) > 2 else 16
    with tempfile.TemporaryDirectory() as tmp:
        proc, start_s, control, ports = start(count, tmp)
        try:
            idle, processes = fleet_status(control)
            cpu_before = control_get(control, "/usage")["cpu_seconds"]
            sweep_s = sweep(ports, clients)
            cpu_sweep = control_get(control, "/usage")["cpu_seconds"] - \
                cpu_before
            busy, _ = fleet_status(control)
        finally:
            proc.stdin.close()
            proc.wait(10)
        with open(os.path.join(tmp, "usage.json")) as text:
            usage = json.load(text)
    print("| devices | processes | clients | start-up | VmHWM idle | fds idle "
          "| threads | sweep wall | emulator CPU in sweep | VmHWM after | "
          "CPU total |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    print("| %d | %d | %d | %.2f s | %d KiB | %d | %d | %.2f s | %.2f s | "
          "%d KiB | %.2f s |" % (
              count, processes, clients, start_s, idle["vmhwm_kib"],
              idle["fds"], idle["threads"], sweep_s, cpu_sweep,
              busy["vmhwm_kib"], usage["cpu_seconds"]))


if __name__ == "__main__":
    main()

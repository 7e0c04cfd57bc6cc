#!/usr/bin/python3
"""hj5-update against a fleet of emulated devices, against one update on the
same emulator settings: wall time, hj5-update's peak memory (VmHWM), threads
and descriptors, and the emulator's CPU time. Loopback only; every run is
bounded in time.

Usage: fleet_update_bench.py HJ5_UPDATE [--sizes 1,100,1000]
           [--fail-fraction 0.1] [--reboot-seconds 3] [--timeout 600]
           [--canary N] [--max-failures N|P%] [--jobs N]
           [--results] [--verify] [--file-mib N] [--max-uploads N]

Prints one Markdown table row per run. A run with --fail-fraction also
checks that exactly the devices the emulator made fail are the ones
hj5-update reports failed. With --canary the list is put in an order whose
first N devices are sound (canaries an operator picked); with
--max-failures the row also tells at which device the budget ended the
run, and how many devices started after that. With --results the run keeps
its folder; the row then also gives the journal's size and how long a
--resume of the same run takes to skip every device that completed.
"""
import argparse
import csv
import json
import resource
import select
import os
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

from fleet_emulator_bench import proc_status

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EMULATOR = os.path.join(ROOT, "emulator", "hj5-emulator")
PYTHON = "/usr/bin/python3"
# The descriptors hj5-update holds with one device at rest: its standard
# streams, the signal pipe and the shared event loop's three (measured).
BASE_FDS = 11


def start_fleet(work, size, fail_fraction, reboot_seconds):
    """Starts the emulator; returns (process, device list, failing set)."""
    devices = os.path.join(work, "devices.csv")
    failing = os.path.join(work, "failing.csv")
    args = [PYTHON, EMULATOR, "--devices", str(size), "--devices-csv", devices,
            "--usage", os.path.join(work, "usage.json"),
            "--reboot-seconds", str(reboot_seconds),
            "--root", os.path.join(work, "device"), "--exit-on-stdin-eof"]
    if fail_fraction:
        args += ["--fail-fraction", str(fail_fraction), "--fault-list", failing]
    emulator = subprocess.Popen(args, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True)
    ready, _, _ = select.select([emulator.stdout], [], [], 60)
    ready = emulator.stdout.readline() if ready else ""
    if not ready.startswith("devices="):
        emulator.kill()
        raise SystemExit("the emulator did not start: " + ready)
    emulator.control = int(ready.split("control=")[1])
    failed = set()
    if fail_fraction:
        with open(failing) as f:
            failed = {(r["address"], r["http_port"]) for r in csv.DictReader(f)}
    return emulator, devices, failed


def sample(pid, peak):
    """Adds the process's VmHWM, threads and descriptors to `peak`."""
    try:
        now = proc_status(pid)
    except (FileNotFoundError, ProcessLookupError, KeyError):
        return  # the process has just ended
    for key, value in now.items():
        peak[key] = max(peak[key], value)


def healthy_first(devices, failing, count):
    """Rewrites the device list so that its first `count` devices are not
    among the failing ones."""
    with open(devices) as f:
        reader = csv.DictReader(f)
        fields, rows = reader.fieldnames, list(reader)
    sound = [r for r in rows if (r["address"], r["http_port"]) not in failing]
    first = sound[:count]
    rest = [r for r in rows if r not in first]
    with open(devices, "w", newline="") as f:
        writer = csv.DictWriter(f, fields)
        writer.writeheader()
        writer.writerows(first + rest)


def uploads_open(control):
    """How many uploads the emulator has open now; None when it cannot say."""
    try:
        with urllib.request.urlopen(
                "http://127.0.0.1:%d/uploads" % control, timeout=2) as reply:
            return json.load(reply)["open"]
    except (OSError, ValueError, KeyError):
        return None


def run_update(tool, devices, size, work, timeout, extra, file_mib=0,
               control=None):
    xml = os.path.join(work, "update.xml")
    with open(xml, "w") as f:
        f.write('<?xml version="1.0"?>\n<hj5-config><a>1</a></hj5-config>\n')
        # A large file: comment lines up to the size asked for.
        line = "<!-- " + "x" * 1017 + " -->\n"
        for _ in range(file_mib * 1024):
            f.write(line)
    os.chmod(devices, 0o600)
    env = dict(os.environ, HJ5_PASSWORD="hj5pass")
    out = open(os.path.join(work, "events.jsonl"), "w")
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    tool_process = subprocess.Popen(
        [tool, "--devices", devices, "--id", "admin", "--json"] + extra +
        [xml], stdout=out, stderr=subprocess.PIPE, env=env, text=True)
    peak = {"vmhwm_kib": 0, "threads": 0, "fds": 0}
    # The descriptors held while no upload is open: what the devices' waits
    # and exchanges cost, their uploads aside.
    peak["fds_outside_uploads"] = 0
    samples = 0
    while tool_process.poll() is None:
        sample(tool_process.pid, peak)
        samples += 1
        if control is not None and samples % 4 == 0:
            try:
                fds = proc_status(tool_process.pid)["fds"]
            except (FileNotFoundError, ProcessLookupError, KeyError):
                fds = 0
            if uploads_open(control) == 0:
                peak["fds_outside_uploads"] = max(
                    peak["fds_outside_uploads"], fds)
        if time.monotonic() - start > timeout:
            tool_process.send_signal(signal.SIGINT)
            tool_process.send_signal(signal.SIGINT)
            tool_process.wait(10)
            raise SystemExit(f"hj5-update took longer than {timeout} s")
        time.sleep(0.05)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    peak["cpu"] = (after.ru_utime - before.ru_utime +
                   after.ru_stime - before.ru_stime)
    out.close()
    return wall, tool_process.returncode, peak


def time_resume(tool, devices, work, results):
    """Seconds a --resume of the finished run takes: every completed device
    is skipped, nothing is sent (the emulator has already ended)."""
    env = dict(os.environ, HJ5_PASSWORD="hj5pass")
    start = time.monotonic()
    subprocess.run([tool, "--devices", devices, "--id", "admin", "--json",
                    "--resume", results, os.path.join(work, "update.xml")],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   env=env, timeout=60)
    return time.monotonic() - start


def reported_failures(work):
    with open(os.path.join(work, "events.jsonl")) as f:
        summary = [json.loads(l) for l in f if '"kind":"summary"' in l][-1]
    return {d["device"] for d in summary["devices"]
            if d["result"] not in ("completed", "not started")}, summary


def budget_stop(work, devices):
    """(the list position of the device whose failure went over the budget,
    how many devices started after it), or None without a budget stop."""
    events = [json.loads(l) for l in open(os.path.join(work, "events.jsonl"))]
    note = next((e for e in events if e.get("kind") == "note" and
                 "allowed: no further device starts" in e["text"]), None)
    if note is None:
        return None
    order = [f'{r["address"]}:{r["http_port"]}'
             for r in csv.DictReader(open(devices))]
    at = events.index(note)
    last_failed = [e["device"] for e in events[:at]
                   if e.get("kind") == "end" and e["text"] == "failed"][-1]
    seen_before = {e.get("device") for e in events[:at]}
    started_after = {e["device"] for e in events[at:]
                     if e.get("device") and e["device"] not in seen_before}
    return order.index(last_failed) + 1, len(started_after)


def device_key(device):
    """("127.0.0.1", "22223") of "127.0.0.1:22223"."""
    address, _, port = device.rpartition(":")
    return address, port


def one_run(args, size, fail_fraction):
    with tempfile.TemporaryDirectory(prefix="hj5-fleet-bench-") as work:
        emulator, devices, failing = start_fleet(
            work, size, fail_fraction, args.reboot_seconds)
        extra = ["--jobs", str(args.jobs or size)]
        if args.canary and size > args.canary:
            healthy_first(devices, failing, args.canary)
            extra += ["--canary", str(args.canary)]
        if args.max_failures and size > 1:
            extra += ["--max-failures", args.max_failures]
        results = os.path.join(work, "results")
        if args.results:
            extra += ["--results", results]
        if args.verify:
            extra += ["--verify"]
        if args.max_uploads:
            extra += ["--max-uploads", str(args.max_uploads)]
        try:
            wall, status, peak = run_update(args.tool, devices, size, work,
                                            args.timeout, extra, args.file_mib,
                                            emulator.control)
        finally:
            emulator.stdin.close()
            emulator.wait(30)
        with open(os.path.join(work, "usage.json")) as f:
            usage = json.load(f)
        failed, summary = reported_failures(work)
        failed_keys = {device_key(d) for d in failed}
        # With a budget only the devices that started can have failed.
        started = {device_key(d["device"]) for d in summary["devices"]
                   if d["result"] != "not started"}
        exact = failed_keys == failing & started
        stop = budget_stop(work, devices)
        journal_kib = resume_s = None
        if args.results:
            journal_kib = os.path.getsize(
                os.path.join(results, "journal.jsonl")) / 1024
            resume_s = time_resume(args.tool, devices, work, results)
    return {"journal_kib": journal_kib, "resume_s": resume_s,
            "size": size, "fail": fail_fraction, "wall": wall,
            "status": status, "failed": len(failed),
            "expected": len(failing & started), "exact": exact,
            "emulator_cpu": usage["cpu_seconds"], "stop": stop,
            "not_started": summary.get("not_started", 0), **peak}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("--sizes", default="1,100,1000")
    parser.add_argument("--fail-fraction", type=float, default=0.0)
    parser.add_argument("--reboot-seconds", type=float, default=3)
    parser.add_argument("--timeout", type=float, default=600)
    parser.add_argument("--canary", type=int, default=0)
    parser.add_argument("--max-failures", default="")
    parser.add_argument("--jobs", type=int, default=0,
                        help="devices at a time (default: all)")
    parser.add_argument("--results", action="store_true")
    parser.add_argument("--verify", action="store_true")
    parser.add_argument("--file-mib", type=int, default=0,
                        help="an XML file of about N MiB (default: 59 bytes)")
    parser.add_argument("--max-uploads", type=int, default=0)
    args = parser.parse_args()
    print("| devices | failing | wall s | vs one | exit | failed (expected) "
          "| exactly those | VmHWM MiB | threads | fds | fds a device outside "
          "uploads | hj5-update CPU s | CPU ms a device "
          "| emulator CPU s | budget stop at | started after | not started "
          "| journal KiB | resume s |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    single = None
    for size in [int(s) for s in args.sizes.split(",")]:
        fraction = args.fail_fraction if size > 1 else 0.0
        r = one_run(args, size, fraction)
        single = single or r["wall"]
        print(f"| {size} | {fraction:.0%} | {r['wall']:.2f} | "
              f"{r['wall'] / single:.2f}x | {r['status']} | "
              f"{r['failed']} ({r['expected']}) | {'yes' if r['exact'] else 'NO'} | "
              f"{r['vmhwm_kib'] / 1024:.1f} | {r['threads']} | {r['fds']} | "
              f"{max(r['fds_outside_uploads'] - BASE_FDS, 0) / size:.2f} | "
              f"{r['cpu']:.2f} | {r['cpu'] * 1000 / size:.2f} | "
              f"{r['emulator_cpu']:.2f} | "
              f"{r['stop'][0] if r['stop'] else '-'} | "
              f"{r['stop'][1] if r['stop'] else '-'} | "
              f"{r['not_started']} | "
              f"{'%.1f' % r['journal_kib'] if r['journal_kib'] is not None else '-'} | "
              f"{'%.2f' % r['resume_s'] if r['resume_s'] is not None else '-'} |",
              flush=True)


if __name__ == "__main__":
    main()

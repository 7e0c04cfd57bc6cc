#!/usr/bin/python3
"""Start-up of the tool to its form being shown, and its peak memory, against
a bare Qt QDialog program. Runs each program N times under the offscreen
platform, alternating, and prints medians and the ratios (goal: at most 1.2
each). Two yardsticks: the empty QDialog, and the same dialog with one line
of text ("bare+text"), which pays for loading the font database as any form
that shows text must.

usage: bench/startup_bench.py BUILD_DIR [N]
"""
import os
import statistics
import subprocess
import sys
import time

GOAL = 1.2


def run_once(command):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    start = time.monotonic_ns()
    child = subprocess.Popen(command, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=env)
    try:
        out, _ = child.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        child.kill()
        raise SystemExit(f"{command}: no form within 30 s")
    # communicate() reaped the child; its rusage comes from wait4 below.
    shown = None
    for line in out.decode().splitlines():
        if line.startswith("shown_ns="):
            shown = int(line.split("=", 1)[1])
    if shown is None:
        raise SystemExit(f"{command}: no shown_ns line")
    return (shown - start) / 1e6


def peak_kib(command):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    pid = os.posix_spawn(command[0], command, env,
                         file_actions=[(os.POSIX_SPAWN_OPEN, 1, os.devnull,
                                        os.O_WRONLY, 0),
                                       (os.POSIX_SPAWN_OPEN, 2, os.devnull,
                                        os.O_WRONLY, 0)])
    _, status, usage = os.wait4(pid, 0)
    if status != 0:
        raise SystemExit(f"{command}: exit status {status}")
    return usage.ru_maxrss


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    bench = os.path.join(sys.argv[1], "bench")
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    bare = os.path.join(bench, "bare_dialog_startup")
    programs = {"form": [os.path.join(bench, "form_startup")],
                "bare": [bare],
                "bare+text": [bare, "--text"]}
    times = {name: [] for name in programs}
    peaks = {name: [] for name in programs}
    for name, program in programs.items():  # warm the page cache
        run_once(program)
    for _ in range(runs):
        for name, program in programs.items():
            times[name].append(run_once(program))
            peaks[name].append(peak_kib(program))
    print(f"runs: {runs} each, QT_QPA_PLATFORM=offscreen")
    for name in programs:
        print(f"{name:9} start-up to shown: median {statistics.median(times[name]):7.1f} ms"
              f" (min {min(times[name]):.1f}, max {max(times[name]):.1f});"
              f" peak RSS median {statistics.median(peaks[name]) / 1024:6.1f} MiB")
    for yardstick in ("bare", "bare+text"):
        t = statistics.median(times["form"]) / statistics.median(times[yardstick])
        m = statistics.median(peaks["form"]) / statistics.median(peaks[yardstick])
        verdict = "met" if t <= GOAL and m <= GOAL else "NOT met"
        print(f"form/{yardstick}: start-up {t:.2f}, peak memory {m:.2f}"
              f" (goal <= {GOAL}: {verdict})")


if __name__ == "__main__":
    main()

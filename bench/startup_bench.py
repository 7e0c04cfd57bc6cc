#!/usr/bin/python3
"""Start-up of the tool to its form being shown, and its peak memory, against
a bare Qt QDialog program that shows one line of text ("bare+text", which
pays for loading the font database as any form that shows text must). Runs
each program N times under the offscreen platform, alternating, and prints
medians and the ratios (goals: start-up at most 1.6, memory at most 1.35).
Memory is taken two ways, and the goal is met only when both are within it:
the peak up to the form shown (VmHWM, as the program reports it once its
first paint is done), and the peak of the whole run (ru_maxrss, with the
close and the libraries' teardown at exit).
Also shown: the empty QDialog, and bare+text linked with libcurl and
initialising it ("bare+curl"), whose difference to bare+text is libcurl's
share of the tool's start-up.

usage: bench/startup_bench.py BUILD_DIR [N]
"""
import os
import statistics
import subprocess
import sys
import time

TIME_GOAL = 1.6
MEMORY_GOAL = 1.35


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
    values = {}
    for line in out.decode().splitlines():
        key, _, value = line.partition("=")
        values[key] = int(value) if value.lstrip("-").isdigit() else None
    if values.get("shown_ns") is None or values.get("shown_hwm_kib") is None:
        raise SystemExit(f"{command}: no shown_ns or shown_hwm_kib line")
    return (values["shown_ns"] - start) / 1e6, values["shown_hwm_kib"]


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
                "bare+text": [bare, "--text"],
                "bare+curl": [os.path.join(bench, "bare_dialog_curl_startup"),
                              "--text"]}
    times = {name: [] for name in programs}
    shown = {name: [] for name in programs}
    whole = {name: [] for name in programs}
    for name, program in programs.items():  # warm the page cache
        run_once(program)
    for _ in range(runs):
        for name, program in programs.items():
            elapsed, peak = run_once(program)
            times[name].append(elapsed)
            shown[name].append(peak)
            whole[name].append(peak_kib(program))
    print(f"runs: {runs} each, QT_QPA_PLATFORM=offscreen")
    for name in programs:
        print(f"{name:9} start-up to shown: median {statistics.median(times[name]):7.1f} ms"
              f" (min {min(times[name]):.1f}, max {max(times[name]):.1f});"
              f" peak RSS median: to shown"
              f" {statistics.median(shown[name]) / 1024:5.1f} MiB,"
              f" whole run {statistics.median(whole[name]) / 1024:5.1f} MiB")
    med_t = {name: statistics.median(v) for name, v in times.items()}
    med_s = {name: statistics.median(v) / 1024 for name, v in shown.items()}
    med_w = {name: statistics.median(v) / 1024 for name, v in whole.items()}
    t = med_t["form"] / med_t["bare+text"]
    m = med_s["form"] / med_s["bare+text"]
    m_whole = med_w["form"] / med_w["bare+text"]
    met = t <= TIME_GOAL and max(m, m_whole) <= MEMORY_GOAL
    print(f"form/bare+text: start-up {t:.2f} (goal <= {TIME_GOAL}),"
          f" peak memory to shown {m:.2f} and of the whole run {m_whole:.2f}"
          f" (goal <= {MEMORY_GOAL}): {'met' if met else 'NOT met'}")
    print(f"libcurl's share (bare+curl - bare+text): start-up"
          f" {med_t['bare+curl'] - med_t['bare+text']:+.1f} ms,"
          f" peak memory to shown {med_s['bare+curl'] - med_s['bare+text']:+.1f} MiB,"
          f" whole run {med_w['bare+curl'] - med_w['bare+text']:+.1f} MiB")


if __name__ == "__main__":
    main()

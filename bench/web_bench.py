#!/usr/bin/python3
"""hj5-update --web against the same run without it: a fleet of emulated
devices on loopback, updated all at once, with a headless Chromium showing
the live page for the whole run. Pairs of runs in turn: wall time and
hj5-update's peak memory (VmHWM) of each; the page's first render with
every device (window.hj5FirstRenderMs, from the start of the page's load to
its first rows) and the size of the run's report.html beside the chart
library it carries.

Usage: web_bench.py HJ5_UPDATE [--devices 1000] [--pairs 2]
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "web"))
from browser import Browser  # noqa: E402
from fleet_emulator_bench import proc_status  # noqa: E402
from fleet_update_bench import start_fleet  # noqa: E402

CHART = "/usr/share/javascript/chart.js/chart.min.js"


def one_run(tool, size, web):
    """(wall s, VmHWM MiB, first render ms or None, report bytes or None)."""
    with tempfile.TemporaryDirectory(prefix="hj5-web-bench-") as work:
        emulator, devices, _ = start_fleet(work, size, 0.0, 3)
        xml = os.path.join(work, "update.xml")
        with open(xml, "w") as f:
            f.write('<?xml version="1.0"?>\n<a>1</a>\n')
        os.chmod(devices, 0o600)
        results = os.path.join(work, "results")
        err = open(os.path.join(work, "stderr"), "w+")
        args = [tool, "--devices", devices, "--id", "admin", "--json",
                "--jobs", str(size), "--results", results]
        if web:
            args += ["--web", "0"]
        start = time.monotonic()
        process = subprocess.Popen(
            args + [xml], stdout=subprocess.DEVNULL, stderr=err,
            env=dict(os.environ, HJ5_PASSWORD="hj5pass"))
        browser = None
        first_render = None
        peak = 0
        try:
            while process.poll() is None:
                try:
                    peak = max(peak, proc_status(process.pid)["vmhwm_kib"])
                except (FileNotFoundError, ProcessLookupError, KeyError):
                    pass
                if web and browser is None:
                    err.seek(0)
                    url = next((l.split("the run's page: ")[1].strip()
                                for l in err if "the run's page: " in l), None)
                    if url:
                        browser = Browser()
                        browser.driver.get(url)
                        time.sleep(0.5)
                        first_render = browser.driver.execute_script(
                            "return window.hj5FirstRenderMs")
                if time.monotonic() - start > 300:
                    process.kill()
                    raise SystemExit("hj5-update took longer than 300 s")
                time.sleep(0.05)
            wall = time.monotonic() - start
        finally:
            if browser:
                browser.quit()
            emulator.stdin.close()
            emulator.wait(30)
        report = os.path.getsize(os.path.join(results, "report.html"))
        return wall, peak / 1024, first_render, report


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("--devices", type=int, default=1000)
    parser.add_argument("--pairs", type=int, default=2)
    args = parser.parse_args()
    chart = os.path.getsize(CHART)
    print("| pair | plain wall s | --web wall s | ratio | plain VmHWM MiB "
          "| --web VmHWM MiB | more | first render ms | report KiB "
          "beside Chart.js |")
    print("|---|---|---|---|---|---|---|---|---|")
    for pair in range(1, args.pairs + 1):
        plain = one_run(args.tool, args.devices, False)
        web = one_run(args.tool, args.devices, True)
        print(f"| {pair} | {plain[0]:.2f} | {web[0]:.2f} | "
              f"{web[0] / plain[0]:.3f} | {plain[1]:.1f} | {web[1]:.1f} | "
              f"{web[1] - plain[1]:+.1f} | {web[2]} | "
              f"{(web[3] - chart) / 1024:.0f} |", flush=True)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""hj5-update --web in a real browser, against a fleet of emulated devices
on loopback: the page's counts and filter against what the emulator did,
"Stop and restore" leaving every device restored, report.html read from the
disk with networking off, and the page's security rules, one test each.
Screenshots go to $HJ5_SCREENSHOTS (default /tmp/hj5-web-shots).

Run: HJ5_UPDATE=.../hj5-update /usr/bin/python3 -m unittest -v test_page
"""
import http.client
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import urllib.request

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

from browser import Browser
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "support"))
from fleet import Fleet  # noqa: E402

TOOL = os.environ.get("HJ5_UPDATE", "hj5-update")
SHOTS = os.environ.get("HJ5_SCREENSHOTS", "/tmp/hj5-web-shots")
XML = '<?xml version="1.0"?>\n<config><a>1</a></config>\n'


class Run:
    """hj5-update --web 0 on the fleet; the page's address from stderr."""

    def __init__(self, work, fleet, extra=()):
        self.xml = os.path.join(work, "site.xml")
        with open(self.xml, "w") as f:
            f.write(XML)
        self.err = open(os.path.join(work, "stderr.txt"), "w+")
        self.results = os.path.join(work, "results")
        self.process = subprocess.Popen(
            [TOOL, "--devices", fleet.devices_csv, "--id", "admin", "--web",
             "0", "--results", self.results, "--json", *extra, self.xml],
            stdout=subprocess.DEVNULL, stderr=self.err,
            env=dict(os.environ, HJ5_PASSWORD="hj5pass"))
        self.url = self._address()
        parts = urllib.parse.urlsplit(self.url)
        self.host = parts.netloc
        self.token = urllib.parse.parse_qs(parts.query)["token"][0]

    def _address(self):
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            self.err.seek(0)
            for line in self.err:
                if "the run's page: " in line:
                    return line.split("the run's page: ")[1].strip()
            time.sleep(0.1)
        raise RuntimeError("no page address printed")

    def request(self, method, path, headers=None, body=None):
        connection = http.client.HTTPConnection(self.host, timeout=10)
        connection.request(method, path, body=body, headers=headers or {})
        reply = connection.getresponse()
        return reply.status, reply.read().decode()

    def wait(self, timeout=120):
        status = self.process.wait(timeout)
        self.err.close()
        return status


def text(driver, element_id):
    return driver.find_element(By.ID, element_id).text.replace(",", "")


def shown_labels(driver):
    return {row.find_element(By.CLASS_NAME, "label").text
            for row in driver.find_elements(By.CSS_SELECTOR, "tr.device")}


def filtered_to(test, driver, result, expected):
    """Filters the table by `result`; asserts it shows exactly `expected`."""
    Select(driver.find_element(By.ID, "filter")).select_by_value(result)
    try:
        WebDriverWait(driver, 10).until(
            lambda d: shown_labels(d) == expected)
    except Exception:
        pass
    test.assertEqual(shown_labels(driver), expected)


class WebPageTest(unittest.TestCase):
    def setUp(self):
        os.makedirs(SHOTS, exist_ok=True)
        self.work = tempfile.mkdtemp(prefix="hj5-web-")

    def test_the_page_shows_the_run_and_its_report_shows_it_offline(self):
        fleet = Fleet(self.work, 12, reboot_seconds=2, fail_fraction=0.25)
        self.addCleanup(fleet.stop)
        run = Run(self.work, fleet, ["--jobs", "12"])
        with Browser() as browser:
            driver = browser.driver
            driver.get(run.url)  # the token becomes a cookie
            WebDriverWait(driver, 20).until(
                lambda d: d.find_elements(By.CSS_SELECTOR, "tr.device"))
            WebDriverWait(driver, 30).until(
                lambda d: text(d, "head-running") != "0")
            # A device's events, from the server while the run lasts.
            driver.find_elements(By.CSS_SELECTOR, "tr.device")[0].click()
            WebDriverWait(driver, 10).until(
                lambda d: d.find_elements(By.CSS_SELECTOR,
                                          "#device-events-table tbody tr"))
            browser.screenshot(os.path.join(SHOTS, "live.png"))
            self.assertEqual(run.wait(), 1)
            WebDriverWait(driver, 20).until(
                lambda d: "exit 1" in d.find_element(By.ID, "run-state").text)
            # The counts are what the emulator's faults made of the fleet.
            self.assertEqual(text(driver, "head-failed"), str(len(fleet.failing)))
            self.assertEqual(text(driver, "head-succeeded"),
                             str(12 - len(fleet.failing)))
            filtered_to(self, driver, "failed", fleet.failing)
            browser.screenshot(os.path.join(SHOTS, "live-ended.png"))
            # The report, from the disk, with nothing reachable.
            driver.set_network_conditions(offline=True, latency=0,
                                          throughput=0)
            driver.get("file://" + os.path.join(run.results, "report.html"))
            WebDriverWait(driver, 20).until(
                lambda d: d.find_elements(By.CSS_SELECTOR, "tr.device"))
            self.assertEqual(text(driver, "head-failed"), str(len(fleet.failing)))
            self.assertEqual(text(driver, "head-done"), "12")
            filtered_to(self, driver, "failed", fleet.failing)
            driver.find_elements(By.CSS_SELECTOR, "tr.device")[0].click()
            WebDriverWait(driver, 10).until(
                lambda d: d.find_elements(By.CSS_SELECTOR,
                                          "#device-events-table tbody tr"))
            self.assertEqual(driver.execute_script(
                "return performance.getEntriesByType('resource').length"), 0)
            browser.screenshot(os.path.join(SHOTS, "report.png"))

    def test_stop_and_restore_from_the_page_restores_every_device(self):
        fleet = Fleet(self.work, 6, reboot_seconds=4)
        self.addCleanup(fleet.stop)
        run = Run(self.work, fleet)
        with Browser() as browser:
            driver = browser.driver
            driver.get(run.url)
            # Every device switched: FTP on and user9 "UPDATE".
            WebDriverWait(driver, 30).until(lambda d: all(
                fleet.params(i).get("user9") == "UPDATE" for i in range(6)))
            driver.find_element(By.ID, "stop-restore").click()
            driver.switch_to.alert.accept()
            self.assertEqual(run.wait(), 143)
        for i in range(6):
            params = fleet.params(i)
            self.assertEqual((params["user9"], params["svr_ftp_port"]),
                             ("HJ5M", "0"), i)

    def test_nobody_else_drives_the_run(self):
        fleet = Fleet(self.work, 2, reboot_seconds=2)
        self.addCleanup(fleet.stop)
        run = Run(self.work, fleet)
        cookie = {"Cookie": "hj5_token=" + run.token}
        same = dict(cookie, **{"X-HJ5-Token": run.token,
                               "Origin": "http://" + run.host})
        cases = [
            ("no token", "GET", "/", {}, None),
            ("a wrong token", "GET", "/", {"Cookie": "hj5_token=" + "0" * 64},
             None),
            ("a foreign Host", "GET", "/",
             dict(cookie, Host="rebound.example:%s" % run.host.split(":")[1]),
             None),
            ("a POST without the header", "POST", "/stop", cookie, "restore"),
            ("a cross-origin POST", "POST", "/stop",
             dict(same, Origin="http://evil.example"), "restore"),
        ]
        for name, method, path, headers, body in cases:
            with self.subTest(name):
                status, _ = run.request(method, path, headers, body)
                self.assertEqual(status, 403)
        status, page = run.request("GET", "/", cookie)
        self.assertEqual(status, 200)
        self.assertNotIn("hj5pass", page)
        self.assertEqual(run.wait(), 0)  # nothing above stopped it


if __name__ == "__main__":
    unittest.main()

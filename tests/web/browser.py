#!/usr/bin/python3
"""A headless Chromium for the tests of hj5-update's web page.

    from browser import Browser
    with Browser() as browser:
        browser.driver.get(url)
        browser.screenshot("/tmp/page.png")

Chromium runs without a sandbox (the tests run as root), with nothing that
reaches out on its own (no background networking, component updates, sync or
QUIC), in a fresh profile directory that is removed afterwards. quit() never
hangs: the driver gets a few seconds, then chromedriver and its browser are
killed.
"""

import os
import shutil
import signal
import tempfile
import threading

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
FLAGS = [
    "--headless",
    "--no-sandbox",
    "--disable-gpu",
    "--disable-quic",
    "--no-first-run",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--disable-dev-shm-usage",
]


class Browser:
    def __init__(self, width=1280, height=900, timeout_s=30):
        self.profile = tempfile.mkdtemp(prefix="hj5-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in FLAGS:
            options.add_argument(flag)
        options.add_argument("--user-data-dir=" + self.profile)
        options.add_argument("--window-size=%d,%d" % (width, height))
        # chromedriver in a session of its own, so that its process group
        # (the browser included) can be killed without touching ours.
        self.service = Service(CHROMEDRIVER, popen_kw={"start_new_session": True})
        try:
            self.driver = webdriver.Chrome(service=self.service, options=options)
        except BaseException:
            self._kill_service()
            shutil.rmtree(self.profile, ignore_errors=True)
            raise
        self.driver.set_page_load_timeout(timeout_s)
        self.driver.set_script_timeout(timeout_s)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.quit()

    def screenshot(self, path):
        """Saves a PNG of the viewport and returns its path."""
        if not self.driver.save_screenshot(path):
            raise RuntimeError("no screenshot written to " + path)
        return path

    def full_page_screenshot(self, path):
        """A PNG of the whole document, through the DevTools protocol."""
        import base64
        shot = self.driver.execute_cdp_cmd(
            "Page.captureScreenshot", {"format": "png", "captureBeyondViewport": True})
        with open(path, "wb") as out:
            out.write(base64.b64decode(shot["data"]))
        return path

    def print_pdf(self, path, landscape=False):
        """Prints the page (print media) to a PDF file and returns its path."""
        import base64
        pdf = self.driver.execute_cdp_cmd(
            "Page.printToPDF", {"landscape": landscape, "printBackground": True})
        with open(path, "wb") as out:
            out.write(base64.b64decode(pdf["data"]))
        return path

    def quit(self, timeout_s=10):
        """Ends the browser and chromedriver; never waits longer than timeout_s."""
        if self.driver is not None:
            quitter = threading.Thread(target=self._quit_driver, daemon=True)
            quitter.start()
            quitter.join(timeout_s)
            self.driver = None
        self._kill_service()
        shutil.rmtree(self.profile, ignore_errors=True)

    def _quit_driver(self):
        try:
            self.driver.quit()
        except Exception:
            pass

    def _kill_service(self):
        """Kills chromedriver's process group (its browser with it) if still there."""
        process = getattr(self.service, "process", None)
        if process is None or process.poll() is not None:
            return
        try:
            group = os.getpgid(process.pid)
            if group != os.getpgrp():
                os.killpg(group, signal.SIGKILL)
            else:
                process.kill()
        except (ProcessLookupError, PermissionError):
            process.kill()
        try:
            process.wait(5)
        except Exception:
            pass

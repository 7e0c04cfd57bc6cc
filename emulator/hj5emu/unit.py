"""One emulated device with its HTTP side, FTP side, faults and records.

A process serves one such unit or a fleet of them, all on one event loop.
Everything here runs on the loop thread (or before the loop runs).
"""

import json
import os
import shutil
import tempfile

from .device import LEFT_IN_UPDATE, Device
from .faults import FaultBook
from .ftp_side import FtpSide
from .http_side import HttpSide
from .records import Records


class Settings:
    """What every unit of a process shares: credentials and behaviour."""

    def __init__(self, args):
        self.host = args.host
        self.login_id = args.id
        self.password = args.pw
        self.reboot_seconds = args.reboot_seconds
        self.down = args.down
        self.close = args.close
        self.no_length = args.no_length
        self.ftp_on = args.ftp_on
        self.params = dict(item.split("=", 1) for item in args.param)
        self.faults = [json.loads(text) for text in args.fault]
        self.left_in_update = args.left_in_update
        self.left_in_update_list = set(args.left_in_update_list)

    def leaves_in_update(self, index):
        """Whether device `index` (None: a lone device) starts as an
        unfinished update left it."""
        return self.left_in_update or index in self.left_in_update_list


class Unit:
    """A device on http_port/ftp_port with uploads in root/www.

    `root` None: a temporary folder, removed by close(); a given root is
    kept. `index` is the device's place in a fleet (None: a lone device).
    """

    def __init__(self, loop, settings, http_port, ftp_port, root=None,
                 sink=None, index=None, params=None, faults=(), uploads=None):
        self.index = index
        self.created_root = not root
        self.root = os.path.abspath(root or tempfile.mkdtemp(
            prefix="hj5emu-"))
        self.http = self.ftp = None
        try:
            self._build(loop, settings, http_port, ftp_port, sink,
                        params or {}, faults, uploads)
        except BaseException:
            for side in (self.http, self.ftp):
                if side is not None:
                    side.stop()
            self.close()
            raise

    def _build(self, loop, settings, http_port, ftp_port, sink, params,
               faults, uploads):
        self.www = os.path.join(self.root, "www")
        os.makedirs(self.www, exist_ok=True)
        self.records = Records(sink, self.index)
        self.faults = FaultBook()
        for desc in list(settings.faults) + list(faults):
            self.faults.add(desc)
        params = dict(settings.params, **params)
        if settings.leaves_in_update(self.index):
            params.update(LEFT_IN_UPDATE)
        self.device = Device(loop, settings.login_id, settings.password,
                             params, self.faults, self.records,
                             settings.reboot_seconds, settings.ftp_on)
        self.ftp = FtpSide(loop, settings.host, ftp_port, self.www,
                           settings.login_id, settings.password, self.faults,
                           self.records, uploads)
        self.http = HttpSide(loop, settings.host, http_port, self.device,
                             self.records, settings.close,
                             settings.no_length, settings.down)
        self.device.hooks = self

    def start(self):
        self.ftp.start(self.device.ftp_should_run())
        self.http.start()

    # Hooks of the device.
    def go_down(self, exempt):
        self.http.go_down(exempt)
        self.ftp.set_running(False)

    def boot(self):
        self.ftp.set_running(self.device.ftp_should_run())
        self.device.set_up()
        self.http.boot()

    def add_fault(self, desc):
        fault_id = self.faults.add(desc)
        self.ftp.set_running(self.device.ftp_should_run())
        return fault_id

    def clear_faults(self):
        self.faults.clear()
        self.ftp.set_running(self.device.ftp_should_run())

    def leave_in_update(self):
        """As an unfinished update leaves the device; FTP runs at once (on
        a device that is down: from its boot)."""
        self.device.leave_in_update()
        self.ftp.set_running(self.device.ftp_should_run())

    def state(self, control_port):
        out = self.device.state()
        out.update({
            "ftp_running": self.ftp.running,
            "ports": {"http": self.http.port, "ftp": self.ftp.port,
                      "control": control_port},
            "root": self.root,
            "faults": self.faults.describe(),
            "http_requests": len(self.records.http_field("seq")),
            "stored_uploads": self.records.count_events("ftp_stored"),
            "incomplete_uploads": self.records.count_events(
                "ftp_incomplete"),
        })
        if self.index is not None:
            out["index"] = self.index
        return out

    def stop(self):
        """Closes its sockets; the device stays as it was (loop thread)."""
        self.device.close()
        self.http.stop()
        self.ftp.stop()

    def close(self):
        """Removes a temporary root; after stop()."""
        if self.created_root:
            shutil.rmtree(self.root, ignore_errors=True)

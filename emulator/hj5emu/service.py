"""The emulator process: one device or a fleet, the loop, the control port.

A process of a fleet split over processes (split.py) is a Service too: it
serves its slice of the fleet, counts uploads in the fleet's shared
counter and shows the control port of the process that the tests talk to.
"""

import logging
import os
import resource
import threading
import time

from .control import Control
from .fleet import Fleet, choose_failures, raise_fd_limit
from .ftp_side import Uploads
from .loop import Loop
from .records import RecordFile
from .unit import Settings, Unit

LOG = logging.getLogger("hj5emu")


def usage(started):
    """CPU time, peak memory, threads and descriptors of this process."""
    own = resource.getrusage(resource.RUSAGE_SELF)
    return {"user_seconds": own.ru_utime, "system_seconds": own.ru_stime,
            "cpu_seconds": own.ru_utime + own.ru_stime,
            "max_rss_kib": own.ru_maxrss,
            "wall_seconds": time.monotonic() - started,
            "threads": threading.active_count(),
            "descriptors": len(os.listdir("/proc/self/fd"))}


class Service:
    """`part` (a split fleet's process): {"first", "count", "uploads"
    (SharedUploads), "control_port" (shown), "remove_devices"}."""

    def __init__(self, args, part=None):
        self.started = time.monotonic()
        self.part = part
        self.loop = Loop()
        self.sink = None
        if args.record:
            self.sink = RecordFile(args.record, append=part is not None)
        # every device's together
        self.uploads = part["uploads"] if part else Uploads()
        self.fleet = None
        self.units = []
        self.control = None
        try:
            self._build(args)
        except BaseException:
            for unit in self.units:
                unit.stop()
            self._close()
            raise

    def _build(self, args):
        settings = Settings(args)
        if args.devices is None:
            self.units = [Unit(self.loop, settings, args.http_port,
                               args.ftp_port, args.root, self.sink,
                               uploads=self.uploads)]
        else:
            part = self.part or {"first": 0, "count": args.devices,
                                 "remove_devices": False}
            soft, busy = raise_fd_limit(part["count"])
            if soft != resource.RLIM_INFINITY and soft < busy:
                LOG.warning("descriptor limit %d: fewer than %d devices can "
                            "be updated at once", soft, busy)
            failures = choose_failures(args.devices, args.fail_fraction,
                                       args.fail_seed, args.fail_kinds)
            self.fleet = Fleet(self.loop, settings, part["count"],
                               args.base_port, args.root, self.sink, failures,
                               self.uploads, part["first"],
                               part["remove_devices"])
            self.units = self.fleet.units
        self.control = Control(args.control_port, self)

    def start(self):
        for unit in self.units:
            unit.start()
        self.loop.start()
        self.control.start()

    def ready_line(self):
        first = self.units[0]
        line = "http=%d ftp=%d control=%d" % (first.http.port, first.ftp.port,
                                              self.control.port)
        if self.fleet is not None:
            line = "devices=%d %s" % (len(self.units), line)
        return line

    def control_port(self):
        """The port that the tests talk to (a split fleet: the first
        process's)."""
        return self.part["control_port"] if self.part else self.control.port

    def unit_at(self, index):
        """Device `index` of the fleet, if this process serves it."""
        first = self.fleet.first if self.fleet else 0
        if first <= index < first + len(self.units):
            return self.units[index - first]
        return None

    def check(self):
        """Why the service can no longer serve (None: it can)."""
        return None

    def write_lists(self, args):
        if self.fleet is None:
            return
        if args.devices_csv:
            self.fleet.write_csv(args.devices_csv, args.host)
        if args.fault_list:
            self.fleet.write_failures(args.fault_list, args.host)

    def usage(self):
        own = dict(usage(self.started), pid=os.getpid())
        if self.fleet is not None:
            own.update(first=self.fleet.first, devices=len(self.units))
        return dict(own, processes=[dict(own)])

    def devices(self):
        return [{"index": u.index or 0, "http": u.http.port,
                 "ftp": u.ftp.port, "root": u.root, "up": u.device.is_up(),
                 "left_in_update": u.device.left_in_update(),
                 "fault": self.fleet.failures.get(u.index)
                 if self.fleet else None}
                for u in self.units]

    def stop(self):
        """Ends within about a second, closing every connection."""
        if self.control is not None:
            self.control.stop()
        self.loop.stop()
        for unit in self.units:
            unit.stop()
        self._close()

    def _close(self):
        self.loop.close()
        if self.sink is not None:
            self.sink.close()
        for unit in self.units:
            unit.close()
        if self.fleet is not None:
            self.fleet.close()

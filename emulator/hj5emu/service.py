"""The emulator process: one device or a fleet, the loop, the control port."""

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
    def __init__(self, args):
        self.started = time.monotonic()
        self.loop = Loop()
        self.sink = RecordFile(args.record) if args.record else None
        self.uploads = Uploads()  # every device's together
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
            soft, busy = raise_fd_limit(args.devices)
            if soft != resource.RLIM_INFINITY and soft < busy:
                LOG.warning("descriptor limit %d: fewer than %d devices can "
                            "be updated at once", soft, busy)
            failures = choose_failures(args.devices, args.fail_fraction,
                                       args.fail_seed, args.fail_kinds)
            self.fleet = Fleet(self.loop, settings, args.devices,
                               args.base_port, args.root, self.sink, failures,
                               self.uploads)
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

    def usage(self):
        return usage(self.started)

    def devices(self):
        return [{"index": i, "http": u.http.port, "ftp": u.ftp.port,
                 "root": u.root, "up": u.device.is_up(),
                 "left_in_update": u.device.left_in_update(),
                 "fault": self.fleet.failures.get(i) if self.fleet else None}
                for i, u in enumerate(self.units)]

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

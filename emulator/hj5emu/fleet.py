"""Many devices in one process: ports, roots, assorted failures, lists.

Device i (from 0) listens on BASE + 2*i (HTTP) and BASE + 2*i + 1 (FTP).
With no base given, a free range below the ephemeral ports is found by
trying random bases; a port taken makes the whole attempt fail cleanly.
"""

import csv
import errno
import os
import random
import resource
import shutil
import tempfile

from .unit import Unit

# Ways a device fails an update, each on its own, quickly.
FAIL_KINDS = {
    "identity_refused": {"match": {"MODE": "4"},
                         "body": "model=HJ-5\r\nuser9=HJ5X\r\nHJ5_Ret(0)"},
    "ftp_on_refused": {"match": {"MODE": "2", "CODE": "svr_ftp_port",
                                 "DATA": "21"}, "code": -5},
    "mark_refused": {"match": {"CODE": "user9", "DATA": "UPDATE"},
                     "code": -5},
    "mode_one_reset": {"match": {"MODE": "1"}, "reset": True},
    "ftp_off_garbage": {"match": {"MODE": "2", "CODE": "svr_ftp_port",
                                  "DATA": "0"}, "garbage": True},
    "restore_refused": {"match": {"CODE": "user9", "DATA": "HJ5M"},
                        "code": -5},
}
# Chosen only when named: slow (the tool waits 60 s) or upload-only.
EXTRA_KINDS = {
    "never_back": {"never_back_after_restart": 1},
    "upload_refused": {"ftp": "stor_550"},
    "ftp_login_refused": {"ftp": "login_refused"},
    "store_short": {"ftp": "store_short"},
    "store_flip": {"ftp": "store_flip"},
}
ALL_KINDS = dict(FAIL_KINDS, **EXTRA_KINDS)
BASE_TRIES = 20
LOWEST_BASE = 10000
FDS_PER_DEVICE = 2      # its HTTP and FTP ports, always held
FDS_PER_UPDATE = 4      # HTTP connection, FTP control, passive listener, data
FDS_SPARE = 64


class FleetError(Exception):
    """The fleet cannot be started as asked."""


def choose_failures(count, fraction, seed, kinds):
    """{device index: kind name}: round(fraction * count) devices, picked
    and given assorted kinds (in turn, shuffled) by `seed`."""
    rng = random.Random(seed)
    chosen = sorted(rng.sample(range(count), round(fraction * count)))
    order = list(kinds)
    rng.shuffle(order)
    return {index: order[n % len(order)] for n, index in enumerate(chosen)}


def raise_fd_limit(devices):
    """Raises the soft descriptor limit as far as needed and allowed.
    Returns (soft limit, descriptors a fully busy fleet may use)."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    busy = devices * (FDS_PER_DEVICE + FDS_PER_UPDATE) + FDS_SPARE
    wanted = busy if hard == resource.RLIM_INFINITY else min(busy, hard)
    if soft != resource.RLIM_INFINITY and soft < wanted:
        resource.setrlimit(resource.RLIMIT_NOFILE, (wanted, hard))
        soft = wanted
    if soft != resource.RLIM_INFINITY and \
            soft < devices * FDS_PER_DEVICE + FDS_SPARE:
        raise FleetError("%d devices need %d descriptors; the limit is %d" % (
            devices, devices * FDS_PER_DEVICE + FDS_SPARE, soft))
    return soft, busy


def _ephemeral_low():
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as text:
            return int(text.read().split()[0])
    except (OSError, ValueError, IndexError):
        return 32768


class Fleet:
    """N units on consecutive ports; `failures` maps index to kind."""

    def __init__(self, loop, settings, count, base_port=0, root=None,
                 sink=None, failures=None, uploads=None):
        self.failures = failures or {}
        self.uploads = uploads
        self.created_root = not root
        self.root = os.path.abspath(root or tempfile.mkdtemp(
            prefix="hj5emu-fleet-"))
        self.units = []
        try:
            if base_port:
                self._build(loop, settings, count, base_port, sink)
            else:
                self._build_anywhere(loop, settings, count, sink)
        except BaseException:
            self.close()
            raise

    def _build_anywhere(self, loop, settings, count, sink):
        top = _ephemeral_low() - 2 * count
        if top <= LOWEST_BASE:
            raise FleetError("no room for %d devices below port %d" % (
                count, _ephemeral_low()))
        rng = random.Random()
        for _ in range(BASE_TRIES):
            try:
                self._build(loop, settings, count,
                            rng.randrange(LOWEST_BASE, top), sink)
                return
            except OSError as err:
                if err.errno != errno.EADDRINUSE:
                    raise
        raise FleetError("no free range of %d ports found in %d tries" % (
            2 * count, BASE_TRIES))

    def _build(self, loop, settings, count, base, sink):
        if base + 2 * count - 1 > 65535:
            raise FleetError("ports %d..%d do not exist" % (
                base, base + 2 * count - 1))
        try:
            for i in range(count):
                self.units.append(self._unit(loop, settings, i, base, sink))
        except BaseException:
            self.stop()
            raise

    def _unit(self, loop, settings, i, base, sink):
        root = os.path.join(self.root, "device-%04d" % i)
        params = {} if "serial" in settings.params else {
            "serial": "HJ5-%06d" % (i + 1)}
        kind = self.failures.get(i)
        faults = [ALL_KINDS[kind]] if kind else []
        return Unit(loop, settings, base + 2 * i, base + 2 * i + 1, root,
                    sink, i, params, faults, self.uploads)

    def start(self):
        for unit in self.units:
            unit.start()

    def stop(self):
        while self.units:
            self.units.pop().stop()

    def close(self):
        if self.created_root:
            shutil.rmtree(self.root, ignore_errors=True)

    def write_csv(self, path, host):
        """The device list: address,http_port,ftp_port, one device a line."""
        _write_rows(path, ["address", "http_port", "ftp_port"],
                    ([host, u.http.port, u.ftp.port] for u in self.units))

    def write_failures(self, path, host):
        """The devices given a failure, with its kind."""
        _write_rows(path, ["address", "http_port", "ftp_port", "fault"],
                    ([host, u.http.port, u.ftp.port, self.failures[u.index]]
                     for u in self.units if u.index in self.failures))


def _write_rows(path, header, rows):
    temp = path + ".tmp"
    with open(temp, "w", newline="", encoding="utf-8") as out:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(header)
        writer.writerows(rows)
    os.replace(temp, path)

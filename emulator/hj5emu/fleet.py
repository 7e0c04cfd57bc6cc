"""Many devices in one process: ports, roots, assorted failures, lists.

Device i (from 0) listens on BASE + 2*i (HTTP) and BASE + 2*i + 1 (FTP).
With no base given, a free range below the ephemeral ports is found by
trying random bases; a port taken makes the whole attempt fail cleanly.
A process may serve a slice of a larger fleet (split.py): devices FIRST to
FIRST+COUNT-1, each with its index, ports, serial and failure in the whole
fleet.
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


def devices_per_process():
    """How many devices one process serves: as many as it can update all
    at once within the hard descriptor limit (None: no limit)."""
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard == resource.RLIM_INFINITY:
        return None
    return max(1, (hard - FDS_SPARE) // (FDS_PER_DEVICE + FDS_PER_UPDATE))


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


def ephemeral_low():
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as text:
            return int(text.read().split()[0])
    except (OSError, ValueError, IndexError):
        return 32768


def base_range(count):
    """(lowest, highest + 1) of the bases that fit `count` devices below
    the ephemeral ports."""
    top = ephemeral_low() - 2 * count
    if top <= LOWEST_BASE:
        raise FleetError("no room for %d devices below port %d" % (
            count, ephemeral_low()))
    return LOWEST_BASE, top


def check_ports(base, count):
    if base + 2 * count - 1 > 65535:
        raise FleetError("ports %d..%d do not exist" % (
            base, base + 2 * count - 1))


class Fleet:
    """N units on consecutive ports; `failures` maps index to kind.

    `first`: the index of the first unit (a slice of a larger fleet); with
    `remove_devices` close() removes the units' folders in a root that
    another process created (and the root, once it is empty).
    """

    def __init__(self, loop, settings, count, base_port=0, root=None,
                 sink=None, failures=None, uploads=None, first=0,
                 remove_devices=False):
        self.failures = failures or {}
        self.uploads = uploads
        self.first = first
        self.count = count
        self.base = None
        self.remove_devices = remove_devices
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
        low, top = base_range(count)
        rng = random.Random()
        for _ in range(BASE_TRIES):
            try:
                self._build(loop, settings, count, rng.randrange(low, top),
                            sink)
                return
            except OSError as err:
                if err.errno != errno.EADDRINUSE:
                    raise
        raise FleetError("no free range of %d ports found in %d tries" % (
            2 * count, BASE_TRIES))

    def _build(self, loop, settings, count, base, sink):
        check_ports(base, self.first + count)
        self.base = base
        try:
            for i in range(self.first, self.first + count):
                self.units.append(self._unit(loop, settings, i, base, sink))
        except BaseException:
            self.stop()
            raise

    def device_root(self, i):
        return os.path.join(self.root, "device-%04d" % i)

    def _unit(self, loop, settings, i, base, sink):
        root = self.device_root(i)
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
        elif self.remove_devices:
            for i in range(self.first, self.first + self.count):
                shutil.rmtree(self.device_root(i), ignore_errors=True)
            try:
                os.rmdir(self.root)  # the last process to leave it
            except OSError:
                pass

    def write_csv(self, path, host):
        write_device_list(path, host, self.base, len(self.units))

    def write_failures(self, path, host):
        write_failure_list(path, host, self.base, self.failures)


def write_device_list(path, host, base, count):
    """The device list: address,http_port,ftp_port, one device a line."""
    _write_rows(path, ["address", "http_port", "ftp_port"],
                ([host, base + 2 * i, base + 2 * i + 1]
                 for i in range(count)))


def write_failure_list(path, host, base, failures):
    """The devices given a failure, with its kind, in device order."""
    _write_rows(path, ["address", "http_port", "ftp_port", "fault"],
                ([host, base + 2 * i, base + 2 * i + 1, failures[i]]
                 for i in sorted(failures)))


def _write_rows(path, header, rows):
    temp = path + ".tmp"
    with open(temp, "w", newline="", encoding="utf-8") as out:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(header)
        writer.writerows(rows)
    os.replace(temp, path)

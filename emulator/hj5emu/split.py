"""A fleet split over processes: more devices than one process can hold.

One process serves at most as many devices as it can update all at once
within its descriptor limit (fleet.devices_per_process(), or
--devices-per-process). A larger fleet is served by worker processes, each
a Service with a contiguous slice of the devices on an event loop of its
own, and by this process, the coordinator, which

- finds the port range (every one of the 2N ports bound once, as a check)
  and starts the workers, each told its slice, the range, the root and the
  fleet's shared upload counts; the ready line follows once every worker
  listens (a port taken meanwhile: the attempt is dropped, as in one
  process);
- keeps the one control endpoint: /devices/I/... goes to the worker of
  device I, the plain paths to device 0's; GET /devices, /uploads and
  /usage answer for the whole fleet;
- writes the device and failure lists, and stops every worker.

A worker reads its orders as one JSON line on stdin and ends when stdin
ends, so it never outlives the coordinator, not even one killed with
SIGKILL.
"""

import errno
import fcntl
import http.client
import json
import mmap
import os
import random
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time

from . import netutil
from .control import Control, _Handler, _is_index
from .fleet import (BASE_TRIES, FleetError, base_range, check_ports,
                    choose_failures, write_device_list, write_failure_list)
from .ftp_side import Uploads
from .records import RecordFile
from .service import usage

SCRIPT = os.path.join(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))), "hj5-emulator")
START_SECONDS = 60.0   # a worker listens by then, or the start fails
PASS_SECONDS = 15.0    # a worker's loop answers within 10 s (loop.call)
STOP_SECONDS = 5.0     # then a worker still running is killed
SUMMED = ("user_seconds", "system_seconds", "cpu_seconds", "max_rss_kib",
          "threads", "descriptors")


class WorkerError(Exception):
    """A worker does not answer."""


def slices(count, per_process):
    """(first, count) of each worker: contiguous, sizes differing by at
    most one, none above per_process."""
    workers = -(-count // per_process)
    size, extra = divmod(count, workers)
    out, first = [], 0
    for k in range(workers):
        out.append((first, size + (k < extra)))
        first += out[-1][1]
    return out


class SharedUploads:
    """Uploads (open, most open at once, started, stored) of a whole split
    fleet, in a memory page that every process maps (a memfd that the
    workers inherit). Each change is made under a lock (fcntl; the kernel
    drops it with a process that dies), one at a time across processes, so
    max_open is the true most open at once over the fleet, as in one
    process."""

    _FORMAT = "4q"

    def __init__(self, fd=None):
        if fd is None:
            fd = os.memfd_create("hj5emu-uploads")
            os.ftruncate(fd, struct.calcsize(self._FORMAT))
        self.fd = fd
        self._map = mmap.mmap(fd, struct.calcsize(self._FORMAT))
        self._lock = threading.Lock()  # fcntl locks are the process's

    def _apply(self, name, *args):
        with self._lock:
            fcntl.lockf(self.fd, fcntl.LOCK_EX)
            try:
                counts = Uploads()
                (counts.open, counts.max_open, counts.started,
                 counts.stored) = struct.unpack_from(self._FORMAT, self._map)
                result = getattr(counts, name)(*args)
                struct.pack_into(self._FORMAT, self._map, 0, counts.open,
                                 counts.max_open, counts.started,
                                 counts.stored)
                return result
            finally:
                fcntl.lockf(self.fd, fcntl.LOCK_UN)

    def begin(self):
        self._apply("begin")

    def end(self, stored):
        self._apply("end", stored)

    def clear(self):
        self._apply("clear")

    def snapshot(self):
        return self._apply("snapshot")

    def close(self):
        self._map.close()
        os.close(self.fd)


def taken_port(host, base, count):
    """The first of the ports base..base+2*count-1 that host cannot bind
    (None: all are free)."""
    family, sockaddr = netutil.resolve(host, base)
    for port in range(base, base + 2 * count):
        try:
            netutil.bound_socket(family, (sockaddr[0], port) +
                                 tuple(sockaddr[2:])).close()
        except OSError as err:
            if err.errno != errno.EADDRINUSE:
                raise
            return port
    return None


class _Worker:
    """One worker process and its slice of the fleet; it loads while it
    waits for its orders."""

    def __init__(self, first, count, uploads_fd):
        self.first, self.count = first, count
        self.port = None      # its control endpoint, once it listens
        self.rusage = None    # once it has ended
        self.proc = subprocess.Popen(
            [sys.executable, SCRIPT, "--fleet-worker"], stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, pass_fds=(uploads_fd,))

    def send(self, orders):
        try:
            self.proc.stdin.write(json.dumps(dict(
                orders, first=self.first, count=self.count)).encode(
                    "utf-8") + b"\n")
            self.proc.stdin.flush()
        except OSError:
            pass  # it has ended: read_report() says so

    def name(self):
        return "the process of devices %d-%d" % (
            self.first, self.first + self.count - 1)

    def read_report(self):
        """Its one line: {"control": port} or {"error": text, "errno": n}."""
        line = self.proc.stdout.readline()
        try:
            report = json.loads(line)
        except ValueError:
            report = {"error": "%s ended at start" % self.name()}
        self.port = report.get("control")
        return report

    def ended(self):
        """How it ended ("exit status N", "signal N"), or None while it
        runs; it stays unreaped so that reap() gets its resource usage."""
        try:
            info = os.waitid(os.P_PID, self.proc.pid,
                             os.WEXITED | os.WNOHANG | os.WNOWAIT)
        except ChildProcessError:
            return "exit status %s" % self.proc.returncode
        if info is None:
            return None
        return ("exit status %d" if info.si_code == os.CLD_EXITED else
                "signal %d") % info.si_status

    def request(self, method, path, body=b""):
        """(status, body) of its control endpoint's answer."""
        if self.port is None:
            raise WorkerError("%s is not listening" % self.name())
        conn = http.client.HTTPConnection("127.0.0.1", self.port,
                                          timeout=PASS_SECONDS)
        try:
            conn.request(method, path, body=body if method in (
                "POST", "PUT") else None)
            resp = conn.getresponse()
            return resp.status, resp.read()
        except (OSError, http.client.HTTPException) as err:
            raise WorkerError("%s does not answer: %s" % (
                self.name(), err)) from err
        finally:
            conn.close()

    def get(self, path):
        status, data = self.request("GET", path)
        if status != 200:
            raise WorkerError("%s answered %d to %s" % (
                self.name(), status, path))
        return json.loads(data)

    def reap(self, deadline):
        """Waits for its end (killing it at `deadline`); keeps its usage."""
        if self.rusage is not None:
            return
        killed = False
        try:
            while True:
                pid, status, rusage = os.wait4(self.proc.pid, os.WNOHANG)
                if pid:
                    break
                if not killed and time.monotonic() >= deadline:
                    self.proc.kill()
                    killed = True
                time.sleep(0.02)
        except ChildProcessError:
            return
        self.rusage = rusage
        self.proc.returncode = os.waitstatus_to_exitcode(status)
        for pipe in (self.proc.stdin, self.proc.stdout):
            try:
                pipe.close()
            except OSError:
                pass


class Coordinator:
    """A fleet of args.devices devices served by workers of at most
    `per_process` devices each. The same interface as Service for cli.
    `stop` set during the start: the start ends early (stop() follows)."""

    def __init__(self, args, per_process, stop):
        self.args = args
        self.started = time.monotonic()
        self.count = args.devices
        self.failures = choose_failures(args.devices, args.fail_fraction,
                                        args.fail_seed, args.fail_kinds)
        self.workers = []
        self.base = None
        self.control = None
        self.uploads = None
        self.final = None   # the usage once stopped
        self.created_root = not args.root
        self.root = os.path.abspath(args.root or tempfile.mkdtemp(
            prefix="hj5emu-fleet-"))
        try:
            if args.record:
                RecordFile(args.record).close()  # emptied; workers append
            self.uploads = SharedUploads()
            self.control = Control(args.control_port, self, _Router)
            self._start_workers(slices(self.count, per_process), stop)
        except BaseException:
            self._end_workers()
            self._close()
            raise

    def _start_workers(self, parts, stop):
        """Finds the range (--base-port, or bases tried at random, each port
        found in use ruling out every base whose range holds it) and starts
        the workers on it."""
        fixed = self.args.base_port
        span = 2 * self.count
        if fixed:
            check_ports(fixed, self.count)
            low, top = fixed, fixed + 1
        else:
            low, top = base_range(self.count)
        bases, in_use, rng = set(range(low, top)), [], random.Random()
        for _ in range(BASE_TRIES):
            if not bases:
                break
            base = rng.choice(tuple(bases))
            for first, count in parts[len(self.workers):]:
                self.workers.append(_Worker(first, count, self.uploads.fd))
            taken = taken_port(self.args.host, base, self.count)
            if taken is None:
                failure = self._order(base, stop)
                if failure is None:
                    return
                self._end_workers()
                self.workers = []
                if failure.get("errno") != errno.EADDRINUSE:
                    raise FleetError(failure["error"])
                bases.discard(base)  # taken meanwhile
            else:
                in_use.append(taken)
                bases.difference_update(range(taken - span + 1, taken + 1))
        raise FleetError("no free range of %d ports from %d to %d%s" % (
            span, low, top + span - 2, "; in use: %s" % ", ".join(
                map(str, sorted(in_use))) if in_use else ""))

    def _order(self, base, stop):
        """Sends each worker its orders; None once all listen (or `stop`
        is set), else the first failure reported."""
        self.base = base
        orders = {"args": vars(self.args), "base": base, "root": self.root,
                  "remove_devices": self.created_root,
                  "control_port": self.control.port,
                  "uploads_fd": self.uploads.fd}
        for worker in self.workers:
            worker.send(orders)
        waiting = {w.proc.stdout.fileno(): w for w in self.workers}
        deadline = time.monotonic() + START_SECONDS
        while waiting and not stop.is_set():
            left = deadline - time.monotonic()
            if left <= 0:
                return {"error": "%s did not start within %d s" % (
                    next(iter(waiting.values())).name(), START_SECONDS)}
            ready, _, _ = select.select(list(waiting), [], [], min(left, 0.2))
            for fd in ready:
                report = waiting.pop(fd).read_report()
                if "error" in report:
                    return report
        return None

    def start(self):
        self.control.start()

    def ready_line(self):
        return "devices=%d http=%d ftp=%d control=%d" % (
            self.count, self.base, self.base + 1, self.control.port)

    def write_lists(self, args):
        if args.devices_csv:
            write_device_list(args.devices_csv, args.host, self.base,
                              self.count)
        if args.fault_list:
            write_failure_list(args.fault_list, args.host, self.base,
                               self.failures)

    def owner(self, index):
        """The worker of device `index` (None: no such device)."""
        for worker in self.workers:
            if worker.first <= index < worker.first + worker.count:
                return worker
        return None

    def check(self):
        """Why the fleet can no longer serve: a worker that ended."""
        for worker in self.workers:
            how = worker.ended()
            if how is not None:
                return "%s ended (%s)" % (worker.name(), how)
        return None

    def devices(self):
        out = []
        for worker in self.workers:
            out += worker.get("/devices")
        return out

    def _own_usage(self):
        return dict(usage(self.started), pid=os.getpid(), first=None,
                    devices=0)

    def _worker_usage(self, worker):
        own = worker.get("/usage")
        own.pop("processes", None)
        return own

    def usage(self):
        """CPU time and peak memory of every process together (sums; the
        peak memory is the sum of each process's peak) and of each."""
        if self.final is not None:
            return self.final
        return _total([self._own_usage()] + [self._worker_usage(w)
                                             for w in self.workers])

    def stop(self):
        """Ends every worker (each within STOP_SECONDS), then the rest."""
        if self.control is not None:
            self.control.stop()
        seen = {}
        if self.args.usage:  # threads and descriptors, before they end
            for worker in self.workers:
                try:
                    seen[worker] = self._worker_usage(worker)
                except WorkerError:
                    pass
        self._end_workers()
        parts = [self._own_usage()]
        for worker in self.workers:
            parts.append(_ended_usage(worker, seen.get(worker, {})))
        self.final = _total(parts)
        self._close()

    def _end_workers(self):
        for worker in self.workers:
            try:
                worker.proc.stdin.close()  # its stdin ends: it stops
            except OSError:
                pass
        deadline = time.monotonic() + STOP_SECONDS
        for worker in self.workers:
            worker.reap(deadline)

    def _close(self):
        if self.uploads is not None:
            self.uploads.close()
            self.uploads = None
        if self.created_root:
            shutil.rmtree(self.root, ignore_errors=True)


def _ended_usage(worker, seen):
    """A worker's usage from its end (CPU time, peak memory) and from the
    last answer it gave (threads, descriptors, wall time)."""
    own = {"pid": worker.proc.pid, "first": worker.first,
           "devices": worker.count, "threads": seen.get("threads"),
           "descriptors": seen.get("descriptors"),
           "wall_seconds": seen.get("wall_seconds")}
    ru = worker.rusage
    if ru is not None:
        own.update(user_seconds=ru.ru_utime, system_seconds=ru.ru_stime,
                   cpu_seconds=ru.ru_utime + ru.ru_stime,
                   max_rss_kib=ru.ru_maxrss)
    return own


def _total(parts):
    out = {key: sum(p.get(key) or 0 for p in parts) for key in SUMMED}
    out["wall_seconds"] = parts[0]["wall_seconds"]
    out["processes"] = parts
    return out


class _Router(_Handler):
    """The control endpoint of a split fleet: answers for the whole fleet,
    passes a device's request on to its worker unchanged. `service` is the
    Coordinator."""

    def _dispatch(self, method):
        parts = self._parts()
        body = self._body() if method in ("POST", "PUT") else b""
        fleet = self.service
        whole = {"usage": fleet.usage, "uploads": fleet.uploads.snapshot,
                 "devices": fleet.devices}
        try:
            if method == "GET" and len(parts) == 1 and parts[0] in whole:
                self._reply(200, whole[parts[0]]())
                return
            worker = fleet.workers[0]  # the plain paths: device 0
            if parts[0] == "devices":
                if len(parts) == 1:
                    self._reply(405, {"error": "method not allowed"})
                    return
                index = parts[1]
                worker = fleet.owner(int(index)) if _is_index(index) \
                    else None
                if worker is None:
                    self._reply(404, {"error": "no device %r" % index})
                    return
            status, data = worker.request(method, self.path, body)
        except WorkerError as err:
            self._reply(503, {"error": str(err)})
            return
        self._send(status, data)

"""Command line and wiring of the HJ-5 emulator."""

import argparse
import json
import logging
import os
import select
import signal
import sys
import threading

from .faults import FaultError
from .fleet import ALL_KINDS, FAIL_KINDS, FleetError, devices_per_process
from .service import Service
from .split import Coordinator, SharedUploads
from .version import version

DESCRIPTION = """\
HJ-5 device emulator. Answers the device's HTTP commands (POST /system.wcr),
runs its FTP server when svr_ftp_port is 21, restarts on MODE=3 ACT=1,
records everything it receives and fails on demand. Binds --host (default
127.0.0.1). Once ready it prints one line on stdout:
  http=PORT ftp=PORT control=PORT
With --devices N it serves a fleet of N independent devices, device i on
ports BASE+2i (HTTP) and BASE+2i+1 (FTP), from one event loop, or, when one
process cannot hold them all, from several processes behind one control
port, and prints
  devices=N http=BASE ftp=BASE+1 control=PORT
"""

EPILOG = r"""
commands (body fields ID, PW, MODE, ACT, CODE, DATA; never URL-decoded):
  no fields at all (the probe "\r\n")  -1
  wrong ID -2, wrong password -3
  MODE=4            parameters as "name=value\r\n" lines, then HJ5_Ret(0)
  MODE=2 ACT=21     parameter CODE := DATA, 0 (unknown parameter: -5)
  MODE=3 ACT=1      0, then restart: down for --reboot-seconds
  MODE=1 ACT=1      0
  anything else     -6
  The body is split on "&"; pieces without "=" are ignored, so an ID with
  "&" in it is cut there. The FTP server runs after a boot if and only if
  svr_ftp_port was "21" at that boot.

faults (JSON objects; --fault at start, POST /faults later):
  HTTP reply faults, aimed by "match": {"MODE":"2","CODE":"svr_ftp_port",
  "DATA":"0"} (fields compared exactly), "nth": N (the Nth HTTP request,
  counted from 1 since start or the last DELETE /records), "probe": true
  (bodies without fields); no aim: every request. The first fault that
  matches is used. Every fault may carry "times": N: it is spent after N
  uses (default: never).
    {"code": -3}              reply HJ5_Ret(-3); the command is not carried out
                              (add "execute": true to carry it out anyway)
    {"delay_ms": 2500}        wait before the reply
    {"drip_ms": 1000}         send the reply one byte per N ms
    {"truncate": 10}          send the first N bytes of the reply, then close
    {"oversize": true}        20 KB body, the token at its end
    {"garbage": true}         a body without a token
    {"token_not_at_end": true}  "\r\nEND\r\n" after the token (or a given text)
    {"body": "TEXT"}          the body, verbatim
    {"reset": true}           send half the reply (or N bytes), then RST
    {"blackhole": true}       accept, read, never answer
    {"close": true}           close the connection after the reply
  Kinds combine, e.g. {"match": {"MODE":"4"}, "code": -5, "delay_ms": 500}.
  Except with "code", the command is carried out ("execute": false: not).
  Faults do not apply while the device is down.
  Restart faults:
    {"never_back_after_restart": N}  the Nth restart from now never boots
                              again (POST /restart brings it back)
  FTP faults:
    {"ftp": "login_refused"}  530 to PASS
    {"ftp": "stor_550"}       STOR answered 550
    {"ftp": "stor_552"}       STOR answered 552
    {"ftp": "final_451"}      upload received, then 451; the file is removed
    {"ftp": "drop_mid_upload"}  reset data and control connections after the
                              first byte (or "after_bytes": N) of an upload
    {"ftp": "not_started"}    FTP server off while the fault is set
    {"ftp": "store_short"}    upload answered 226, but the stored file lacks
                              its last byte (or "drop_bytes": N)
    {"ftp": "store_flip"}     upload answered 226, but one stored byte is
                              inverted (the middle one, or "at": K)
    {"ftp": "no_size"}        SIZE answered 502; FEAT does not list it
    {"ftp": "slow_store"}     read an upload at 64 KiB/s (or
                              "bytes_per_second": N)

control endpoint (http://127.0.0.1:CONTROL):
  GET /state, GET /params, GET|PUT /params/NAME (raw value as body),
  GET|POST|DELETE /faults, GET|DELETE /records, GET /records/bodies,
  GET /records/raw, GET /records/ftp, POST /restart,
  POST /left-in-update (svr_ftp_port 21, user9 UPDATE, FTP server on now)
  Texts in records are the bytes received, one code point per byte.

  GET /devices; /devices/I/<any path above> addresses device I of a fleet
  (the plain paths: device 0); GET /usage: CPU time, peak memory, threads,
  descriptors of every process together and of each ("processes");
  GET /uploads: {"open", "max_open", "stored", "started"} of every device
  together (DELETE /records counts again from then)

FTP: the path C:\www\NAME is stored as ROOT/www/NAME; any other path 550.
An upload closed in order (FIN) is stored and answered 226 (event
ftp_stored); one reset (RST) or ABORted is answered 426 or not at all and
recorded as ftp_incomplete; the bytes received stay in the file.
SIZE answers only after TYPE I (ASCII mode: 550).
A fleet's device I keeps its uploads in ROOT/device-IIII/www.
See docs/emulator.md for examples.
"""


def parse_args(argv):
    parser = argparse.ArgumentParser(
        prog="hj5-emulator", description=DESCRIPTION, epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    add = parser.add_argument
    add("--host", default="127.0.0.1",
        help="address for the HTTP and FTP sides (default 127.0.0.1)")
    add("--http-port", type=int, default=0,
        help="HTTP command port; 0: the OS picks (default 0)")
    add("--ftp-port", type=int, default=0,
        help="FTP port, held even while the FTP server is off; 0: the OS "
             "picks (default 0)")
    add("--control-port", type=int, default=0,
        help="control endpoint port on 127.0.0.1; 0: the OS picks (default 0)")
    add("--root", help="folder for uploads (ROOT/www); default: a temporary "
                       "folder removed at exit")
    add("--id", default="admin", help="login ID (default admin)")
    add("--pw", default="hj5pass", help="password (default hj5pass)")
    add("--reboot-seconds", type=float, default=3.0,
        help="time the device is down after a restart; fractions allowed "
             "(default 3)")
    add("--down", choices=("refuse", "blackhole"), default="refuse",
        help="while down: refuse connections, or accept and never answer "
             "(default refuse)")
    add("--close", action="store_true",
        help="close the connection after each reply (default: keep it open)")
    add("--no-length", action="store_true",
        help="send no Content-Length (the connection stays open)")
    add("--ftp-on", action="store_true",
        help="start with svr_ftp_port=21 and the FTP server running")
    add("--left-in-update", action="store_true",
        help="start as an update that never finished leaves the device: "
             "svr_ftp_port=21, user9=UPDATE, the FTP server running (every "
             "device of a fleet)")
    add("--param", action="append", default=[], metavar="NAME=VALUE",
        help="set or add a parameter at start (repeatable)")
    add("--fault", action="append", default=[], metavar="JSON",
        help="add a fault at start (repeatable); see below")
    add("--record", metavar="FILE",
        help="also write every record as a JSON line to FILE")
    fleet = parser.add_argument_group("a fleet of devices")
    fleet.add_argument(
        "--devices", type=int, metavar="N",
        help="serve N devices on consecutive ports (instead of "
             "--http-port/--ftp-port)")
    fleet.add_argument(
        "--base-port", type=int, default=0, metavar="PORT",
        help="device i on PORT+2i (HTTP) and PORT+2i+1 (FTP); 0: a free "
             "range is found (default 0)")
    fleet.add_argument(
        "--devices-csv", metavar="FILE",
        help="write the device list (address,http_port,ftp_port) to FILE")
    fleet.add_argument(
        "--fail-fraction", type=float, default=0.0, metavar="F",
        help="give round(F*N) devices, chosen by --fail-seed, one failure "
             "each, of assorted kinds (default 0)")
    fleet.add_argument(
        "--fail-seed", type=int, default=1, metavar="S",
        help="seed for which devices fail and how (default 1)")
    fleet.add_argument(
        "--fail-kinds", default=",".join(FAIL_KINDS), metavar="K,K",
        help="kinds to assort, from: %s (default: all but the last five)"
             % ", ".join(ALL_KINDS))
    fleet.add_argument(
        "--left-in-update-list", default="", metavar="I,J",
        help="only these devices (indices from 0) start as --left-in-update")
    fleet.add_argument(
        "--fault-list", metavar="FILE",
        help="write the failing devices (address,http_port,ftp_port,fault) "
             "to FILE")
    fleet.add_argument(
        "--devices-per-process", type=int, metavar="M",
        help="serve at most M devices per process; more devices are shared "
             "over several processes (default: as many as one process can "
             "update at once within its descriptor limit)")
    add("--fleet-worker", action="store_true", help=argparse.SUPPRESS)
    add("--usage", metavar="FILE",
        help="at exit, write the emulator's CPU time and peak memory to FILE "
             "(JSON; every process together, and each)")
    add("--exit-on-stdin-eof", action="store_true",
        help="exit when stdin reaches end of file (for test harnesses)")
    add("--verbose", action="store_true", help="log to stderr")
    add("--version", action="version", version="%(prog)s " + version())
    args = parser.parse_args(argv)
    if args.reboot_seconds < 0:
        parser.error("--reboot-seconds must be >= 0")
    for item in args.param:
        if "=" not in item:
            parser.error("--param needs NAME=VALUE: %r" % item)
    _check_fleet_args(parser, args)
    return parser, args


def _check_fleet_args(parser, args):
    args.fail_kinds = [k for k in args.fail_kinds.split(",") if k]
    for kind in args.fail_kinds:
        if kind not in ALL_KINDS:
            parser.error("--fail-kinds: unknown kind %r" % kind)
    indices = [i.strip() for i in args.left_in_update_list.split(",")
               if i.strip()]
    if not all(i.isdigit() for i in indices):
        parser.error("--left-in-update-list takes device indices: %r" %
                     args.left_in_update_list)
    args.left_in_update_list = [int(i) for i in indices]
    if args.devices is None:
        for name in ("devices_csv", "fault_list", "base_port",
                     "left_in_update_list", "devices_per_process"):
            if getattr(args, name):
                parser.error("--%s needs --devices" % name.replace("_", "-"))
        if args.fail_fraction:
            parser.error("--fail-fraction needs --devices")
        return
    if args.devices < 1:
        parser.error("--devices must be >= 1")
    if args.devices_per_process is not None and args.devices_per_process < 1:
        parser.error("--devices-per-process must be >= 1")
    if args.http_port or args.ftp_port:
        parser.error("--devices takes --base-port, not --http-port/--ftp-port")
    if not 0 <= args.fail_fraction <= 1:
        parser.error("--fail-fraction must be between 0 and 1")
    if args.fail_fraction and not args.fail_kinds:
        parser.error("--fail-kinds is empty")
    if not 0 <= args.base_port <= 65535:
        parser.error("--base-port must be a port number")
    for index in args.left_in_update_list:
        if index >= args.devices:
            parser.error("--left-in-update-list: no device %d" % index)


def _wait_for_stop(stop, watch_stdin, check=lambda: None):
    """Until a signal, the end of stdin (if watched) or a problem that
    check() names (returned)."""
    while not stop.is_set():
        problem = check()
        if problem:
            return problem
        if not watch_stdin:
            stop.wait(0.2)
            continue
        try:
            ready, _, _ = select.select([sys.stdin.fileno()], [], [], 0.2)
            if ready and not os.read(sys.stdin.fileno(), 4096):
                return None
        except (OSError, ValueError):
            return None
    return None


def _service(args, stop):
    """One process for a lone device or a fleet it can hold; else a fleet
    split over processes."""
    if args.devices is not None:
        share = args.devices_per_process or devices_per_process()
        if share is not None and args.devices > share:
            return Coordinator(args, share, stop)
    return Service(args)


def _read_line(fd):
    data = b""
    while not data.endswith(b"\n"):
        chunk = os.read(fd, 65536)
        if not chunk:
            break
        data += chunk
    return data


def _report(obj):
    sys.stdout.write(json.dumps(obj) + "\n")
    sys.stdout.flush()


def _run_worker():
    """A process of a split fleet: its orders as one JSON line on stdin
    (from split.Coordinator), then {"control": PORT} or {"error": TEXT,
    "errno": N} on stdout; it stops when stdin ends (or on SIGTERM)."""
    stop = threading.Event()
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # the coordinator stops it
    signal.signal(signal.SIGTERM, lambda signum, frame: stop.set())
    try:
        orders = json.loads(_read_line(sys.stdin.fileno()))
    except ValueError:
        return 1  # the coordinator is gone
    args = argparse.Namespace(**orders["args"])
    if args.verbose:
        logging.getLogger().setLevel(logging.INFO)
    args.base_port, args.root, args.control_port = (
        orders["base"], orders["root"], 0)
    part = {"first": orders["first"], "count": orders["count"],
            "control_port": orders["control_port"],
            "remove_devices": orders["remove_devices"],
            "uploads": SharedUploads(orders["uploads_fd"])}
    try:
        service = Service(args, part)
    except (OSError, ValueError, FaultError, FleetError) as err:
        try:
            _report({"error": str(err), "errno": getattr(err, "errno", None)})
        except OSError:
            pass
        return 1
    try:
        service.start()
        _report({"control": service.control.port})
        _wait_for_stop(stop, True)
    except OSError:
        pass  # the coordinator is gone
    finally:
        service.stop()
    return 0


def _write_usage(service, path):
    with open(path, "w", encoding="utf-8") as out:
        json.dump(service.usage(), out)
        out.write("\n")


def main(argv=None):
    _, args = parse_args(sys.argv[1:] if argv is None else argv)
    logging.basicConfig(
        stream=sys.stderr, format="hj5-emulator: %(message)s",
        level=logging.INFO if args.verbose else logging.WARNING)
    if args.fleet_worker:
        return _run_worker()
    stop = threading.Event()

    def on_signal(signum, frame):
        stop.set()

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    try:
        service = _service(args, stop)
    except (OSError, ValueError, FaultError, FleetError) as err:
        print("hj5-emulator: cannot start: %s" % err, file=sys.stderr)
        return 1
    status = 0
    try:
        service.start()
        service.write_lists(args)
        if not stop.is_set():
            print(service.ready_line(), flush=True)
            problem = _wait_for_stop(stop, args.exit_on_stdin_eof,
                                     service.check)
            if problem:
                print("hj5-emulator: %s" % problem, file=sys.stderr)
                status = 1
    except OSError as err:
        print("hj5-emulator: cannot write: %s" % err, file=sys.stderr)
        status = 1
    finally:
        service.stop()
    if args.usage:
        try:
            _write_usage(service, args.usage)
        except OSError as err:
            print("hj5-emulator: cannot write: %s" % err, file=sys.stderr)
            status = 1
    return status

"""Command line and wiring of the HJ-5 emulator."""

import argparse
import json
import logging
import os
import select
import shutil
import signal
import sys
import tempfile
import threading
import time

from .control import Control
from .device import Device
from .faults import FaultBook, FaultError
from .ftp_side import FtpSide
from .http_side import HttpSide
from .records import Records

DESCRIPTION = """\
HJ-5 device emulator. Answers the device's HTTP commands (POST /system.wcr),
runs its FTP server when svr_ftp_port is 21, restarts on MODE=3 ACT=1,
records everything it receives and fails on demand. Binds --host (default
127.0.0.1). Once ready it prints one line on stdout:
  http=PORT ftp=PORT control=PORT
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

control endpoint (http://127.0.0.1:CONTROL):
  GET /state, GET /params, GET|PUT /params/NAME (raw value as body),
  GET|POST|DELETE /faults, GET|DELETE /records, GET /records/bodies,
  GET /records/raw, GET /records/ftp, POST /restart
  Texts in records are the bytes received, one code point per byte.

FTP: the path C:\www\NAME is stored as ROOT/www/NAME; any other path 550.
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
    add("--param", action="append", default=[], metavar="NAME=VALUE",
        help="set or add a parameter at start (repeatable)")
    add("--fault", action="append", default=[], metavar="JSON",
        help="add a fault at start (repeatable); see below")
    add("--record", metavar="FILE",
        help="also write every record as a JSON line to FILE")
    add("--exit-on-stdin-eof", action="store_true",
        help="exit when stdin reaches end of file (for test harnesses)")
    add("--verbose", action="store_true", help="log to stderr")
    args = parser.parse_args(argv)
    if args.reboot_seconds < 0:
        parser.error("--reboot-seconds must be >= 0")
    for item in args.param:
        if "=" not in item:
            parser.error("--param needs NAME=VALUE: %r" % item)
    return parser, args


class Emulator:
    """The device with its HTTP side, FTP side, control endpoint."""

    def __init__(self, args):
        self.created_root = not args.root
        self.root = os.path.abspath(args.root or tempfile.mkdtemp(
            prefix="hj5emu-"))
        try:
            self._build(args)
        except BaseException:
            if self.created_root:
                shutil.rmtree(self.root, ignore_errors=True)
            raise

    def _build(self, args):
        self.www = os.path.join(self.root, "www")
        os.makedirs(self.www, exist_ok=True)
        self.records = Records(args.record)
        self.faults = FaultBook()
        for text in args.fault:
            self.faults.add(json.loads(text))
        params = dict(item.split("=", 1) for item in args.param)
        self.device = Device(args.id, args.pw, params, self.faults,
                             self.records, args.reboot_seconds, args.ftp_on)
        self.ftp = FtpSide(args.host, args.ftp_port, self.www, args.id,
                           args.pw, self.faults, self.records)
        self.http = HttpSide(args.host, args.http_port, self.device,
                             self.records, args.close, args.no_length,
                             args.down)
        self.control = Control(args.control_port, self)
        self.device.hooks = self

    def start(self):
        self.ftp.start(self.device.ftp_should_run())
        self.http.start()
        self.control.start()

    def ready_line(self):
        return "http=%d ftp=%d control=%d" % (self.http.port, self.ftp.port,
                                              self.control.port)

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

    def state(self):
        out = self.device.state()
        out.update({
            "ftp_running": self.ftp.running,
            "ports": {"http": self.http.port, "ftp": self.ftp.port,
                      "control": self.control.port},
            "root": self.root,
            "faults": self.faults.describe(),
            "http_requests": len(self.records.http_field("seq")),
        })
        return out

    def stop(self):
        deadline = time.monotonic() + 1.5
        log = logging.getLogger("hj5emu")
        self.device.close()
        self.control.stop()
        log.info("control stopped")
        self.http.stop(deadline)
        log.info("http stopped")
        self.ftp.stop(deadline)
        log.info("ftp stopped")
        self.records.close()
        if self.created_root:
            shutil.rmtree(self.root, ignore_errors=True)


def _wait_for_stop(stop, watch_stdin):
    while not stop.is_set():
        if not watch_stdin:
            stop.wait(0.2)
            continue
        try:
            ready, _, _ = select.select([sys.stdin.fileno()], [], [], 0.2)
            if ready and not os.read(sys.stdin.fileno(), 4096):
                return
        except (OSError, ValueError):
            return


def main(argv=None):
    _, args = parse_args(sys.argv[1:] if argv is None else argv)
    logging.basicConfig(
        stream=sys.stderr, format="hj5-emulator: %(message)s",
        level=logging.INFO if args.verbose else logging.WARNING)
    stop = threading.Event()

    def on_signal(signum, frame):
        stop.set()

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    try:
        emulator = Emulator(args)
    except (OSError, ValueError, FaultError) as err:
        print("hj5-emulator: cannot start: %s" % err, file=sys.stderr)
        return 1
    try:
        emulator.start()
        if not stop.is_set():
            print(emulator.ready_line(), flush=True)
            _wait_for_stop(stop, args.exit_on_stdin_eof)
    finally:
        emulator.stop()
    return 0

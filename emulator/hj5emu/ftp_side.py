"""The device's FTP server (pyftpdlib), started and stopped with the device.

Only "C:\\www\\<name>" is a valid file path; it is stored as <root>/www/<name>.
All FTP work runs on one thread in pyftpdlib's IO loop; nothing in a handler
sleeps. Other threads only ask for the server to be on or off.
"""

import logging
import os
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.ioloop import IOLoop
from pyftpdlib.servers import FTPServer

from . import netutil
from .records import text_of

PREFIX = "C:\\www\\"
FILE_COMMANDS = ("STOR", "APPE", "RETR", "SIZE", "MDTM", "DELE")
LOG = logging.getLogger("pyftpdlib")


def device_name(arg):
    """The file name of a device path "C:\\www\\<name>", else None."""
    if not arg.startswith(PREFIX):
        return None
    name = arg[len(PREFIX):]
    if not name or name in (".", "..") or any(c in name for c in "/\\\0"):
        return None
    return name


class _Dtp(DTPHandler):
    """Data channel that can fail the way a faulty device does."""

    def handle_read(self):
        super().handle_read()
        drop = getattr(self.cmd_channel, "drop_fault", None)
        if (drop and not self._closed and
                self.tot_bytes_received >= drop.get("after_bytes", 1)):
            self.cmd_channel.drop_fault = None
            self._drop_everything()

    handle_read_event = handle_read  # the base class binds its own

    def _drop_everything(self):
        if self.file_obj is not None:
            self.file_obj.flush()
        channel = self.cmd_channel
        channel.side.records.add_event(
            "ftp_dropped", session=channel.session_id,
            received=self.tot_bytes_received)
        self._resp = ()
        netutil.reset_and_close(self.socket)
        self.close()
        netutil.reset_and_close(channel.socket)
        channel.close()

    def close(self):
        if (not self._closed and self.receive and self.transfer_finished and
                self.file_obj is not None):
            self._settle_upload()
        super().close()

    def _settle_upload(self):
        """Records (or, under final_451, discards) a complete upload before
        the final reply goes out."""
        channel = self.cmd_channel
        path = self.file_obj.name
        self.file_obj.flush()  # closing it here would upset pyftpdlib's logs
        size = os.fstat(self.file_obj.fileno()).st_size
        name = os.path.basename(path)
        if channel.final_451:
            channel.final_451 = False
            os.remove(path)
            self._resp = ("451 Requested action aborted: local error in "
                          "processing.", LOG.info)
            channel.side.records.add_event("ftp_discarded", name=name,
                                           size=size)
        else:
            channel.side.records.add_event("ftp_stored", name=name, size=size)


class _Handler(FTPHandler):
    """Command channel: records every line, maps device paths, fails on
    demand. `side` is set on a subclass per server."""

    side = None
    auth_failed_timeout = 0
    banner = "HJ-5 FTP server ready."
    unicode_errors = "surrogateescape"
    dtp_handler = _Dtp
    timeout = 120

    def __init__(self, conn, server, ioloop=None):
        self.session_id = self.side.next_session()
        self.final_451 = False
        self.drop_fault = None
        super().__init__(conn, server, ioloop=ioloop)

    def found_terminator(self):
        raw = b"".join(self._in_buffer)
        if raw.endswith(b"\r"):
            raw = raw[:-1]
        self.side.records.add_ftp(self.session_id, text_of(raw))
        super().found_terminator()

    def pre_process_command(self, line, cmd, arg):
        if self.authenticated and cmd in FILE_COMMANDS + ("STOU",):
            name = device_name(arg) if cmd != "STOU" else None
            if name is None:
                self.respond("550 Only %s<name> is a valid path." % PREFIX)
                return
            arg = "/" + name
            line = "%s %s" % (cmd, arg)
        super().pre_process_command(line, cmd, arg)

    def ftp_PASS(self, line):
        if not self.authenticated and self.side.faults.take_ftp(
                "login_refused"):
            self.handle_auth_failed("Login refused.", line)
            return
        super().ftp_PASS(line)

    def ftp_STOR(self, file, mode="w"):
        faults = self.side.faults
        if faults.take_ftp("stor_550"):
            self.respond("550 Permission denied.")
            return None
        if faults.take_ftp("stor_552"):
            self.respond("552 Requested file action aborted. Exceeded "
                         "storage allocation.")
            return None
        self.final_451 = faults.take_ftp("final_451") is not None
        self.drop_fault = faults.take_ftp("drop_mid_upload")
        return super().ftp_STOR(file, mode)

    def on_incomplete_file_received(self, file):
        self.side.records.add_event("ftp_incomplete",
                                    name=os.path.basename(file))


class FtpSide:
    """The FTP server on host:port; the port is held even while it is off."""

    def __init__(self, host, port, www, login_id, password, faults, records):
        self.www = www
        self.faults = faults
        self.records = records
        self._holder = netutil.PortHolder(host, port)
        self.port = self._holder.port
        authorizer = DummyAuthorizer()
        authorizer.add_user(login_id, password, www, perm="elradfmwMT")
        self._handler = type("DeviceFtpHandler", (_Handler,),
                             {"side": self, "authorizer": authorizer})
        self._sessions = 0
        self._cond = threading.Condition()
        self._want = False
        self._running = False
        self._ioloop = None
        self._stop = threading.Event()
        self._thread = None

    def next_session(self):
        self._sessions += 1
        return self._sessions

    @property
    def running(self):
        with self._cond:
            return self._running

    def start(self, running):
        self._want = running
        self._apply()
        self._thread = threading.Thread(target=self._loop, name="ftp",
                                        daemon=True)
        self._thread.start()

    def set_running(self, running):
        """Turns the server on or off; returns once done (at most 2 s)."""
        with self._cond:
            self._want = running
            self._cond.wait_for(
                lambda: self._running == running or self._stop.is_set(), 2.0)

    def stop(self, deadline):
        self._stop.set()
        if self._thread:
            self._thread.join(max(0.0, deadline - time.monotonic()))
        with self._cond:
            if self._ioloop is not None:
                self._ioloop.close()
                self._ioloop = None
        self._holder.close()

    def _apply(self):
        with self._cond:
            if self._want == self._running:
                return
            if self._want:
                self._ioloop = IOLoop()
                FTPServer(self._holder.listen(), self._handler,
                          ioloop=self._ioloop)
            else:
                self._ioloop.close()
                self._ioloop = None
                self._holder.unlisten()
            self._running = self._want
            self.records.add_event("ftp_" + ("up" if self._want else "down"))
            self._cond.notify_all()

    def _loop(self):
        while not self._stop.is_set():
            self._apply()
            ioloop = self._ioloop
            if ioloop is None:
                self._stop.wait(0.05)
                continue
            try:
                ioloop.poll(0.05)
                ioloop.sched.poll()
            except Exception:  # a handler bug must not end the device
                LOG.exception("FTP loop")

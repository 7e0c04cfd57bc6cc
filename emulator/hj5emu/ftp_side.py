"""The device's FTP server (pyftpdlib), started and stopped with the device.

Only "C:\\www\\<name>" is a valid file path; it is stored as <root>/www/<name>.
All FTP work runs on the shared event loop (pyftpdlib's IOLoop); nothing in
a handler sleeps: a slow store pauses reading with a loop timer.

An upload (STOR or APPE) is open from the command accepted (150 or 125)
until its data transfer has ended in any way. It is stored when the client
closed the data connection in order (FIN) and the reply is 226; a reset
(RST), an ABOR, a data timeout, the session or the server ending first leave
it incomplete: the reply is 426 (or none), the event ftp_incomplete, and the
bytes received so far stay in the file, as pyftpdlib leaves them.
"""

import errno
import logging
import os
import socket
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.ioloop import RetryError
from pyftpdlib.servers import FTPServer

from . import netutil
from .records import text_of

PREFIX = "C:\\www\\"
FILE_COMMANDS = ("STOR", "APPE", "RETR", "SIZE", "MDTM", "DELE")
SLOW_BYTES_PER_SECOND = 64 * 1024
SLOW_READS_PER_SECOND = 8
RETRY = (errno.EAGAIN, errno.EWOULDBLOCK, errno.EINTR)
RESET = (errno.ECONNRESET, errno.ECONNABORTED, errno.EPIPE, errno.ETIMEDOUT,
         errno.ENOTCONN, errno.ESHUTDOWN)
LOG = logging.getLogger("pyftpdlib")


def device_name(arg):
    """The file name of a device path "C:\\www\\<name>", else None."""
    if not arg.startswith(PREFIX):
        return None
    name = arg[len(PREFIX):]
    if not name or name in (".", "..") or any(c in name for c in "/\\\0"):
        return None
    return name


class Uploads:
    """Uploads of the whole process, every device's together: open now, the
    most open at once, accepted, stored (226). Loop thread only."""

    def __init__(self):
        self.open = 0
        self.max_open = 0
        self.started = 0
        self.stored = 0

    def begin(self):
        self.started += 1
        self.open += 1
        self.max_open = max(self.max_open, self.open)

    def end(self, stored):
        self.open -= 1
        if stored:
            self.stored += 1

    def clear(self):
        """Counts again from now; the uploads still open stay counted."""
        self.started = self.stored = 0
        self.max_open = self.open

    def snapshot(self):
        return {"open": self.open, "max_open": self.max_open,
                "stored": self.stored, "started": self.started}


class _Upload:
    """One accepted STOR/APPE with the faults it was given; ends once."""

    def __init__(self, side, name):
        faults = side.faults
        self.name = name
        self.final_451 = faults.take_ftp("final_451") is not None
        self.drop = faults.take_ftp("drop_mid_upload")
        self.tamper = (faults.take_ftp("store_short") or
                       faults.take_ftp("store_flip"))
        slow = faults.take_ftp("slow_store")
        self.rate = (slow.get("bytes_per_second", SLOW_BYTES_PER_SECOND)
                     if slow else 0)
        self._side = side
        self._open = True
        side.uploads.begin()

    def end(self, stored, received=0, reason=None):
        """Counts the end; an upload not stored is recorded as incomplete."""
        if not self._open:
            return
        self._open = False
        if not stored and reason is not None:
            self._side.records.add_event("ftp_incomplete", name=self.name,
                                         received=received, reason=reason)
        self._side.uploads.end(stored)


def _tamper(path, size, fault):
    """Changes the stored file as a store_short or store_flip fault says;
    returns its size."""
    if size == 0:
        return size
    if fault["ftp"] == "store_short":
        size -= min(fault.get("drop_bytes", 1), size)
        os.truncate(path, size)
        return size
    at = min(fault.get("at", size // 2), size - 1)
    with open(path, "r+b") as stored:
        stored.seek(at)
        byte = stored.read(1)[0]
        stored.seek(at)
        stored.write(bytes([byte ^ 0xFF]))
    return size


class _Dtp(DTPHandler):
    """Data channel that tells a reset from an orderly end and can fail the
    way a faulty device does."""

    def __init__(self, sock, cmd_channel):
        self.upload = None
        self.end_reason = None  # why an upload ends early, once known
        self._slow_since = None
        self._paused = False
        super().__init__(sock, cmd_channel)

    def enable_receiving(self, type, cmd):
        super().enable_receiving(type, cmd)
        upload = self.cmd_channel.take_pending_upload()
        if upload is not None:
            self.start_upload(upload)

    def start_upload(self, upload):
        self.upload = upload
        if upload.rate:
            self.ac_in_buffer_size = max(
                1, min(self.ac_in_buffer_size,
                       upload.rate // SLOW_READS_PER_SECOND))
            self._slow_since = time.monotonic()

    def recv(self, buffer_size):
        """As pyftpdlib's, but a reset is remembered as one: its handle_close
        cannot tell it from the client's orderly close."""
        try:
            data = self.socket.recv(buffer_size)
        except OSError as err:
            if err.errno in RETRY:
                raise RetryError from err
            if err.errno not in RESET:
                raise
            self.end_reason = self.end_reason or "reset"
            data = b""
        if not data:
            self.handle_close()
        return data

    def handle_read(self):
        super().handle_read()
        upload = self.upload
        if self._closed or upload is None:
            return
        if upload.drop and self.tot_bytes_received >= upload.drop.get(
                "after_bytes", 1):
            upload.drop = None
            self._drop_everything()
        elif upload.rate:
            self._throttle(upload.rate)

    handle_read_event = handle_read  # the base class binds its own

    def _throttle(self, rate):
        """Stops reading until the bytes so far fit the rate; the kernel's
        buffers then hold the client back. The socket stays in the loop
        with no events wanted: epoll still reports a reset at once."""
        due = self._slow_since + self.tot_bytes_received / rate
        wait = due - time.monotonic()
        if wait > 0 and not self._paused:
            self._paused = True
            self.modify_ioloop_events(0)
            self.call_later(wait, self._resume)

    def _resume(self):
        self._paused = False
        if not self._closed:
            self.modify_ioloop_events(self.ioloop.READ)

    def handle_close(self):
        if not self._closed and self.receive:
            if self.end_reason is None and self._socket_error():
                self.end_reason = "reset"
            if self.end_reason is not None:
                self._resp = ("426 Connection closed; transfer aborted.",
                              LOG.info)
                self.close()
                return
        super().handle_close()

    def _socket_error(self):
        try:
            return self.socket.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
        except OSError:
            return 0

    def handle_timeout(self):
        if self.get_transmitted_bytes() <= self._lastdata:
            self.end_reason = self.end_reason or "timeout"
        super().handle_timeout()

    def handle_error(self):
        self.end_reason = self.end_reason or "error"
        super().handle_error()

    def _drop_everything(self):
        if self.file_obj is not None:
            self.file_obj.flush()
        channel = self.cmd_channel
        channel.side.records.add_event(
            "ftp_dropped", session=channel.session_id,
            received=self.tot_bytes_received)
        self.end_reason = "dropped"
        self._resp = ()
        netutil.reset_and_close(self.socket)
        self.close()
        netutil.reset_and_close(channel.socket)
        channel.close()

    def use_sendfile(self):
        # pyftpdlib asks this while it describes the session for a log line,
        # also after the file was closed (a reply that fails because the
        # client reset both connections).
        try:
            return super().use_sendfile()
        except ValueError:
            return False

    def close(self):
        if self._closed:
            return
        upload, self.upload = self.upload, None
        if (upload is not None and self.transfer_finished and
                self.file_obj is not None):
            self._settle_upload(upload)
        try:
            super().close()
        finally:
            # Counted however the final reply fared.
            if upload is not None:
                stored = bool(self._resp) and self._resp[0].startswith("226")
                upload.end(stored, self.tot_bytes_received,
                           None if self.transfer_finished else
                           self.end_reason or "closed")

    def _settle_upload(self, upload):
        """Records (or, under final_451, discards) a complete upload before
        the final reply goes out; store faults change the file first."""
        channel = self.cmd_channel
        path = self.file_obj.name
        self.file_obj.flush()  # closing it here would upset pyftpdlib's logs
        size = os.fstat(self.file_obj.fileno()).st_size
        name = os.path.basename(path)
        if upload.final_451:
            os.remove(path)
            self._resp = ("451 Requested action aborted: local error in "
                          "processing.", LOG.info)
            channel.side.records.add_event("ftp_discarded", name=name,
                                           size=size)
            return
        fault = None
        if upload.tamper:
            size = _tamper(path, size, upload.tamper)
            fault = upload.tamper["ftp"]
        channel.side.records.add_event(
            "ftp_stored", name=name, size=size,
            received=self.tot_bytes_received, fault=fault)


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
        self._pending_upload = None  # accepted, data connection not yet made
        super().__init__(conn, server, ioloop=ioloop)
        self.side.opened(self)

    def close(self):
        self.side.closed(self)
        super().close()
        self._end_pending("closed")

    def take_pending_upload(self):
        upload, self._pending_upload = self._pending_upload, None
        return upload

    def _end_pending(self, reason):
        upload = self.take_pending_upload()
        if upload is not None:
            upload.end(False, 0, reason)

    def found_terminator(self):
        raw = b"".join(self._in_buffer)
        if raw.endswith(b"\r"):
            raw = raw[:-1]
        self.side.records.add_ftp(self.session_id, text_of(raw))
        super().found_terminator()

    def pre_process_command(self, line, cmd, arg):
        if self.authenticated and cmd == "SIZE" and self.side.faults.take_ftp(
                "no_size"):
            self.respond("502 Command not implemented.")
            return
        if self.authenticated and cmd in FILE_COMMANDS + ("STOU",):
            name = device_name(arg) if cmd != "STOU" else None
            if name is None:
                self.respond("550 Only %s<name> is a valid path." % PREFIX)
                return
            arg = "/" + name
            line = "%s %s" % (cmd, arg)
        super().pre_process_command(line, cmd, arg)

    def ftp_FEAT(self, line):
        if not self.side.faults.has_ftp("no_size"):
            super().ftp_FEAT(line)
            return
        self.proto_cmds = {k: v for k, v in type(self).proto_cmds.items()
                           if k != "SIZE"}
        try:
            super().ftp_FEAT(line)
        finally:
            del self.proto_cmds

    def ftp_PASS(self, line):
        if not self.authenticated and self.side.faults.take_ftp(
                "login_refused"):
            self.handle_auth_failed("Login refused.", line)
            return
        super().ftp_PASS(line)

    def ftp_STOR(self, file, mode="w"):
        dtp = self.data_channel
        if dtp is not None and dtp.receive:
            # pyftpdlib would swap the file under the running transfer.
            self.respond("425 A transfer is already in progress.")
            return None
        faults = self.side.faults
        if faults.take_ftp("stor_550"):
            self.respond("550 Permission denied.")
            return None
        if faults.take_ftp("stor_552"):
            self.respond("552 Requested file action aborted. Exceeded "
                         "storage allocation.")
            return None
        self._drop_queued_upload("closed")  # this one takes its place
        if super().ftp_STOR(file, mode) is None:
            return None
        upload = _Upload(self.side, os.path.basename(file))
        dtp = self.data_channel
        if dtp is not None and dtp.receive:
            dtp.start_upload(upload)  # 125: the data connection was open
        else:
            self._pending_upload = upload
        return file

    def ftp_ABOR(self, line):
        if self.data_channel is not None:
            self.data_channel.end_reason = "abort"
        else:
            self._drop_queued_upload("abort")
        super().ftp_ABOR(line)

    def flush_account(self):
        self._drop_queued_upload("closed")
        super().flush_account()

    def _drop_queued_upload(self, reason):
        """Ends an upload that still waits for its data connection: ABOR,
        a new login and a new STOR would leave its file open (pyftpdlib
        forgets it) and the upload counted as open."""
        if self._in_dtp_queue is not None:
            self._in_dtp_queue[0].close()
            self._in_dtp_queue = None
        self._end_pending(reason)


class FtpSide:
    """The FTP server on host:port; the port is held even while it is off.
    Runs on the shared event loop; only the loop thread calls it."""

    def __init__(self, loop, host, port, www, login_id, password, faults,
                 records, uploads=None):
        self.loop = loop
        self.www = www
        self.faults = faults
        self.records = records
        self.uploads = uploads if uploads is not None else Uploads()
        self._holder = netutil.PortHolder(host, port)
        self.port = self._holder.port
        authorizer = DummyAuthorizer()
        authorizer.add_user(login_id, password, www, perm="elradfmwMT")
        self._handler = type("DeviceFtpHandler", (_Handler,),
                             {"side": self, "authorizer": authorizer})
        self._sessions = 0
        self._open = set()  # command channels of this server
        self._server = None

    def next_session(self):
        self._sessions += 1
        return self._sessions

    def opened(self, channel):
        self._open.add(channel)

    def closed(self, channel):
        self._open.discard(channel)

    @property
    def running(self):
        return self._server is not None

    def start(self, running):
        if running:
            self.set_running(True)

    def set_running(self, running):
        """Turns the server on or off: off closes every session."""
        if running == self.running:
            return
        if running:
            self._server = FTPServer(self._holder.listen(), self._handler,
                                     ioloop=self.loop.io)
            # Its limit counts every socket of the shared loop, those of
            # the other devices too.
            self._server.max_cons = 0
        else:
            self._server.close()
            self._server = None
            for channel in list(self._open):
                channel.close()
            self._holder.unlisten()
        self.records.add_event("ftp_" + ("up" if running else "down"))

    def stop(self):
        if self._server is not None:
            self._server.close()
            self._server = None
        for channel in list(self._open):
            channel.close()
        self._holder.close()

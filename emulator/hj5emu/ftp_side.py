"""The device's FTP server (pyftpdlib), started and stopped with the device.

Only "C:\\www\\<name>" is a valid file path; it is stored as <root>/www/<name>.
All FTP work runs on the shared event loop (pyftpdlib's IOLoop); nothing in
a handler sleeps.

An upload is stored when the client closed the data connection in order
(FIN) and the reply is 226; a reset (RST), an ABOR, a data timeout, the
session or the server ending first leave it incomplete: the reply is 426 (or
none), the event ftp_incomplete, and the bytes received so far stay in the
file, as pyftpdlib leaves them.
"""

import errno
import logging
import os
import socket

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.ioloop import RetryError
from pyftpdlib.servers import FTPServer

from . import netutil
from .records import text_of

PREFIX = "C:\\www\\"
FILE_COMMANDS = ("STOR", "APPE", "RETR", "SIZE", "MDTM", "DELE")
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


class _Dtp(DTPHandler):
    """Data channel that tells a reset from an orderly end and can fail the
    way a faulty device does."""

    def __init__(self, sock, cmd_channel):
        self.end_reason = None  # why an upload ends early, once known
        super().__init__(sock, cmd_channel)

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
        drop = getattr(self.cmd_channel, "drop_fault", None)
        if (drop and not self._closed and
                self.tot_bytes_received >= drop.get("after_bytes", 1)):
            self.cmd_channel.drop_fault = None
            self._drop_everything()

    handle_read_event = handle_read  # the base class binds its own

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

    def close(self):
        if self._closed:
            return
        upload = self.receive and self.file_obj is not None
        if upload and self.transfer_finished:
            self._settle_upload()
        super().close()
        if upload and not self.transfer_finished:
            self.cmd_channel.side.records.add_event(
                "ftp_incomplete", name=os.path.basename(self.file_obj.name),
                received=self.tot_bytes_received,
                reason=self.end_reason or "closed")

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
        self.side.opened(self)

    def close(self):
        self.side.closed(self)
        super().close()

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

    def ftp_ABOR(self, line):
        if self.data_channel is not None:
            self.data_channel.end_reason = "abort"
        super().ftp_ABOR(line)

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


class FtpSide:
    """The FTP server on host:port; the port is held even while it is off.
    Runs on the shared event loop; only the loop thread calls it."""

    def __init__(self, loop, host, port, www, login_id, password, faults,
                 records):
        self.loop = loop
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

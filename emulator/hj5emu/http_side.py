"""The device's HTTP command side: one thread per connection.

Requests are read by their Content-Length. The request line is split on any
run of blanks, so "POST /system.wcr  HTTP/1.1" (two spaces) is accepted.
Every wait is bounded and ends at once when the connection is killed (restart,
shutdown), so a dripping or blackholed connection never holds up the rest.
"""

import os
import select
import socket
import threading
import time

from . import netutil
from .device import parse_fields
from .records import text_of

MAX_HEAD = 16 * 1024
MAX_BODY = 64 * 1024
IDLE_SECONDS = 120.0
SEND_SECONDS = 10.0
TICK = 0.2


class _Request:
    def __init__(self, raw, method, target, version, headers, body):
        self.raw = raw
        self.method = method
        self.target = target
        self.version = version
        self.headers = headers
        self.body = body

    def wants_close(self):
        conn = self.headers.get("connection", "").lower()
        if conn == "close":
            return True
        return self.version == "HTTP/1.0" and conn != "keep-alive"


class _BadRequest(Exception):
    def __init__(self, status, raw):
        super().__init__(status)
        self.status = status
        self.raw = raw


class _Connection:
    def __init__(self, conn_id, sock, peer):
        self.id = conn_id
        self.sock = sock
        self.peer = peer
        self.killed = threading.Event()
        self.buf = b""
        self._lock = threading.Lock()
        self._closed = False

    def kill(self):
        """Ends the connection from another thread: every wait returns."""
        self.killed.set()
        with self._lock:
            if not self._closed:
                try:
                    self.sock.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

    def close(self, reset=False):
        with self._lock:
            if self._closed:
                return
            self._closed = True
            if reset:
                netutil.reset_and_close(self.sock)
            else:
                self.sock.close()

    def wait(self, seconds):
        """Sleeps; False when the connection was killed meanwhile."""
        return not self.killed.wait(seconds)

    def recv(self, deadline):
        """Some bytes, or b"" on end of stream, kill or deadline."""
        while not self.killed.is_set():
            left = deadline - time.monotonic()
            if left <= 0:
                return b""
            try:
                ready, _, _ = select.select([self.sock], [], [],
                                            min(left, TICK))
                if ready:
                    return self.sock.recv(65536)
            except (OSError, ValueError):
                return b""
        return b""

    def send(self, data):
        if self.killed.is_set():
            raise OSError("connection killed")
        self.sock.settimeout(SEND_SECONDS)
        self.sock.sendall(data)


class HttpSide:
    """Listens on host:port and answers commands through the device."""

    def __init__(self, host, port, device, records, close_each=False,
                 no_length=False, down_mode="refuse"):
        self.device = device
        self.records = records
        self.close_each = close_each
        self.no_length = no_length
        self.down_mode = down_mode
        self._holder = netutil.PortHolder(host, port)
        self.port = self._holder.port
        self._stop = threading.Event()
        self._cond = threading.Condition()
        self._want_listening = True
        self._listening = False
        self._wake_r, self._wake_w = os.pipe()
        self._conns = set()
        self._exempt = None  # the connection carrying a restart reply
        self._threads = set()
        self._next_id = 0
        self._thread = None

    # --- life cycle -------------------------------------------------------

    def start(self):
        with self._cond:
            self._holder.listen()
            self._listening = True
        self._thread = threading.Thread(target=self._accept_loop,
                                        name="http-accept", daemon=True)
        self._thread.start()

    def stop(self, deadline):
        self._stop.set()
        self._wake()
        if self._thread:
            self._thread.join(max(0.0, deadline - time.monotonic()))
        self._kill_all(None)
        for thread in list(self._threads):
            thread.join(max(0.0, deadline - time.monotonic()))
        self._holder.close()
        os.close(self._wake_r)
        os.close(self._wake_w)

    def go_down(self, exempt):
        """The device restarts: drop connections; refuse new ones if so set.
        `exempt` carries the restart command's reply and is spared by the
        boot as well, however short the reboot."""
        with self._cond:
            self._exempt = exempt
        self._kill_all(exempt)
        if self.down_mode == "refuse":
            self._set_listening(False)

    def boot(self):
        """Listens again first, then drops what was held while down, so that
        a client reconnecting at once is not refused."""
        with self._cond:
            held = [c for c in self._conns if c is not self._exempt]
            self._exempt = None
        self._set_listening(True)
        for conn in held:
            conn.kill()

    # --- listening socket, owned by the accept thread ---------------------

    def _wake(self):
        try:
            os.write(self._wake_w, b"x")
        except OSError:
            pass

    def _set_listening(self, want):
        with self._cond:
            self._want_listening = want
            self._wake()
            self._cond.wait_for(
                lambda: self._listening == want or self._stop.is_set(), 2.0)

    def _sync_listening(self):
        with self._cond:
            if self._want_listening != self._listening:
                if self._want_listening:
                    self._holder.listen()
                else:
                    self._holder.unlisten()
                self._listening = self._want_listening
                self._cond.notify_all()
            return self._holder.sock if self._listening else None

    def _accept_loop(self):
        while not self._stop.is_set():
            listener = self._sync_listening()
            fds = [self._wake_r] + ([listener] if listener else [])
            try:
                ready, _, _ = select.select(fds, [], [], 0.5)
            except (OSError, ValueError):
                continue
            if self._wake_r in ready:
                os.read(self._wake_r, 512)
            if listener is not None and listener in ready:
                self._accept(listener)

    def _accept(self, listener):
        try:
            sock, peer = listener.accept()
        except OSError:
            return
        self._next_id += 1
        conn = _Connection(self._next_id, sock, "%s:%s" % peer[:2])
        thread = threading.Thread(target=self._serve, args=(conn,),
                                  name="http-conn-%d" % conn.id, daemon=True)
        with self._cond:
            self._conns.add(conn)
            self._threads.add(thread)
        thread.start()

    def _kill_all(self, exempt):
        with self._cond:
            conns = [c for c in self._conns if c is not exempt]
        for conn in conns:
            conn.kill()

    # --- one connection ---------------------------------------------------

    def _serve(self, conn):
        try:
            while not conn.killed.is_set() and not self._stop.is_set():
                try:
                    request = self._read_request(conn)
                except _BadRequest as bad:
                    self._record(conn, bad.raw, b"", {}, None)
                    self._send_plain(conn, bad.status, False)
                    break
                if request is None or not self._handle(conn, request):
                    break
        except OSError:
            pass
        finally:
            conn.close()
            with self._cond:
                self._conns.discard(conn)
                self._threads.discard(threading.current_thread())

    def _read_request(self, conn):
        deadline = time.monotonic() + IDLE_SECONDS
        while True:
            end = conn.buf.find(b"\r\n\r\n")
            if end >= 0:
                head_len = end + 4
                break
            end = conn.buf.find(b"\n\n")
            if end >= 0:
                head_len = end + 2
                break
            if len(conn.buf) > MAX_HEAD:
                raise _BadRequest("431 Request Header Fields Too Large",
                                  conn.buf)
            chunk = conn.recv(deadline)
            if not chunk:
                return None
            conn.buf += chunk
        head = conn.buf[:head_len]
        lines = head.decode("latin-1").replace("\r\n", "\n").split("\n")
        parts = lines[0].split()
        if len(parts) != 3:
            raise _BadRequest("400 Bad Request", head)
        headers = {}
        for line in lines[1:]:
            if ":" in line:
                name, value = line.split(":", 1)
                headers.setdefault(name.strip().lower(), value.strip())
        length = self._content_length(headers, head)
        if headers.get("expect", "").lower() == "100-continue":
            conn.send(b"HTTP/1.1 100 Continue\r\n\r\n")
        while len(conn.buf) < head_len + length:
            chunk = conn.recv(deadline)
            if not chunk:
                return None
            conn.buf += chunk
        raw = conn.buf[:head_len + length]
        conn.buf = conn.buf[head_len + length:]
        return _Request(raw, parts[0], parts[1], parts[2], headers,
                        raw[head_len:])

    @staticmethod
    def _content_length(headers, head):
        if "transfer-encoding" in headers:
            raise _BadRequest("411 Length Required", head)
        value = headers.get("content-length", "0")
        if not value.isdigit():
            raise _BadRequest("400 Bad Request", head)
        if int(value) > MAX_BODY:
            raise _BadRequest("413 Payload Too Large", head)
        return int(value)

    def _handle(self, conn, request):
        """Answers one request; False when the connection is to end."""
        seq = self.records.next_http_seq()
        if not self.device.is_up():
            self._record(conn, request.raw, request.body, {}, seq, down=True)
            self._hold(conn)
            return False
        keep = not (self.close_each or request.wants_close())
        if request.method != "POST" or request.target != "/system.wcr":
            self._record(conn, request.raw, request.body, {}, seq)
            self._send_plain(conn, "404 Not Found", keep)
            return keep
        reply = self.device.answer(seq, request.body)
        self._record(conn, request.raw, request.body, reply.fault, seq,
                     code=reply.code)
        if reply.restart:
            self.device.restart(exempt=conn)
            keep = False
        fault = reply.fault
        if fault.get("close") or "truncate" in fault or "reset" in fault:
            keep = False
        return self._deliver(conn, reply, keep) and keep

    def _record(self, conn, raw, body, fault, seq, code=None, down=False):
        self.records.add_http({
            "seq": seq, "conn": conn.id, "peer": conn.peer,
            "raw": text_of(raw), "body": text_of(body),
            "fields": parse_fields(body), "down": down,
            "reply_code": code, "fault": fault or None})

    # --- replies ----------------------------------------------------------

    def _head(self, status, body, keep):
        head = "HTTP/1.1 %s\r\nContent-Type: text/plain\r\n" % status
        if not self.no_length:
            head += "Content-Length: %d\r\n" % len(body)
        head += "Connection: %s\r\n\r\n" % ("Keep-Alive" if keep else "close")
        return head.encode("latin-1")

    def _send_plain(self, conn, status, keep):
        body = status.encode("latin-1") + b"\r\n"
        conn.send(self._head(status, body, keep) + body)

    def _deliver(self, conn, reply, keep):
        """Sends the reply as its fault says; False when the connection is
        finished (closed, reset or held)."""
        fault = reply.fault
        data = self._head("200 OK", reply.body, keep) + reply.body
        if fault.get("delay_ms") and not conn.wait(fault["delay_ms"] / 1000.0):
            return False
        if fault.get("blackhole"):
            self._hold(conn)
            return False
        if "truncate" in fault:
            data = data[:fault["truncate"]]
        if "reset" in fault:
            count = fault["reset"]
            part = data[:len(data) // 2] if count is True else data[:count]
            self._send(conn, part, fault.get("drip_ms"))
            conn.close(reset=True)
            return False
        return self._send(conn, data, fault.get("drip_ms"))

    @staticmethod
    def _send(conn, data, drip_ms):
        if not drip_ms:
            conn.send(data)
            return True
        for i in range(len(data)):
            conn.send(data[i:i + 1])
            if i + 1 < len(data) and not conn.wait(drip_ms / 1000.0):
                return False
        return True

    def _hold(self, conn):
        """Reads and drops whatever comes, never answers, until the peer
        closes or the connection is killed."""
        while conn.recv(time.monotonic() + IDLE_SECONDS):
            pass

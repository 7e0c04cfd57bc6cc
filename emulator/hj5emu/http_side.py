"""The device's HTTP command side, served by the shared event loop.

Requests are read by their Content-Length. The request line is split on any
run of blanks, so "POST /system.wcr  HTTP/1.1" (two spaces) is accepted.
A reply is delivered as steps (send, wait, close, reset, hold) by the
connection (http_conn.py); only the loop thread runs any of this.
"""

import logging

from . import netutil
from .device import parse_fields
from .http_conn import Connection
from .records import text_of

MAX_HEAD = 16 * 1024
MAX_BODY = 64 * 1024
ACCEPTS_PER_EVENT = 64
LOG = logging.getLogger("hj5emu")


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


def _head_length(buf):
    end = buf.find(b"\r\n\r\n")
    if end >= 0:
        return end + 4
    end = buf.find(b"\n\n")
    return end + 2 if end >= 0 else None


def _content_length(headers, head):
    if "transfer-encoding" in headers:
        raise _BadRequest("411 Length Required", head)
    value = headers.get("content-length", "0")
    if not value.isdigit():
        raise _BadRequest("400 Bad Request", head)
    if int(value) > MAX_BODY:
        raise _BadRequest("413 Payload Too Large", head)
    return int(value)


def parse_request(conn):
    """The next whole request taken from conn.buf, or None while it is
    incomplete. Raises _BadRequest."""
    head_len = _head_length(conn.buf)
    if head_len is None:
        if len(conn.buf) > MAX_HEAD:
            raise _BadRequest("431 Request Header Fields Too Large",
                              conn.buf)
        return None
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
    length = _content_length(headers, head)
    if len(conn.buf) < head_len + length:
        if (headers.get("expect", "").lower() == "100-continue" and
                not conn.continued):
            conn.continued = True
            conn.send_now(b"HTTP/1.1 100 Continue\r\n\r\n")
        return None
    raw = conn.buf[:head_len + length]
    conn.buf = conn.buf[head_len + length:]
    return _Request(raw, parts[0], parts[1], parts[2], headers,
                    raw[head_len:])


class HttpSide:
    """Listens on host:port and answers commands through the device."""

    def __init__(self, loop, host, port, device, records, close_each=False,
                 no_length=False, down_mode="refuse"):
        self.loop = loop
        self.device = device
        self.records = records
        self.close_each = close_each
        self.no_length = no_length
        self.down_mode = down_mode
        self._holder = netutil.PortHolder(host, port)
        self.port = self._holder.port
        self._listener = None
        self._conns = set()
        self._exempt = None  # the connection carrying a restart reply
        self._next_id = 0

    # --- life cycle (loop thread) ---------------------------------------

    def start(self):
        self._listen(True)

    def stop(self):
        self._listen(False)
        self._kill_all(None)
        self._holder.close()

    def go_down(self, exempt):
        """The device restarts: drop connections; refuse new ones if so set.
        `exempt` carries the restart command's reply and is spared by the
        boot as well, however short the reboot."""
        self._exempt = exempt
        self._kill_all(exempt)
        if self.down_mode == "refuse":
            self._listen(False)
            self._holder.unlisten()

    def boot(self):
        """Listens again first, then drops what was held while down."""
        held = [c for c in self._conns if c is not self._exempt]
        self._exempt = None
        self._listen(True)
        for conn in held:
            conn.kill()

    def forget(self, conn):
        self._conns.discard(conn)
        if self._exempt is conn:
            self._exempt = None

    # --- the listening socket ---------------------------------------------

    def _listen(self, on):
        if on and self._listener is None:
            sock = self._holder.listen()
            sock.setblocking(False)
            self._listener = sock
            self.loop.io.register(sock.fileno(), self, self.loop.io.READ)
        elif not on and self._listener is not None:
            self.loop.io.unregister(self._listener.fileno())
            self._listener = None

    def readable(self):
        return self._listener is not None

    def writable(self):
        return False

    def handle_read_event(self):
        for _ in range(ACCEPTS_PER_EVENT):
            try:
                sock, peer = self._listener.accept()
            except (BlockingIOError, InterruptedError):
                return
            except OSError as err:  # e.g. out of descriptors: try later
                LOG.warning("HTTP accept on port %d: %s", self.port, err)
                return
            self._next_id += 1
            conn = Connection(self, self._next_id, sock, "%s:%s" % peer[:2])
            self._conns.add(conn)

    def handle_close(self):
        pass

    def handle_error(self):
        LOG.exception("HTTP listener on port %d", self.port)

    def _kill_all(self, exempt):
        for conn in [c for c in self._conns if c is not exempt]:
            conn.kill()

    # --- requests -----------------------------------------------------------

    def serve(self, conn):
        """Answers the request waiting in conn.buf, if it is whole."""
        try:
            request = parse_request(conn)
        except _BadRequest as bad:
            self._record(conn, bad.raw, b"", {}, None)
            conn.run([("send", self._plain(bad.status, False)), ("close",)])
            return
        if request is not None:
            self._handle(conn, request)

    def _handle(self, conn, request):
        seq = self.records.next_http_seq()
        if not self.device.is_up():
            self._record(conn, request.raw, request.body, {}, seq, down=True)
            conn.hold()
            return
        keep = not (self.close_each or request.wants_close())
        if request.method != "POST" or request.target != "/system.wcr":
            self._record(conn, request.raw, request.body, {}, seq)
            conn.run([("send", self._plain("404 Not Found", keep)),
                      ("next",) if keep else ("close",)])
            return
        reply = self.device.answer(seq, request.body)
        self._record(conn, request.raw, request.body, reply.fault, seq,
                     code=reply.code)
        if reply.restart:
            self.device.restart(exempt=conn)
            keep = False
        fault = reply.fault
        if fault.get("close") or "truncate" in fault or "reset" in fault:
            keep = False
        conn.run(self._delivery(reply, keep))

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

    def _plain(self, status, keep):
        body = status.encode("latin-1") + b"\r\n"
        return self._head(status, body, keep) + body

    def _delivery(self, reply, keep):
        """The steps that deliver the reply as its fault says."""
        fault = reply.fault
        data = self._head("200 OK", reply.body, keep) + reply.body
        steps = []
        if fault.get("delay_ms"):
            steps.append(("wait", fault["delay_ms"] / 1000.0))
        if fault.get("blackhole"):
            return steps + [("hold",)]
        if "truncate" in fault:
            data = data[:fault["truncate"]]
        if "reset" in fault:
            count = fault["reset"]
            part = data[:len(data) // 2] if count is True else data[:count]
            return steps + _sending(part, fault.get("drip_ms")) + [("reset",)]
        return (steps + _sending(data, fault.get("drip_ms")) +
                [("next",) if keep else ("close",)])


def _sending(data, drip_ms):
    if not drip_ms:
        return [("send", data)]
    steps = []
    for i in range(len(data)):
        steps.append(("send", data[i:i + 1]))
        if i + 1 < len(data):
            steps.append(("wait", drip_ms / 1000.0))
    return steps

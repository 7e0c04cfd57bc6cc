"""One HTTP connection of a device, driven by the event loop.

A connection reads requests ("read"), delivers a reply as a list of steps
("busy": send bytes, wait, close, reset, hold, next), or reads and drops
whatever comes ("hold"). Every wait is a loop timer, so a dripping or
blackholed connection holds up nothing else; killing the connection (restart,
shutdown) cancels them.
"""

import collections
import logging
import socket

from . import netutil

IDLE_SECONDS = 120.0
SEND_SECONDS = 10.0
LOG = logging.getLogger("hj5emu")


class Connection:
    def __init__(self, side, conn_id, sock, peer):
        self.side = side
        self.loop = side.loop
        self.id = conn_id
        self.sock = sock
        self.peer = peer
        self.fd = sock.fileno()
        self.buf = b""
        self.out = b""
        self.mode = "read"
        self.closed = False
        self.continued = False  # "100 Continue" sent for the pending request
        self._steps = collections.deque()
        self._events = 0
        self._timer = None
        self._send_timer = None
        sock.setblocking(False)
        self.loop.io.register(self.fd, self, 0)
        self._update_events()
        self._arm(IDLE_SECONDS, self.close)

    # --- what the IOLoop calls ----------------------------------------------

    def readable(self):
        return not self.closed and self.mode in ("read", "hold")

    def writable(self):
        return not self.closed and bool(self.out)

    def handle_read_event(self):
        try:
            data = self.sock.recv(65536)
        except (BlockingIOError, InterruptedError):
            return
        except OSError:
            data = b""
        if not data:
            self.close()
        elif self.mode == "hold":
            self._arm(IDLE_SECONDS, self.close)
        else:
            self.buf += data
            self.side.serve(self)

    def handle_write_event(self):
        self._flush()
        if not self.out and not self.closed:
            self._advance()

    def handle_close(self):
        self.close()

    def handle_error(self):
        LOG.exception("HTTP connection %d", self.id)
        self.close()

    # --- delivery -----------------------------------------------------------

    def run(self, steps):
        """Carries out steps: ("send", bytes), ("wait", s), ("close",),
        ("reset",), ("hold",), ("next",) (read the next request)."""
        self.mode = "busy"
        self._cancel_timer()
        self._steps = collections.deque(steps)
        self._update_events()
        self._advance()

    def send_now(self, data):
        """Queues bytes outside a delivery (a "100 Continue")."""
        self._queue(data)

    def _advance(self):
        while self._steps and not self.closed and not self.out:
            step = self._steps.popleft()
            kind = step[0]
            if kind == "send":
                self._queue(step[1])
            elif kind == "wait":
                self._arm(step[1], self._advance)
                return
            elif kind == "close":
                self.close()
            elif kind == "reset":
                self.close(reset=True)
            elif kind == "hold":
                self.hold()
            elif kind == "next":
                self.mode = "read"
                self.continued = False
                self._update_events()
                self._arm(IDLE_SECONDS, self.close)
                self.side.serve(self)  # may start the next delivery
                return

    def hold(self):
        """Reads and drops whatever comes, never answers, until the peer
        closes, the connection is killed or it stays silent too long."""
        self.mode = "hold"
        self._steps.clear()
        self._update_events()
        self._arm(IDLE_SECONDS, self.close)

    def _queue(self, data):
        self.out += data
        self._flush()
        if self.out and self._send_timer is None and not self.closed:
            self._send_timer = self.loop.call_later(SEND_SECONDS, self.close)

    def _flush(self):
        while self.out and not self.closed:
            try:
                sent = self.sock.send(self.out)
            except (BlockingIOError, InterruptedError):
                break
            except OSError:
                self.close()
                return
            self.out = self.out[sent:]
        if not self.out and self._send_timer is not None:
            self._send_timer.cancel()
            self._send_timer = None
        self._update_events()

    # --- ending ---------------------------------------------------------------

    def kill(self):
        """Ends the connection now (restart, boot, shutdown)."""
        if not self.closed:
            try:
                self.sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        self.close()

    def close(self, reset=False):
        if self.closed:
            return
        self.closed = True
        self._cancel_timer()
        if self._send_timer is not None:
            self._send_timer.cancel()
            self._send_timer = None
        self._steps.clear()
        self.loop.io.unregister(self.fd)
        if reset:
            netutil.reset_and_close(self.sock)
        else:
            self.sock.close()
        self.side.forget(self)

    # --- helpers ----------------------------------------------------------

    def _arm(self, seconds, fn):
        self._cancel_timer()
        self._timer = self.loop.call_later(seconds, fn)

    def _cancel_timer(self):
        if self._timer is not None:
            if not self._timer.cancelled:
                self._timer.cancel()
            self._timer = None

    def _update_events(self):
        if self.closed:
            return
        io = self.loop.io
        events = (io.READ if self.mode in ("read", "hold") else 0) | \
                 (io.WRITE if self.out else 0)
        if events != self._events:
            io.modify(self.fd, events)
            self._events = events

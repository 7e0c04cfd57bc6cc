"""The one event loop that serves every emulated device.

pyftpdlib's IOLoop (epoll on Linux) carries the FTP servers, the HTTP sides
and every timer (reboots, delays, drips, idle limits). Only the loop thread
touches devices and sockets; other threads (the control endpoint) hand it
work through call(), which waits for the result.
"""

import collections
import logging
import os
import threading

from pyftpdlib.ioloop import IOLoop

LOG = logging.getLogger("hj5emu")
MAX_WAIT = 0.2  # the loop looks at its stop flag at least this often
CALL_SECONDS = 10.0


class _Waker:
    """The read end of a pipe in the loop: other threads write to wake it."""

    def __init__(self, loop):
        self.loop = loop
        self.read_fd, self.write_fd = os.pipe()
        os.set_blocking(self.read_fd, False)
        os.set_blocking(self.write_fd, False)

    def fileno(self):
        return self.read_fd

    def readable(self):
        return True

    def writable(self):
        return False

    def handle_read_event(self):
        try:
            while os.read(self.read_fd, 4096):
                pass
        except BlockingIOError:
            pass
        self.loop.run_calls()

    def handle_close(self):
        pass

    def handle_error(self):
        LOG.exception("loop wake-up")

    def wake(self):
        try:
            os.write(self.write_fd, b"x")
        except (BlockingIOError, OSError):
            pass  # a full pipe wakes the loop just as well

    def close(self):
        os.close(self.read_fd)
        os.close(self.write_fd)


class _Call:
    def __init__(self, fn):
        self.fn = fn
        self.done = threading.Event()
        self.result = None
        self.error = None


class Loop:
    """Owns the IOLoop; start() serves until stop()."""

    def __init__(self):
        self.io = IOLoop()
        self._thread = None
        self._calls = collections.deque()
        self._stop = threading.Event()
        self._waker = _Waker(self)
        self.io.register(self._waker.fileno(), self._waker, self.io.READ)

    def call_later(self, seconds, fn, *args):
        """Runs fn(*args) on the loop after `seconds`; returns a handle with
        cancel(). Loop thread only."""
        return self.io.call_later(max(0.0, seconds), fn, *args,
                                  _errback=lambda: LOG.exception("timer"))

    def call(self, fn):
        """Runs fn() on the loop and returns its result (raises its error).
        From the loop thread itself it runs at once."""
        thread = self._thread
        if thread is None or thread is threading.current_thread():
            return fn()
        call = _Call(fn)
        self._calls.append(call)
        self._waker.wake()
        if not call.done.wait(CALL_SECONDS):
            raise TimeoutError("the event loop did not answer")
        if call.error is not None:
            raise call.error
        return call.result

    def run_calls(self):
        while self._calls:
            call = self._calls.popleft()
            try:
                call.result = call.fn()
            except Exception as err:  # handed back to the caller
                call.error = err
            call.done.set()

    def start(self):
        """Serves on a thread of its own until stop()."""
        self._thread = threading.Thread(target=self._run, name="loop",
                                        daemon=True)
        self._thread.start()

    def _run(self):
        """A bug in one handler does not end the loop."""
        try:
            while not self._stop.is_set():
                self.run_calls()
                wait = self.io.sched.poll()
                wait = MAX_WAIT if wait is None else min(wait, MAX_WAIT)
                try:
                    # A zero timeout would mean "forever" to IOLoop.poll.
                    self.io.poll(max(wait, 0.001))
                except Exception:
                    LOG.exception("event loop")
        finally:
            self.run_calls()

    def stop(self, seconds=2.0):
        """Ends the loop and waits for its thread; calls then run at once."""
        self._stop.set()
        self._waker.wake()
        if self._thread is not None:
            self._thread.join(seconds)
            self._thread = None

    def close(self):
        """Closes whatever is still registered. After run() has ended."""
        self.io.unregister(self._waker.fileno())
        self.io.close()
        self._waker.close()

"""What the device received: HTTP requests, FTP commands and device events.

Every text in a record is the raw bytes received, each byte mapped to the
code point of the same value (latin-1), so JSON carries them unchanged.
Timestamps are time.monotonic() seconds (CLOCK_MONOTONIC on Linux).
"""

import json
import os
import threading
import time


def text_of(data):
    """Bytes as a str with one code point per byte."""
    return data.decode("latin-1")


class RecordFile:
    """A JSON-lines file that the records of one or many devices share.

    Every line goes out in one append (O_APPEND), so the processes of a
    split fleet (append=True: the file is not emptied) can share the file
    without cutting into each other's lines.
    """

    def __init__(self, path, append=False):
        self._lock = threading.Lock()
        flags = os.O_WRONLY | os.O_CREAT | os.O_APPEND | os.O_CLOEXEC
        self._fd = os.open(path, flags if append else flags | os.O_TRUNC,
                           0o666)

    def write(self, record):
        data = (json.dumps(record) + "\n").encode("utf-8")
        with self._lock:
            while self._fd is not None and data:
                data = data[os.write(self._fd, data):]

    def close(self):
        with self._lock:
            if self._fd is not None:
                os.close(self._fd)
                self._fd = None


class Records:
    """Thread-safe store of one device's records, optionally mirrored to a
    RecordFile; `device` (a fleet's device index) is then added to each
    line."""

    def __init__(self, sink=None, device=None):
        self._lock = threading.Lock()
        self._http = []
        self._ftp = []
        self._events = []
        self._http_seq = 0
        self._file = sink
        self._device = device

    def next_http_seq(self):
        """Numbers HTTP requests 1, 2, ... since start or the last clear."""
        with self._lock:
            self._http_seq += 1
            return self._http_seq

    def add_http(self, record):
        self._add(self._http, dict(record, kind="http"))

    def add_ftp(self, session, line):
        self._add(self._ftp, {"kind": "ftp", "session": session, "line": line})

    def add_event(self, event, **details):
        self._add(self._events, dict(details, kind="event", event=event))

    def _add(self, target, record):
        record.setdefault("t", time.monotonic())
        with self._lock:
            target.append(record)
        if self._file:
            if self._device is not None:
                record = dict(record, device=self._device)
            self._file.write(record)

    def clear(self):
        """Forgets everything and restarts the HTTP request count at 1."""
        with self._lock:
            self._http.clear()
            self._ftp.clear()
            self._events.clear()
            self._http_seq = 0

    def snapshot(self):
        with self._lock:
            return {"http": list(self._http), "ftp": list(self._ftp),
                            "events": list(self._events)}

    def http_field(self, name):
        with self._lock:
            return [r[name] for r in self._http]

    def count_events(self, name):
        with self._lock:
            return sum(1 for r in self._events if r["event"] == name)

    def ftp_lines(self):
        with self._lock:
            return [r["line"] for r in self._ftp]

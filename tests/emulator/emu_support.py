"""Starting the emulator and talking to it (loopback only), for its tests."""

import copy
import csv
import ftplib
import http.client
import io
import json
import os
import select
import socket
import subprocess
import time
import unittest

PYTHON = "/usr/bin/python3"
EMULATOR = os.environ.get("HJ5_EMULATOR") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "emulator",
    "hj5-emulator")
ID, PW = "admin", "hj5pass"


def body(mode, act="", code="", data="", login=ID, password=PW):
    return ("ID=%s&PW=%s&MODE=%s&ACT=%s&CODE=%s&DATA=%s" %
            (login, password, mode, act, code, data)).encode("latin-1")


QUERY = body("4")
FTP_ON = body("2", "21", "svr_ftp_port", "21")
FTP_OFF = body("2", "21", "svr_ftp_port", "0")
MARK = body("2", "21", "user9", "UPDATE")
RESTORE = body("2", "21", "user9", "HJ5M")
RESTART = body("3", "1")
MODE_ONE = body("1", "1")
PROBE = b"\r\n"


def tool_request(data):
    """A request exactly as the tool composes it."""
    return (b"POST /system.wcr  HTTP/1.1\r\nContent-Length: %d\r\n"
            b"Connection: Keep-Alive\r\nCache-Control: no-cache\r\n\r\n" %
            len(data)) + data


class Reply:
    def __init__(self, raw):
        self.raw = raw
        head, _, self.body = raw.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        self.status = lines[0]
        self.headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            self.headers[name.strip().lower()] = value.strip()


def read_reply(sock, timeout=5.0):
    """Reads one reply by its Content-Length (or up to the close)."""
    deadline = time.monotonic() + timeout
    data = b""
    while True:
        head_end = data.find(b"\r\n\r\n")
        if head_end >= 0:
            reply = Reply(data[:head_end + 4])
            length = reply.headers.get("content-length")
            if length is not None and len(data) >= head_end + 4 + int(length):
                return Reply(data[:head_end + 4 + int(length)])
        left = deadline - time.monotonic()
        if left <= 0:
            raise socket.timeout("no complete reply; got %r" % data)
        sock.settimeout(left)
        chunk = sock.recv(65536)
        if not chunk:
            return Reply(data)
        data += chunk


def read_until_close(sock, timeout=5.0):
    deadline = time.monotonic() + timeout
    data = b""
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            raise socket.timeout("still open; got %r" % data)
        sock.settimeout(left)
        try:
            chunk = sock.recv(65536)
        except ConnectionResetError:
            return data, True
        if not chunk:
            return data, False
        data += chunk


def connect(port, timeout=5.0):
    return socket.create_connection(("127.0.0.1", port), timeout=timeout)


class Emulator:
    """One emulator process on ports the OS picks. For a fleet, device(i)
    is a view of device i with the same methods."""

    prefix = ""  # control paths of a fleet's device: /devices/I

    def __init__(self, *args, pass_ports=True):
        cmd = [PYTHON, EMULATOR, "--exit-on-stdin-eof"]
        if pass_ports:
            cmd += ["--http-port", "0", "--ftp-port", "0",
                    "--control-port", "0"]
        self.proc = subprocess.Popen(cmd + list(args), stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE)
        self.line = self._ready_line()
        ports = dict(item.split("=") for item in self.line.split())
        self.http_port = int(ports["http"])
        self.ftp_port = int(ports["ftp"])
        self.control_port = int(ports["control"])
        self.root = self.state()["root"]

    def _ready_line(self):
        ready, _, _ = select.select([self.proc.stdout], [], [], 10)
        if not ready:
            self.stop()
            raise RuntimeError("emulator did not start")
        line = self.proc.stdout.readline().decode()
        if not line:
            self.stop()
            raise RuntimeError("emulator exited at start")
        return line.strip()

    def device(self, index):
        view = copy.copy(self)
        view.prefix = "/devices/%d" % index
        state = view.state()
        view.http_port = state["ports"]["http"]
        view.ftp_port = state["ports"]["ftp"]
        view.root = state["root"]
        return view

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(3)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout):
            stream.close()

    # --- control endpoint -----------------------------------------------

    def control(self, method, path, data=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.control_port,
                                          timeout=10)
        try:
            if isinstance(data, (dict, list)):
                data = json.dumps(data)
            conn.request(method, self.prefix + path, body=data)
            resp = conn.getresponse()
            return resp.status, json.loads(resp.read() or b"null")
        finally:
            conn.close()

    def get(self, path):
        status, obj = self.control("GET", path)
        assert status == 200, (path, status, obj)
        return obj

    def state(self):
        return self.get("/state")

    def param(self, name):
        return self.get("/params/" + name)["value"]

    def set_param(self, name, value):
        self.control("PUT", "/params/" + name, value.encode("latin-1"))

    def add_fault(self, desc):
        status, obj = self.control("POST", "/faults", desc)
        assert status == 200, obj
        return obj["ids"]

    def reset(self):
        """Back to a clean slate between tests sharing one emulator."""
        self.control("DELETE", "/faults")
        self.control("DELETE", "/records")
        self.set_param("user9", "HJ5M")

    def records(self):
        return self.get("/records")

    def wait_until(self, predicate, timeout=5.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if predicate():
                return True
            time.sleep(0.02)
        return predicate()

    def wait_up(self, timeout=5.0):
        return self.wait_until(lambda: self.state()["up"], timeout)

    # --- device side -----------------------------------------------------

    def command(self, data, timeout=5.0):
        with connect(self.http_port, timeout) as sock:
            sock.sendall(tool_request(data))
            return read_reply(sock, timeout)

    def ftp(self, login=ID, password=PW):
        client = ftplib.FTP(timeout=5)
        try:
            client.connect("127.0.0.1", self.ftp_port)
            client.login(login, password)
        except BaseException:
            client.close()
            raise
        return client

    def upload(self, remote, data):
        client = self.ftp()
        try:
            return client.storbinary("STOR " + remote, io.BytesIO(data))
        finally:
            client.close()

    def www(self, name):
        return os.path.join(self.root, "www", name)


def read_csv(path):
    with open(path, newline="", encoding="utf-8") as rows:
        return list(csv.reader(rows))


def refused(port):
    try:
        with connect(port, 2.0):
            return False
    except ConnectionRefusedError:
        return True


class SharedEmulatorTest(unittest.TestCase):
    """One emulator for every test of a class, reset before each test."""

    EMULATOR_ARGS = ()

    @classmethod
    def setUpClass(cls):
        cls.emu = Emulator(*cls.EMULATOR_ARGS)

    @classmethod
    def tearDownClass(cls):
        cls.emu.stop()

    def setUp(self):
        self.emu.reset()

"""The control endpoint: a small HTTP/JSON API on loopback for tests.

  GET    /state             device state, ports, root, faults
  GET    /params            all parameters
  GET    /params/NAME       {"name": NAME, "value": VALUE}
  PUT    /params/NAME       body = the new value, raw (POST works too)
  GET    /faults            the faults in force
  POST   /faults            one fault object or a list of them
  DELETE /faults            removes every fault
  GET    /records           {"http": [...], "ftp": [...], "events": [...]}
  GET    /records/bodies    HTTP request bodies, in order (list of strings)
  GET    /records/raw       whole HTTP requests, in order
  GET    /records/ftp       FTP command lines, in order
  DELETE /records           forgets all records, restarts the request count
  POST   /restart           restarts the device now (also one that is stuck)
  POST   /left-in-update    svr_ftp_port 21, user9 UPDATE, FTP server on now
  GET    /devices           the devices of a fleet: index, ports, root, up
  ANY    /devices/I/...     any request above, for device I (from 0); the
                            plain paths address device 0
  GET    /usage             the emulator's CPU time and peak memory so far
                            (every process of the fleet, and each)
  GET    /uploads           uploads of every device together: open now, most
                            open at once, started, stored (top level only)

Requests are served on their own threads; everything they touch is done on
the event loop through loop.call(). A fleet split over processes has one
such endpoint per process; the tests talk to the first process's, which
passes each request on (split.py).
"""

import json
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from .faults import FaultError, validate


def _is_index(text):
    """A device index: ASCII digits only ("²" is a digit to str.isdigit)."""
    return text.isascii() and text.isdigit()


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False


class Control:
    """`service` has loop, units, uploads, usage(), devices(), unit_at()
    and control_port(); `handler` answers the requests (default: the
    service's own devices)."""

    def __init__(self, port, service, handler=None):
        handler = type("ControlHandler", (handler or _Handler,),
                       {"service": service})
        self._server = _Server(("127.0.0.1", port), handler)
        self.port = self._server.server_address[1]
        self._thread = None

    def start(self):
        self._thread = threading.Thread(
            target=self._server.serve_forever, kwargs={"poll_interval": 0.1},
            name="control", daemon=True)
        self._thread.start()

    def stop(self):
        if self._thread is not None:  # shutdown() waits for serve_forever
            self._server.shutdown()
            self._thread = None
        self._server.server_close()


class _Handler(BaseHTTPRequestHandler):
    service = None
    unit = None
    server_version = "hj5-emulator-control"
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def do_GET(self):
        self._dispatch("GET")

    def do_POST(self):
        self._dispatch("POST")

    def do_PUT(self):
        self._dispatch("PUT")

    def do_DELETE(self):
        self._dispatch("DELETE")

    def _body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def _reply(self, status, obj):
        self._send(status, (json.dumps(obj) + "\n").encode("ascii"))

    def _send(self, status, data):
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def _parts(self):
        path = urllib.parse.urlsplit(self.path).path.rstrip("/") or "/"
        return [urllib.parse.unquote(p, encoding="latin-1")
                for p in path.strip("/").split("/")]

    def _dispatch(self, method):
        parts = self._parts()
        self.request_body = self._body() if method in ("POST", "PUT") \
            else b""
        try:
            status, obj = self.service.loop.call(
                lambda: self._route_device(method, parts))
        except FaultError as err:
            status, obj = 400, {"error": str(err)}
        except ValueError as err:
            status, obj = 400, {"error": "bad JSON: %s" % err}
        self._reply(status, obj)

    def _route_device(self, method, parts):
        """Picks the device (/devices/I/...; else device 0), then routes."""
        units = self.service.units
        if parts[0] == "usage" and method == "GET" and len(parts) == 1:
            return 200, self.service.usage()
        if parts[0] == "uploads" and method == "GET" and len(parts) == 1:
            return 200, self.service.uploads.snapshot()
        if parts[0] != "devices":
            self.unit = units[0]
            return self._route(method, parts)
        if len(parts) == 1:
            if method != "GET":
                return 405, {"error": "method not allowed"}
            return 200, self.service.devices()
        index = parts[1]
        self.unit = self.service.unit_at(int(index)) if _is_index(index) \
            else None
        if self.unit is None:
            return 404, {"error": "no device %r" % index}
        return self._route(method, parts[2:] or [""])

    def _route(self, method, parts):
        emu = self.unit
        head, rest = parts[0], parts[1:]
        if head == "state" and method == "GET" and not rest:
            return 200, emu.state(self.service.control_port())
        if head == "params":
            return self._params(method, rest)
        if head == "faults" and not rest:
            return self._faults(method)
        if head == "records":
            return self._records(method, rest)
        if head == "restart" and method == "POST" and not rest:
            emu.device.restart()
            return 200, {"ok": True}
        if head == "left-in-update" and method == "POST" and not rest:
            emu.leave_in_update()
            return 200, {"ok": True, "ftp_running": emu.ftp.running}
        return 404, {"error": "no such resource"}

    def _params(self, method, rest):
        device = self.unit.device
        if not rest and method == "GET":
            return 200, device.all_params()
        if len(rest) != 1:
            return 404, {"error": "no such resource"}
        name = rest[0]
        if method == "GET":
            value = device.get_param(name)
            if value is None:
                return 404, {"error": "no parameter %r" % name}
            return 200, {"name": name, "value": value}
        if method in ("PUT", "POST"):
            device.set_param(name, self.request_body.decode("latin-1"))
            return 200, {"name": name, "value": device.get_param(name)}
        return 405, {"error": "method not allowed"}

    def _faults(self, method):
        emu = self.unit
        if method == "GET":
            return 200, emu.faults.describe()
        if method == "POST":
            desc = json.loads(self.request_body.decode("utf-8"))
            descs = desc if isinstance(desc, list) else [desc]
            for one in descs:
                validate(one)
            ids = [emu.add_fault(one) for one in descs]
            return 200, {"ids": ids}
        if method == "DELETE":
            emu.clear_faults()
            return 200, {"ok": True}
        return 405, {"error": "method not allowed"}

    def _records(self, method, rest):
        records = self.unit.records
        if method == "DELETE" and not rest:
            records.clear()
            self.service.uploads.clear()
            return 200, {"ok": True}
        if method != "GET":
            return 405, {"error": "method not allowed"}
        if not rest:
            return 200, records.snapshot()
        views = {"bodies": lambda: records.http_field("body"),
                 "raw": lambda: records.http_field("raw"),
                 "ftp": records.ftp_lines}
        if len(rest) == 1 and rest[0] in views:
            return 200, views[rest[0]]()
        return 404, {"error": "no such resource"}

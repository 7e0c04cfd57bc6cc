"""The HJ-5 device: parameters, credentials, commands, restarts.

Commands arrive as the raw body of a POST /system.wcr request. The body is
split on "&"; every piece holding "=" gives a field (name before the first
"=", value after it, first occurrence wins); pieces without "=" are ignored.
Nothing is URL-decoded: values are bytes, kept as latin-1 text. So an ID typed
with "&" in it is cut at the "&" and the rest is ignored.
"""

import threading

TOKEN = "HJ5_Ret(%d)"
DEFAULT_PARAMS = (
    ("model", "HJ-5"),
    ("firmware", "1.20"),
    ("serial", "HJ5-000001"),
    ("svr_http_port", "80"),
    ("svr_ftp_port", "0"),
    ("user9", "HJ5M"),
)
# What an update that never finished leaves behind: FTP on, marked.
LEFT_IN_UPDATE = (("svr_ftp_port", "21"), ("user9", "UPDATE"))
OVERSIZE_BYTES = 20 * 1024
GARBAGE = b"<html><body>500 ?\x7f#!@ status=ERR\r\n</body></html>\r\n"
TRAILER = "\r\nEND\r\n"

# Reply codes.
OK = 0
NO_FIELDS = -1
WRONG_ID = -2
WRONG_PW = -3
SET_FAILED = -5
UNKNOWN_COMMAND = -6


def parse_fields(body):
    """Fields of a command body (bytes) as {name: latin-1 text}."""
    fields = {}
    for piece in body.split(b"&"):
        if b"=" not in piece:
            continue
        name, value = piece.split(b"=", 1)
        fields.setdefault(name.decode("latin-1"), value.decode("latin-1"))
    return fields


class Reply:
    """What the device answers to one request, and how it is delivered."""

    def __init__(self, code, body, restart=False, fault=None):
        self.code = code
        self.body = body  # bytes
        self.restart = restart
        self.fault = fault or {}


class Device:
    """Device state; every method is thread-safe. Its reboot timer runs on
    `loop` (anything with call_later(seconds, fn) returning a handle with
    cancel()).

    `hooks` has go_down(exempt) and boot() for the network sides; they are
    called with no lock held.
    """

    def __init__(self, loop, login_id, password, params, faults, records,
                 reboot_seconds, ftp_on=False):
        self.loop = loop
        self._lock = threading.RLock()
        self.login_id = login_id
        self.password = password
        self.params = dict(DEFAULT_PARAMS)
        self.params.update(params)
        if ftp_on:
            self.params["svr_ftp_port"] = "21"
        self.faults = faults
        self.records = records
        self.reboot_seconds = reboot_seconds
        self.boot_count = 1
        self.restart_count = 0
        self.up = True
        self.ftp_at_boot = self.params["svr_ftp_port"] == "21"
        self.stuck = False
        self._booting = False
        self._timer = None
        self._closed = False
        self.hooks = None

    # --- parameters -------------------------------------------------------

    def get_param(self, name):
        with self._lock:
            return self.params.get(name)

    def set_param(self, name, value):
        with self._lock:
            self.params[name] = value

    def all_params(self):
        with self._lock:
            return dict(self.params)

    def state(self):
        with self._lock:
            return {"up": self.up and not self._booting,
                    "boot_count": self.boot_count,
                    "restart_count": self.restart_count,
                    "ftp_enabled_at_boot": self.ftp_at_boot,
                    "stuck": self.stuck, "params": dict(self.params),
                    "left_in_update": self._left_in_update()}

    def left_in_update(self):
        """True when the parameters show an update that never finished."""
        with self._lock:
            return self._left_in_update()

    def _left_in_update(self):
        return (self.params.get("user9") == "UPDATE" or
                self.params.get("svr_ftp_port") == "21")

    def leave_in_update(self):
        """Now as an unfinished update leaves it: FTP on (as if booted with
        it), user9 UPDATE. The caller starts the FTP server."""
        with self._lock:
            self.params.update(LEFT_IN_UPDATE)
            self.ftp_at_boot = True

    def is_up(self):
        """True when the device answers commands."""
        with self._lock:
            return self.up

    def ftp_should_run(self):
        with self._lock:
            return ((self.up or self._booting) and self.ftp_at_boot and
                    not self.faults.has_ftp("not_started"))

    # --- commands ---------------------------------------------------------

    def answer(self, seq, body):
        """The reply to the command `body` (bytes), request number `seq`."""
        fields = parse_fields(body)
        fault = self.faults.take_http(seq, fields) or {}
        execute = fault.get("execute", "code" not in fault)
        with self._lock:
            if execute:
                code, text, restart = self._run(fields)
            else:
                code, text, restart = self._dry_run(fields)
        if "code" in fault:
            code = fault["code"]
        return Reply(code, self._body(code, text, fault), restart, fault)

    def _run(self, fields):
        code, text = self._check(fields)
        if code is not None:
            return code, text, False
        mode, act = fields.get("MODE"), fields.get("ACT")
        if mode == "4":
            return OK, self._listing(), False
        if mode == "2" and act == "21":
            name, value = fields.get("CODE", ""), fields.get("DATA", "")
            if name not in self.params:
                return SET_FAILED, "", False
            self.params[name] = value
            return OK, "%s=%s\r\n" % (name, value), False
        if mode == "2":
            return SET_FAILED, "", False
        if mode == "3" and act == "1":
            return OK, "", True
        if mode == "1" and act == "1":
            return OK, "", False
        return UNKNOWN_COMMAND, "", False

    def _dry_run(self, fields):
        """The reply without carrying the command out."""
        code, text = self._check(fields)
        if code is not None:
            return code, text, False
        if fields.get("MODE") == "4":
            return OK, self._listing(), False
        return OK, "", False

    def _check(self, fields):
        if not fields:
            return NO_FIELDS, ""
        if fields.get("ID") != self.login_id:
            return WRONG_ID, ""
        if fields.get("PW") != self.password:
            return WRONG_PW, ""
        return None, ""

    def _listing(self):
        return "".join("%s=%s\r\n" % item for item in self.params.items())

    @staticmethod
    def _body(code, text, fault):
        if "body" in fault:
            return fault["body"].encode("latin-1")
        if fault.get("garbage"):
            return GARBAGE
        token = TOKEN % code
        if fault.get("oversize"):
            fill = OVERSIZE_BYTES - len(text) - len(token)
            line = "filler=" + "x" * 57 + "\r\n"
            text += (line * (fill // len(line) + 1))[:max(fill, 0)]
        out = text + token
        extra = fault.get("token_not_at_end")
        if extra:
            out += extra if isinstance(extra, str) else TRAILER
        return out.encode("latin-1")

    # --- restarts ---------------------------------------------------------

    def restart(self, exempt=None):
        """Goes down now and boots after reboot_seconds (unless a fault keeps
        it down). `exempt` is the connection that carries the reply."""
        with self._lock:
            if self._closed:
                return
            self.restart_count += 1
            self.up = False
            self.stuck = self.faults.restart_sticks()
            self._cancel_timer()
            count, stuck = self.restart_count, self.stuck
        self.records.add_event("down", restart_count=count, stuck=stuck)
        if self.hooks:
            self.hooks.go_down(exempt)
        # The boot timer starts once the device is fully down, so that even a
        # very short reboot cannot end before going down has.
        with self._lock:
            if self._closed or self.stuck or self.restart_count != count:
                return
            self._timer = self.loop.call_later(self.reboot_seconds,
                                               self.boot)

    def boot(self):
        """Comes back: the FTP server first, then the HTTP side."""
        with self._lock:
            if self._closed:
                return
            self._timer = None
            self.boot_count += 1
            self.stuck = False
            self.ftp_at_boot = self.params.get("svr_ftp_port") == "21"
            self._booting = True
            count, ftp = self.boot_count, self.ftp_at_boot
        self.records.add_event("boot", boot_count=count, ftp=ftp)
        if self.hooks:
            self.hooks.boot()
        else:
            self.set_up()
        with self._lock:
            self._booting = False

    def set_up(self):
        """The device answers commands from now on (called while booting)."""
        with self._lock:
            self.up = True

    def close(self):
        with self._lock:
            self._closed = True
            self._cancel_timer()

    def _cancel_timer(self):
        if self._timer is not None:
            self._timer.cancel()
            self._timer = None

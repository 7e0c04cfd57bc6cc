"""Faults: ways the device or the network misbehaves, set by tests.

A fault is a JSON object. It has exactly one family:

HTTP reply faults (aimed by "match", "nth" or "probe"; none of them: every
request):
  code              int    reply with this token; the command is not carried
                           out (MODE=4 still lists the parameters)
  execute           bool   override: carry the command out (true) or not
  delay_ms          number wait before the first byte of the reply
  drip_ms           number send the reply one byte every N ms
  truncate          int    send only the first N bytes of the reply, then close
  reset             bool|int  send part of the reply (half, or N bytes), then
                           reset the connection (RST)
  blackhole         bool   read the request, never answer, keep the connection
  close             bool   close the connection after this reply
  oversize          bool   20 KB body, token at its end
  garbage           bool   a body without any token
  token_not_at_end  bool|str  text after the token ("\\r\\nEND\\r\\n" or the
                           given text)
  body              str    the whole body, verbatim (latin-1)

Restart faults:
  never_back_after_restart  int  the Nth restart from now never boots again

FTP faults ("ftp": name):
  login_refused     530 to every PASS
  stor_550          STOR answered 550
  stor_552          STOR answered 552
  final_451         the upload is received, then answered 451 (file removed)
  drop_mid_upload   after the first bytes ("after_bytes", default 1) of the
                    upload, data and control connections are reset
  not_started       the FTP server is not running while this fault is set
  store_short       the upload is answered 226, but the stored file lacks its
                    last bytes ("drop_bytes", default 1)
  store_flip        the upload is answered 226, but one byte of the stored
                    file is inverted (at "at", default the middle byte)
  no_size           SIZE answered 502 and left out of FEAT
  slow_store        an upload's data connection is read at "bytes_per_second"
                    (default 65536)

Every fault may carry "times": N (it is spent after N uses); without it, it
applies every time.
"""

import copy
import itertools
import threading

FIELDS = ("ID", "PW", "MODE", "ACT", "CODE", "DATA")
SELECTORS = ("match", "nth", "probe")
HTTP_KINDS = ("code", "execute", "delay_ms", "drip_ms", "truncate", "reset",
              "blackhole", "close", "oversize", "garbage", "token_not_at_end",
              "body")
FTP_NAMES = ("login_refused", "stor_550", "stor_552", "final_451",
             "drop_mid_upload", "not_started", "store_short", "store_flip",
             "no_size", "slow_store")
# Options of single FTP faults: (fault, least value).
FTP_OPTIONS = {"after_bytes": ("drop_mid_upload", 1),
               "drop_bytes": ("store_short", 1),
               "at": ("store_flip", 0),
               "bytes_per_second": ("slow_store", 1)}
COMMON = ("times", "id", "note")


class FaultError(ValueError):
    """A fault description that cannot be used."""


def _require(cond, message):
    if not cond:
        raise FaultError(message)


def _is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def _is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def _check_http(desc):
    match = desc.get("match", {})
    _require(isinstance(match, dict), "match must be an object")
    for name, value in match.items():
        _require(name in FIELDS, "match: unknown field %r" % name)
        _require(isinstance(value, str), "match: %s must be a string" % name)
    if "nth" in desc:
        _require(_is_int(desc["nth"]) and desc["nth"] >= 1,
                 "nth must be an integer >= 1")
    if "probe" in desc:
        _require(isinstance(desc["probe"], bool), "probe must be true/false")
    if "code" in desc:
        _require(_is_int(desc["code"]), "code must be an integer")
    for key in ("delay_ms", "drip_ms"):
        if key in desc:
            _require(_is_number(desc[key]) and desc[key] >= 0,
                     "%s must be a number >= 0" % key)
    if "truncate" in desc:
        _require(_is_int(desc["truncate"]) and desc["truncate"] >= 0,
                 "truncate must be an integer >= 0")
    if "reset" in desc:
        value = desc["reset"]
        _require(isinstance(value, bool) or (_is_int(value) and value >= 0),
                 "reset must be true or a byte count")
    for key in ("execute", "blackhole", "close", "oversize", "garbage"):
        if key in desc:
            _require(isinstance(desc[key], bool),
                     "%s must be true/false" % key)
    if "token_not_at_end" in desc:
        _require(isinstance(desc["token_not_at_end"], (bool, str)),
                 "token_not_at_end must be true or a text")
    if "body" in desc:
        _require(isinstance(desc["body"], str), "body must be a string")


def validate(desc):
    """Returns the family of a fault ("http", "restart" or "ftp")."""
    _require(isinstance(desc, dict), "a fault is a JSON object")
    known = set(SELECTORS + HTTP_KINDS + FTP_NAMES + COMMON +
                tuple(FTP_OPTIONS) + ("ftp", "never_back_after_restart"))
    for key in desc:
        _require(key in known, "unknown key %r" % key)
    if "times" in desc:
        _require(_is_int(desc["times"]) and desc["times"] >= 1,
                 "times must be an integer >= 1")
    families = []
    if any(k in desc for k in HTTP_KINDS):
        families.append("http")
    if "never_back_after_restart" in desc:
        families.append("restart")
    if "ftp" in desc:
        families.append("ftp")
    _require(len(families) == 1,
             "a fault needs exactly one of: an HTTP reply kind, "
             "never_back_after_restart, ftp")
    family = families[0]
    if family != "http":
        _require(not any(k in desc for k in SELECTORS),
                 "match/nth/probe aim HTTP reply faults only")
    if family == "http":
        _check_http(desc)
    elif family == "restart":
        n = desc["never_back_after_restart"]
        _require(_is_int(n) and n >= 1,
                 "never_back_after_restart must be an integer >= 1")
    else:
        _require(desc["ftp"] in FTP_NAMES,
                 "ftp must be one of " + ", ".join(FTP_NAMES))
    for key, (name, least) in FTP_OPTIONS.items():
        if key not in desc:
            continue
        _require(family == "ftp" and desc["ftp"] == name,
                 "%s belongs to the ftp fault %s" % (key, name))
        _require(_is_int(desc[key]) and desc[key] >= least,
                 "%s must be an integer >= %d" % (key, least))
    return family


class _Fault:
    def __init__(self, fault_id, desc, family):
        self.id = fault_id
        self.desc = desc
        self.family = family
        self.left = desc.get("times")
        self.restarts_seen = 0

    def use(self):
        """Counts one use; returns the desc as it was applied."""
        if self.left is not None:
            self.left -= 1
        return self.desc

    def spent(self):
        return self.left is not None and self.left <= 0

    def describe(self):
        out = dict(self.desc, id=self.id, family=self.family)
        if self.left is not None:
            out["times_left"] = self.left
        return out


def _selects(desc, seq, fields):
    if "nth" in desc and desc["nth"] != seq:
        return False
    if "probe" in desc and desc["probe"] != (not fields):
        return False
    for name, value in desc.get("match", {}).items():
        if fields.get(name) != value:
            return False
    return True


class FaultBook:
    """The faults in force, in the order they were added."""

    def __init__(self):
        self._lock = threading.Lock()
        self._faults = []
        self._ids = itertools.count(1)

    def add(self, desc):
        """Adds one fault; returns its id. Raises FaultError."""
        family = validate(desc)
        with self._lock:
            fault = _Fault(next(self._ids), copy.deepcopy(desc), family)
            self._faults.append(fault)
            return fault.id

    def clear(self):
        with self._lock:
            self._faults.clear()

    def describe(self):
        with self._lock:
            return [f.describe() for f in self._faults]

    def take_http(self, seq, fields):
        """The first HTTP fault aimed at request `seq` with these fields, used
        once; None when no fault applies."""
        with self._lock:
            for fault in self._faults:
                if (fault.family == "http" and
                        _selects(fault.desc, seq, fields)):
                    return self._use(fault)
        return None

    def take_ftp(self, name):
        """The first FTP fault called `name`, used once; None if none."""
        with self._lock:
            for fault in self._faults:
                if fault.family == "ftp" and fault.desc["ftp"] == name:
                    return self._use(fault)
        return None

    def has_ftp(self, name):
        with self._lock:
            return any(f.family == "ftp" and f.desc["ftp"] == name
                       for f in self._faults)

    def restart_sticks(self):
        """Counts one restart; True when a fault says it never boots again."""
        stuck = False
        with self._lock:
            for fault in list(self._faults):
                if fault.family != "restart":
                    continue
                fault.restarts_seen += 1
                limit = fault.desc["never_back_after_restart"]
                if fault.restarts_seen == limit:
                    stuck = True
                    self._use(fault)
        return stuck

    def _use(self, fault):
        desc = fault.use()
        if fault.spent():
            self._faults.remove(fault)
        return desc

"""OVTblDiffData from Python: the gateway object's members called by name over the library's
C interface (no compiler needed).

    import ovtbldiff
    g = ovtbldiff.Gateway(db="entry1.db", link="entry2.db")
    conflicts = g.GetTblDiffRecRS(Table1Name="House", Table2Name="ORULINK_House",
                                  MatchKeys=["HouseNo"], CompareFields=["Rooms"],
                                  eSqlType=1, OruType=True).result
    for record in conflicts:
        print(record)

Arguments take the value forms of `ovtbldiff call`: str, int, float, bool, None (Null), lists
(arrays), connection(...) and table(...) objects. Every member call returns a Result: the
member's return value and its by-reference arguments as the member left them. An error the
member raises comes as ComError with number, source and description.

A whole survey's two entries are verified in one call, with the result `ovtbldiff verify
--format json` prints (forms, grids, counts, conflicts, unpaired records):

    report = ovtbldiff.verify("entry1.db", "entry2.db", keys={"House": "HouseNo", "Member": "LineNo"})
"""
import json
import threading
from typing import Any, Dict, List, NamedTuple, Optional

from . import _capi

__all__ = ["ComError", "Gateway", "Recordset", "Result", "connection", "table", "unallocated", "verify", "version"]

_lib = None
_lib_lock = threading.Lock()


def _library():
    global _lib
    with _lib_lock:
        if _lib is None:
            _lib = _capi.load()
        return _lib


class ComError(Exception):
    """An error the component raised (or error 5 for input it refused)."""

    def __init__(self, number: int, source: str, description: str):
        super().__init__(f"error {number} ({source}): {description}")
        self.number = number
        self.source = source
        self.description = description

    @classmethod
    def _from_record(cls, lib):
        return cls(lib.ovt_error_number(), (lib.ovt_error_source() or b"").decode("utf-8", "replace"),
                   (lib.ovt_error_description() or b"").decode("utf-8", "replace"))


class Recordset:
    """A result set read to its end: iterable of dicts (column name -> value)."""

    def __init__(self, fields: List[Dict[str, Any]], rows: List[List[Any]]):
        self.fields = [f["name"] for f in fields]
        self.types = [f["type"] for f in fields]
        self.rows = rows

    def __iter__(self):
        for row in self.rows:
            yield dict(zip(self.fields, row))

    def __len__(self):
        return len(self.rows)

    def __repr__(self):
        return f"Recordset(fields={self.fields!r}, {len(self.rows)} rows)"

    def to_pandas(self):
        """The records as a pandas DataFrame (pandas must be installed)."""
        import pandas
        return pandas.DataFrame(self.rows, columns=self.fields)


class Result(NamedTuple):
    """What a member call gave: its return value and its by-reference arguments afterwards."""
    result: Any
    byref: Dict[str, Any]


def connection(database: Optional[str], link: Optional[str] = None, view: Optional[str] = None,
               same: Optional[str] = None) -> dict:
    """A connection argument: a SQLite file or PostgreSQL location (None: Nothing)."""
    c = {"database": database}
    if link:
        c["link"] = link
    if view is not None:
        c["view"] = view
    if same is not None:
        c["same"] = same
    return c


def table(name: str, database) -> dict:
    """A table argument: table `name` of a connection (or of the database at that location)."""
    conn = database if isinstance(database, dict) else connection(database)
    return {"table": name, "in": conn}


def unallocated() -> dict:
    """An unallocated array, for an output argument the member fills (CommonFields, ParentInfo)."""
    return {"unallocated": True}


def version() -> str:
    """The library's version."""
    return _library().ovt_version().decode()


def _value(v):
    """A JSON value as Python: recordsets as Recordset, arrays with another lower bound as lists."""
    if isinstance(v, dict):
        if "fields" in v and "rows" in v:
            return Recordset(v["fields"], [[_value(x) for x in row] for row in v["rows"]])
        if "array" in v and "lbound" in v:
            return _value(v["array"])
    if isinstance(v, list):
        return [_value(x) for x in v]
    return v


class Gateway:
    """A cDataGetway object, used on the thread that created it."""

    def __init__(self, db: Optional[str] = None, link: Optional[str] = None, view: Optional[str] = None):
        self._lib = _library()
        handle = _capi.ctypes.c_void_p()
        if self._lib.ovt_create(_capi.ctypes.byref(handle)) != _capi.OK:
            raise ComError._from_record(self._lib)
        self._handle = handle
        self._members = None
        if db is not None:
            self.set_db(db, link=link, view=view)

    def close(self):
        """Releases the object (also done when it is garbage-collected)."""
        if getattr(self, "_handle", None):
            if self._lib.ovt_release(self._handle) != _capi.OK:
                raise ComError._from_record(self._lib)
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass

    def set_db(self, db: Optional[str], link: Optional[str] = None, view: Optional[str] = None):
        """Stores a connection in DB (db None: Nothing)."""
        enc = lambda s: None if s is None else s.encode("utf-8")
        if self._lib.ovt_set_db(self._check(), enc(db), enc(link), enc(view)) != _capi.OK:
            raise ComError._from_record(self._lib)

    def members(self) -> List[dict]:
        """The member table: name, kind, result and parameters (name, type, byref, optional)."""
        if self._members is None:
            out = _capi.ctypes.c_void_p()
            if self._lib.ovt_members(self._check(), _capi.ctypes.byref(out)) != _capi.OK:
                raise ComError._from_record(self._lib)
            self._members = json.loads(_capi.take_text(self._lib, out.value))
        return self._members

    def call(self, member: str, *args, **kwargs) -> dict:
        """Calls a member by name; the output as `ovtbldiff call` prints it, parsed."""
        if args and kwargs:
            raise TypeError(f"{member}: give the arguments by position or by name, not both")
        payload = json.dumps(list(args) if args else kwargs).encode("utf-8")
        out = _capi.ctypes.c_void_p()
        status = self._lib.ovt_call(self._check(), member.encode("utf-8"), payload, _capi.ctypes.byref(out))
        text = _capi.take_text(self._lib, out.value)
        if status != _capi.OK:
            raise ComError._from_record(self._lib)
        return json.loads(text)

    def verify(self, entry1: str, entry2: str, keys: Optional[Dict[str, Any]] = None, survey: Optional[str] = None,
               ignore=None, case_sensitive: bool = False, labels: Optional[List[str]] = None) -> dict:
        """Verifies two entries as `ovtbldiff verify --format json` does and returns its object;
        see the module function verify. Sets this object's DB."""
        tables: Dict[str, Dict[str, Any]] = {}
        for name, cols in (keys or {}).items():
            tables.setdefault(name, {})["keys"] = cols
        if isinstance(ignore, dict):
            ignore = [f"{name}.{field}" for name, fields in ignore.items()
                      for field in ([fields] if isinstance(fields, str) else fields)]
        for item in ignore or []:
            name, dot, field = item.partition(".")
            if not dot or not name or not field:
                raise ValueError(f"ignore {item!r}: TABLE.FIELD is expected")
            tables.setdefault(name, {}).setdefault("ignore", []).append(field)
        request = {"entry1": entry1, "entry2": entry2, "tables": tables, "survey": survey,
                   "case_sensitive": bool(case_sensitive), "labels": labels}
        out = _capi.ctypes.c_void_p()
        status = self._lib.ovt_verify(self._check(), json.dumps(request).encode("utf-8"), _capi.ctypes.byref(out))
        text = _capi.take_text(self._lib, out.value)
        if status != _capi.OK:
            raise ComError._from_record(self._lib)
        return json.loads(text)

    @property
    def DB(self):
        """The stored connection: its location, or None for Nothing."""
        return self.call("DB")["result"]

    @DB.setter
    def DB(self, value):
        """Stores a location (None: Nothing) or a connection(...) in DB."""
        if isinstance(value, dict):
            self.set_db(value.get("database"), link=value.get("link"), view=value.get("view"))
        else:
            self.set_db(value)

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        member = next((m for m in self.members() if m["name"].lower() == name.lower() and m["kind"] == "method"),
                      None)
        if member is None:
            raise AttributeError(f"cDataGetway has no member {name!r}")

        def invoke(*args, **kwargs):
            if args and kwargs:  # positions first, then names, as Python calls go
                names = [p["name"] for p in member["params"]]
                if len(args) > len(names):
                    raise TypeError(f"{member['name']} takes at most {len(names)} arguments")
                for name, value in zip(names, args):
                    if any(k.lower() == name.lower() for k in kwargs):
                        raise TypeError(f"{member['name']}: {name} given by position and by name")
                    kwargs[name] = value
                args = ()
            out = self.call(member["name"], *args, **kwargs)
            return Result(_value(out["result"]), {k: _value(v) for k, v in out["byref"].items()})

        invoke.__name__ = member["name"]
        invoke.__doc__ = "{}({})".format(member["name"], ", ".join(
            ("ByRef " if p["byref"] else "") + p["name"] + ("=..." if p["optional"] else "")
            for p in member["params"]))
        return invoke

    def __dir__(self):
        return sorted(set(super().__dir__()) | {m["name"] for m in self.members()})

    def _check(self):
        if not self._handle:
            raise ValueError("the gateway object was released")
        return self._handle


def verify(entry1: str, entry2: str, keys: Optional[Dict[str, Any]] = None, survey: Optional[str] = None,
           ignore=None, case_sensitive: bool = False, labels: Optional[List[str]] = None) -> dict:
    """Verifies a survey's two entries (files or PostgreSQL locations) and returns the object
    `ovtbldiff verify --format json` prints. keys: {TABLE: "COL" or [COL, ...]} per data table
    (a grid's table: its key within the parent record); survey: a survey file; ignore:
    ["TABLE.FIELD", ...] or {TABLE: [FIELD, ...]}; labels: names of the entries in the report.
    A setting naming nothing raises ComError (number 5) naming it."""
    with Gateway() as g:
        return g.verify(entry1, entry2, keys=keys, survey=survey, ignore=ignore, case_sensitive=case_sensitive,
                        labels=labels)

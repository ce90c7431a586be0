#!/usr/bin/env python3
"""Writes render_corpus.txt: statements for the rendering golden test, one per line
(backslash, line breaks and NUL escaped).

  make_corpus.py [CAPTURED]

CAPTURED: statements the library parsed during a run of the whole test suite, one per line
escaped the same way (one per statement shape, literals masked; only four longer than 500 characters).
Then the string literals of src/, tests/, fuzz/ and bench/ (adjacent literals joined) that
begin with a statement word, then statements of a seeded random generator of the dialect's
constructs. The output is committed, so the corpus changes only when this is run on purpose.
"""
import pathlib
import random
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parents[3]
WORDS = re.compile(r"^\s*(select|insert|update|delete|create|drop)\s", re.I)
ESC = {"n": "\n", "t": "\t", "r": "\r", "0": "\0", "\\": "\\", "'": "'", '"': '"', "?": "?", "a": "\a", "b": "\b",
       "f": "\f", "v": "\v"}


def literals(text):
    """The string literals of a C++ source, adjacent ones joined."""
    i, n, out, cur, last_end = 0, len(text), [], None, -1
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            i = text.find("\n", i)
            i = n if i < 0 else i
            continue
        if text.startswith("/*", i):
            j = text.find("*/", i + 2)
            i = n if j < 0 else j + 2
            continue
        if c == "'" and not (i > 0 and (text[i - 1].isalnum())):
            j = i + 1
            while j < n and text[j] != "'":
                j += 2 if text[j] == "\\" else 1
            i = j + 1
            continue
        m = re.match(r'(u8|u|U|L)?R"([^(\s]*)\(', text[i:i + 40])
        if m and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            end = ")" + m.group(2) + '"'
            j = text.find(end, i + m.end())
            s = text[i + m.end():j]
            cur = (cur + s) if cur is not None and text[last_end:i].strip() == "" else s
            if cur is s: out.append(None)
            out[-1] = cur
            i = last_end = j + len(end)
            continue
        if c == '"':
            j, s = i + 1, []
            while j < n and text[j] != '"':
                if text[j] == "\\":
                    e = text[j + 1]
                    if e == "x":
                        k = j + 2
                        while k < n and text[k] in "0123456789abcdefABCDEF": k += 1
                        s.append(chr(int(text[j + 2:k], 16) & 0xFF))
                        j = k
                        continue
                    s.append(ESC.get(e, e))
                    j += 2
                else:
                    s.append(text[j])
                    j += 1
            s = "".join(s)
            if cur is not None and last_end >= 0 and text[last_end:i].strip() == "":
                cur += s
                out[-1] = cur
            else:
                cur = s
                out.append(cur)
            i = last_end = j + 1
            continue
        i += 1
    return [s for s in out if s is not None]


def extracted():
    seen = []
    for folder in ("src", "tests", "fuzz", "bench"):
        for path in sorted((ROOT / folder).rglob("*")):
            if path.suffix not in (".cpp", ".h"): continue
            for s in literals(path.read_text(encoding="utf-8", errors="replace")):
                if WORDS.match(s) and "\n" not in s and len(s) <= 500 and s not in seen:
                    seen.append(s)
    return seen


class Gen:
    COLS = ["[A].[ID]", "[A].[X]", "[A].[Y]", "[B].[X]", "[B].[Y]", "[B].[ID]", "X", "recstatus", "[A].[K1]",
            "[A].[K2]", "B.K2", "Age", "Name", "[Survey].[Born]", "Married", "UniqueKey", "HouseNo", "Unknown1",
            "[T].[Col]", "A.F3", "ORULINK_Survey.Name"]
    FUNCS = [("len", 1), ("abs", 1), ("ucase", 1), ("lcase", 1), ("mid", 2), ("mid", 3), ("left", 2), ("trim", 1),
             ("ltrim", 1), ("rtrim", 1), ("nz", 1), ("nz", 2), ("cstr", 1), ("isnull", 1), ("iif", 3), ("count", 1),
             ("sum", 1), ("avg", 1), ("min", 1), ("max", 1), ("Format", 1), ("len", 2)]
    TABLES = ["[A]", "[B]", "A", "Survey", "ORULINK_Survey", "[House]", "Member", "QryTblDiff1", "Unknown"]

    def __init__(self, seed):
        self.r = random.Random(seed)

    def pick(self, xs):
        return self.r.choice(xs)

    def literal(self):
        k = self.r.randrange(10)
        return ["42", "-7", "1.5", "'t'", '"O\'Brien"', "#12/5/2026#", "#2026-01-01 10:30:00#", "True", "Null",
                "'a\\b'"][k]

    def expr(self, d=0):
        k = self.r.randrange(16 if d < 3 else 3)
        if k == 0: return self.pick(self.COLS)
        if k == 1: return self.literal()
        if k == 2: return self.pick(self.COLS)
        if k == 3: return self.expr(d + 1) + " " + self.pick(["+", "-", "*", "/", "mod"]) + " " + self.expr(d + 1)
        if k == 4: return " & ".join(self.expr(d + 1) for _ in range(self.r.randrange(2, 4)))
        if k == 5:
            f, n = self.pick(self.FUNCS)
            args = "*" if f == "count" and self.r.random() < 0.5 else ", ".join(self.expr(d + 1) for _ in range(n))
            return f + "(" + args + ")"
        if k == 6: return self.pick(["-", "+", "not "]) + self.expr(d + 1)
        if k == 7: return "(" + self.expr(d + 1) + ")"
        return self.cond(d + 1)

    def cond(self, d=0):
        k = self.r.randrange(11 if d < 3 else 2)
        if k == 0: return self.expr(d + 1) + " " + self.pick(["=", "<>", "<", ">", "<=", ">="]) + " " + self.expr(d + 1)
        if k == 1: return self.expr(d + 1) + (" is not null" if self.r.random() < 0.5 else " is null")
        if k == 2: return self.cond(d + 1) + " " + self.pick(["and", "or"]) + " " + self.cond(d + 1)
        if k == 3: return "not " + self.cond(d + 1)
        if k == 4:
            return self.expr(d + 1) + self.pick([" in (", " not in ("]) + ", ".join(
                self.literal() for _ in range(self.r.randrange(1, 4))) + ")"
        if k == 5: return self.expr(d + 1) + self.pick([" in (", " not in ("]) + self.select(d + 1) + ")"
        if k == 6: return self.expr(d + 1) + self.pick([" between ", " not between "]) + self.expr(d + 1) + " and " + self.expr(d + 1)
        if k == 7:
            pat = self.pick(["'a*[b-d]?#'", "'[!x]*'", "'*.txt'", "Null", "[A].[Y]", "'x\\y%_'", "'[]'", "'[!]z'",
                             "'é*'", "'['"])
            return self.expr(d + 1) + self.pick([" like ", " not like "]) + pat
        if k == 8: return self.pick(["exists (", "not exists ("]) + self.select(d + 1) + ")"
        if k == 9:
            n = self.r.randrange(1, 4)
            a = " & ".join(self.pick(self.COLS) for _ in range(n))
            b = " & ".join(self.pick(self.COLS) for _ in range(n if self.r.random() < 0.8 else n + 1))
            return a + self.pick(["<>", "="]) + b
        return self.expr(d + 1) + " = (" + self.select(d + 1) + ")"

    def source(self, d):
        k = self.r.randrange(5 if d < 2 else 2)
        t = self.pick(self.TABLES)
        if k == 0: return t
        if k == 1: return t + " as " + self.pick(["T", "Q", "[My Alias]"])
        if k == 2: return "(" + self.select(d + 1) + ") as " + self.pick(["S", "Sub"])
        return (self.source(d + 1) + self.pick([" inner join ", " left join ", " right join "]) + self.source(d + 1) +
                " on " + self.cond(d + 1))

    def select(self, d=0):
        s = "select "
        if self.r.random() < 0.1: s += "distinct "
        if self.r.random() < 0.1: s += "top 5 "
        items = []
        for _ in range(self.r.randrange(1, 4)):
            k = self.r.randrange(6)
            if k == 0 and not items: items.append("*")
            elif k == 1: items.append(self.pick(["A", "T", "[B]"]) + ".*")
            elif k == 2: items.append(self.expr(d + 1) + " as " + self.pick(["v", "[Total Count]", "Name"]))
            else: items.append(self.expr(d + 1))
        s += ", ".join(items)
        if d == 0 and self.r.random() < 0.1: s += " into " + self.pick(["A_bk", "ORULINK_New", "[New T]"])
        s += " from " + ", ".join(self.source(d + 1) for _ in range(1 if self.r.random() < 0.8 else 2))
        if self.r.random() < 0.7: s += " where " + self.cond(d + 1)
        if self.r.random() < 0.25:
            s += " group by " + ", ".join(self.pick(self.COLS + ["1", "'k'"]) for _ in range(self.r.randrange(1, 3)))
            if self.r.random() < 0.5: s += " having " + self.cond(d + 1)
        if self.r.random() < 0.3:
            s += " order by " + ", ".join(self.pick(self.COLS + ["1", "v", "len(X)"]) + self.pick(["", " desc", " asc"])
                                          for _ in range(self.r.randrange(1, 3)))
        return s

    def statement(self):
        k = self.r.randrange(12)
        t = self.pick(self.TABLES)
        if k == 0:
            return "insert into " + t + " (X, [Y], recstatus) values (" + ", ".join(self.expr(2) for _ in range(3)) + ")"
        if k == 1: return "insert into " + t + " (X, Y) " + self.select(1)
        if k == 2:
            return "update " + t + " set X = " + self.expr(1) + ", [Y] = " + self.expr(1) + " where " + self.cond(1)
        if k == 3: return "delete from " + t + " where " + self.cond(1)
        if k == 4:
            cols = ["ID COUNTER", "ID2 AUTOINCREMENT PRIMARY KEY", "X TEXT(10) NOT NULL", "M MEMO", "N LONG DEFAULT -1",
                    "D DATETIME", "Y YESNO DEFAULT True", "C CURRENCY", "G GUID", "R DECIMAL(10,2) UNIQUE", "S STRING",
                    "B BYTE", "F DOUBLE DEFAULT 1.5", "T TEXT DEFAULT 'x'", "Z WEIRDTYPE", "K SHORT PRIMARY KEY",
                    "Q NOTE", "V VARCHAR", "W TEXT(20) DEFAULT X"]
            picked = self.r.sample(cols, self.r.randrange(1, 5))
            extra = self.pick(["", ", PRIMARY KEY (ID)", ", UNIQUE (X, N)", ", PRIMARY KEY (X, N)"])
            return "create table " + t + " (" + ", ".join(picked) + extra + ")"
        if k == 5: return "drop table " + t
        if k == 6:
            return "create " + self.pick(["", "unique "]) + "index Ix1 on " + t + " (X" + self.pick(["", " desc"]) + ", ID)"
        if k == 7: return "drop index Ix1 on " + t
        return self.select()


LITERAL = re.compile(r"'(?:[^']|'')*'|\"(?:[^\"]|\"\")*\"|#[^#]*#|\b\d+(?:\.\d+)?\b")


def unescape(line):
    out, i = [], 0
    while i < len(line):
        c = line[i]
        if c == "\\" and i + 1 < len(line):
            e = line[i + 1]
            out.append({"n": "\n", "r": "\r", "0": "\0"}.get(e, e))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def captured(path):
    shapes, out, long_ones = set(), [], 0
    for line in open(path, encoding="utf-8", errors="surrogateescape").read().split("\n"):
        key = LITERAL.sub("?", line)
        if not line or key in shapes: continue
        shapes.add(key)
        if len(line) > 500:
            long_ones += 1
            if long_ones > 4: continue
        out.append(unescape(line))
    return out


def main():
    stmts = captured(sys.argv[1]) if len(sys.argv) > 1 else []
    for s in extracted():
        if s not in stmts: stmts.append(s)
    g = Gen(20261207)
    generated = []
    while len(generated) < 600:
        s = g.statement()
        if s not in stmts and s not in generated: generated.append(s)
    out = ROOT / "tests/dialect/golden/render_corpus.txt"
    with open(out, "w", encoding="utf-8", errors="surrogateescape", newline="\n") as f:
        for s in stmts + generated:
            f.write(s.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r").replace("\0", "\\0") + "\n")
    print(len(stmts), "extracted,", len(generated), "generated")


if __name__ == "__main__":
    main()

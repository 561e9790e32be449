"""Deterministic turns for the benchmarks: a RunLog and claims of every kind.

Every turn comes from a fixed seed, so two runs measure the same work. A turn reads
source files, runs grep/cat/sed -n/ls and test commands (some failing), writes files
with payloads, takes a few external actions, and carries a little non-ASCII text.
"""

import random

IDENT = ["config", "parser", "retry", "timeout", "handler", "session", "cache", "token",
         "render", "schema", "worker", "queue", "router", "client", "buffer", "loader"]
DIRS = ["src", "src/app", "lib", "tests", "docs", "tools", "pkg/core", "web/static"]
EXTS = [".py", ".ts", ".md", ".yaml", ".json", ".rs"]
WORDS = ["the", "value", "returns", "when", "error", "missing", "file", "check", "update",
         "request", "response", "default", "option", "result", "list", "count", "path"]
NON_ASCII = ["naïve", "café", "→", "—", "Straße", "日本語", "Ωmega", "İstanbul", "ſtate", "≈"]
SIZES = {"small": (20_000, 10), "medium": (1_000_000, 100), "large": (20_000_000, 1_000)}


class Turn:
    def __init__(self, seed, log_bytes, n_events):
        self.rng = random.Random(seed)
        self.paths = [self.path() for _ in range(max(8, n_events // 3))]
        self.run_log = self.make_run_log(log_bytes, n_events)
        self.claims = [self.claim() for _ in range(24)]

    def path(self):
        r = self.rng
        return f"{r.choice(DIRS)}/{r.choice(IDENT)}_{r.choice(IDENT)}{r.choice(EXTS)}"

    def line(self):
        r = self.rng
        kind = r.random()
        if kind < 0.35:
            return f"    {r.choice(IDENT)}_{r.choice(IDENT)} = {r.randint(0, 5000)}"
        if kind < 0.6:
            return f"def {r.choice(IDENT)}(self, {r.choice(IDENT)}):"
        if kind < 0.8:
            return "    # " + " ".join(r.choice(WORDS) for _ in range(r.randint(3, 9)))
        if kind < 0.97:
            return f"    return self.{r.choice(IDENT)}.get({r.choice(IDENT)!r})"
        return "    # " + r.choice(NON_ASCII) + " " + r.choice(WORDS)

    def text(self, n_bytes):
        lines, size = [], 0
        while size < n_bytes:
            lines.append(self.line())
            size += len(lines[-1]) + 1
        return "\n".join(lines)

    def event(self, budget):
        r = self.rng
        p = r.choice(self.paths)
        kind = r.random()
        if kind < 0.3:
            return {"tool": "read_file", "wrote": False, "payload": None, "command": None,
                    "output": self.text(budget)}, None
        if kind < 0.55:
            line = r.choice([f"grep -n {r.choice(IDENT)} {p}", f"cat {p}", f"sed -n 1,80p {p}",
                             f"ls -la {p.rsplit('/', 1)[0]}", f"rg {r.choice(IDENT)} src"])
            out = self.text(budget)
            return {"tool": "terminal", "wrote": False, "payload": None, "command": line,
                    "output": out}, {"command": line, "exit_code": 0, "output": out}
        if kind < 0.75:
            line = r.choice(["pytest -q", f"pytest -q tests/test_{r.choice(IDENT)}.py",
                             "npm test", f"python -m {r.choice(IDENT)}"])
            code = r.choice([0, 0, 0, 1, 2])
            out = self.text(budget // 4) + f"\n{r.randint(1, 90)} passed, {int(code != 0)} failed"
            return {"tool": "terminal", "wrote": False, "payload": None, "command": line,
                    "output": out}, {"command": line, "exit_code": code, "output": out}
        if kind < 0.95:
            return {"tool": "write_file", "wrote": True, "payload": self.text(budget),
                    "command": None, "output": f"wrote {p}"}, None
        code = f"import sqlite3\ncon = sqlite3.connect('{r.choice(IDENT)}.db')\nprint(open('{p}').read())"
        return {"tool": "execute_code", "wrote": False, "payload": None, "command": code,
                "output": self.text(budget // 2)}, None

    def make_run_log(self, log_bytes, n_events):
        events, commands = [], []
        for _ in range(n_events):
            e, c = self.event(log_bytes // n_events)
            events.append(e)
            if c:
                commands.append(c)
        written = [p for p in self.paths if self.rng.random() < 0.4]
        external = [{"args": {"channel": "#dev", "text": f"deployed {self.rng.choice(IDENT)} ✓"}}
                    for _ in range(self.rng.randint(0, 3))]
        return {"events": events, "external": external, "written": written, "commands": commands}

    def target(self):
        r = self.rng
        kind = r.random()
        if kind < 0.35:
            return r.choice(self.paths) if r.random() < 0.7 else self.path()
        if kind < 0.5:
            return r.choice(["pytest -q", "npm test", f"grep -n {r.choice(IDENT)}", "make build"])
        if kind < 0.65:
            return f"{r.choice(IDENT)}_{r.choice(IDENT)} = {r.randint(0, 5000)}"
        if kind < 0.75:
            return r.choice([f"{r.randint(1, 90)} passed", f"{r.randint(1, 5000):,}", "3.5x"])
        if kind < 0.9:
            return " ".join(r.choice(WORDS + IDENT) for _ in range(r.randint(2, 4)))
        return r.choice(NON_ASCII) + " " + r.choice(IDENT)

    def claim(self):
        r = self.rng
        kind = r.choice(["file_changed", "command_ran", "other", "mention", "external_action"])
        targets = [self.target() for _ in range(r.randint(1, 3))]
        verb = r.choice(["Added", "Updated", "Ran", "The", "Did not add", "Checked", "No matches for"])
        text = f"{verb} " + ", ".join(f"`{t}`" for t in targets)
        return {"kind": kind, "text": text, "targets": targets}


def log_text_bytes(run_log):
    """Bytes of UTF-8 text in the log that verify may search; a text shared by
    an event and a command record counts once."""
    seen = {}
    for record in run_log["events"] + run_log["commands"]:
        for k in ("payload", "command", "output"):
            v = record.get(k)
            if isinstance(v, str):
                seen[id(v)] = v
    return sum(len(v.encode("utf-8", "surrogatepass")) for v in seen.values())


def turn(size, seed=7):
    log_bytes, n_events = SIZES[size]
    return Turn(seed, log_bytes, n_events)


def scaled_turn(log_bytes, n_events=100, seed=11):
    return Turn(seed, log_bytes, n_events)

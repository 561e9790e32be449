"""Hostile objects, and a Claim and RunLog in which verify reads every field.

`scenario(kind)` builds a claim and a log whose walk reaches every position listed
in POSITIONS: each event field in each pass, every command field in the
per-literal walk, the words test and the empty-search test, "written", and the
arguments of an external action. `placed` puts another value at one position.
"""


class Boom(Exception):
    """Raised by the hostile objects' own methods, named by the method."""


def raising(method):
    """An object whose `method` raises Boom(method); it is otherwise ordinary."""
    def boom(self, *args):
        raise Boom(method)
    attrs = {method: boom, "__repr__": lambda self: f"<raises in {method}>"}
    if method == "__next__":
        attrs["__iter__"] = lambda self: self
    if method == "__eq__":
        attrs["__hash__"] = object.__hash__
    return type("Raises" + method.strip("_").title(), (), attrs)()


RAISING_METHODS = ["__getitem__", "__eq__", "__hash__", "__str__", "__format__", "__bool__",
                   "__len__", "__iter__", "__next__"]


class StrSub(str):
    pass


class ListSub(list):
    pass


class DictSub(dict):
    pass


def odd_values():
    """Values of every other type, for any position that expects something else."""
    return {
        "None": None, "int": 0, "one": 1, "float": 0.0, "nan": float("nan"), "bool": True,
        "bytes": b"src/app.py", "bytearray": bytearray(b"pytest -q"),
        "str_sub": StrSub("pytest -q"), "list_sub": ListSub(["src/app.py"]),
        "dict_sub": DictSub(tool="read_file", wrote=False, output="src/app.py", command="ls",
                            exit_code=0, payload="x", args=[1]),
        "list": ["pytest -q"], "dict": {"command": "ls"}, "tuple": ("src/app.py",),
        "empty": "", "set": {"a"},
    }


def scenario(kind):
    claim = {
        "kind": kind,
        "text": "Saw `pytest -q`, no matches",
        "targets": ["pytest -q", "src/app.py", "alpha beta"],
    }
    log = {
        "events": [
            {"tool": "write_file", "wrote": True, "payload": "print(1)", "command": None,
             "output": "ok"},
            {"tool": "read_file", "wrote": False, "command": None, "output": "see src/app.py"},
            {"tool": "terminal", "wrote": False, "command": "cat x", "output": "x"},
            {"tool": "execute_code", "wrote": False, "command": "open('f').read()",
             "output": "y"},
        ],
        "external": [{"args": {"q": "x"}}],
        "written": ["build/out.txt"],
        "commands": [
            {"command": "pytest -q", "exit_code": 1, "output": "1 failed"},
            {"command": "grep -r foo .", "exit_code": 1, "output": "  "},
            {"command": "make", "exit_code": 0, "output": ""},
        ],
    }
    return claim, log


EXPECTED = {
    "command_ran": ("contradicted", "`pytest -q` ran but FAILED (exit 1)"),
    "other": ("verified", "empty search result matches claim; `src/app.py` in output; "
                          "empty search result matches claim"),
}

# Where a value sits, from the claim ("claim", ...) or the log ("L", ...).
POSITIONS = [
    ("claim", "kind"), ("claim", "text"), ("claim", "targets"), ("claim", "targets", 1),
    ("L", "events"), ("L", "events", 0), ("L", "events", 0, "wrote"),
    ("L", "events", 0, "payload"), ("L", "events", 1, "tool"), ("L", "events", 1, "output"),
    ("L", "events", 2, "tool"), ("L", "events", 2, "command"), ("L", "events", 3, "command"),
    ("L", "external"), ("L", "external", 0), ("L", "external", 0, "args"),
    ("L", "external", 0, "args", "q"), ("L", "written"), ("L", "written", 0),
    ("L", "commands"), ("L", "commands", 0), ("L", "commands", 0, "command"),
    ("L", "commands", 0, "exit_code"), ("L", "commands", 1, "command"),
    ("L", "commands", 1, "output"), ("L", "commands", 2, "exit_code"),
    ("L", "commands", 2, "command"),
]


def placed(kind, position, value):
    """scenario(kind) with `value` at `position`; returns (claim, L)."""
    claim, log = scenario(kind)
    root, *path = position
    container = claim if root == "claim" else log
    for step in path[:-1]:
        container = container[step]
    container[path[-1]] = value
    return claim, log


def position_id(position):
    return ".".join(map(str, position))

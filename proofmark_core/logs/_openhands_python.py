"""The Python cells OpenHands runs: which files they write, and with what.

OpenHands V0 edited files from its Jupyter kernel: the 2024 agent called the
``agentskills`` helpers (``edit_file_by_replace``, ``append_file``...) in a
``run_ipython`` cell, and January-2025 edits record the ``file_editor(**{...})`` call
they were run as. Both are read from the cell's syntax tree, as literals only: a path
or a text held in a variable is not known, and neither is anything a cell writes
through other means than these helpers, ``open(..., "w")`` and ``Path(...).write_text``.
A cell whose output shows an edit the helpers refused, an ``ERROR:`` line or a
traceback is taken to have written nothing.
"""

from __future__ import annotations

import ast
import re
from collections.abc import Iterator

# The helpers that write, and the name and position of the argument holding the text.
AGENTSKILLS_WRITES: dict[str, tuple[str, int] | None] = {
    "create_file": None,
    "append_file": ("content", 1),
    "edit_file_by_replace": ("new_content", 2),
    "insert_content_at_line": ("content", 2),
    "edit_file": ("content", 3),
}
PATH_KEYWORDS = ("file_name", "filename", "file", "path")
WRITE_MODE_RE = re.compile(r"[wax+]")
# What the helpers print when an edit was refused, and a cell that raised.
FAILED_CELL_RE = re.compile(r"^\[?(No exact match found|Your proposed edit has introduced)"
                            r"|^ERROR:|^Traceback \(most recent call last\)", re.M)


def file_editor_args(code: str) -> dict[str, object] | None:
    """The literal arguments of the first ``file_editor(...)`` call of the code."""
    for call in _calls(code):
        if isinstance(call.func, ast.Name) and call.func.id == "file_editor":
            return _keywords(call)
    return None


def cell_writes(code: str) -> list[tuple[str, str | None]]:
    """The files the cell writes, each with the text it puts there when literal."""
    return [write for call in _calls(code) if (write := _write(call)) is not None]


def cell_failed(output: str) -> bool:
    return FAILED_CELL_RE.search(output) is not None


def _calls(code: str) -> Iterator[ast.Call]:
    if "(" not in code:
        return
    try:
        tree = ast.parse(code)
    except (SyntaxError, ValueError, RecursionError, MemoryError):
        return
    yield from (node for node in ast.walk(tree) if isinstance(node, ast.Call))


def _write(call: ast.Call) -> tuple[str, str | None] | None:
    func = call.func
    if isinstance(func, ast.Name) and func.id in AGENTSKILLS_WRITES:
        path = _argument(call, 0, PATH_KEYWORDS)
        text = AGENTSKILLS_WRITES[func.id]
        payload = _argument(call, text[1], (text[0],)) if text else None
        return (path, payload) if path else None
    if isinstance(func, ast.Name) and func.id == "open":
        mode = _argument(call, 1, ("mode",))
        path = _argument(call, 0, PATH_KEYWORDS)
        return (path, None) if path and mode and WRITE_MODE_RE.search(mode) else None
    if isinstance(func, ast.Attribute) and func.attr in ("write_text", "write_bytes") \
            and isinstance(func.value, ast.Call) and isinstance(func.value.func, ast.Name) \
            and func.value.func.id == "Path":
        path = _argument(func.value, 0, ())
        return (path, _argument(call, 0, ("data",))) if path else None
    return None


def _argument(call: ast.Call, position: int, names: tuple[str, ...]) -> str | None:
    node = next((keyword.value for keyword in call.keywords if keyword.arg in names), None)
    if node is None and position < len(call.args):
        node = call.args[position]
    value = _literal(node) if node is not None else None
    return value if isinstance(value, str) else None


def _keywords(call: ast.Call) -> dict[str, object]:
    found: dict[str, object] = {}
    for keyword in call.keywords:
        value = _literal(keyword.value)
        if keyword.arg is not None:
            found[keyword.arg] = value
        elif isinstance(value, dict):
            found.update((str(key), item) for key, item in value.items())
    return found


def _literal(node: ast.expr) -> object:
    try:
        return ast.literal_eval(node)
    except (ValueError, TypeError, SyntaxError, RecursionError, MemoryError):
        return None

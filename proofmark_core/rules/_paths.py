"""Whether a claim's target and a path of the log name the same file.

Agents name a file relative to the working directory, the log often names it in full,
and on Windows either side may use backslashes: ``src/app.py`` names
``D:\\repo\\src\\app.py``, ``./src/app.py`` and ``/work/repo/src/app.py``, but not
``src/app.pyc`` nor ``lib/app.py``.
"""

from __future__ import annotations

import re

LINE_SUFFIX_RE = re.compile(r"(?::\d+(?:[-:]\d+)?|#L\d+(?:-L?\d+)?)$")
FILE_NAME_RE = re.compile(r"[^\s/]+\.[A-Za-z0-9]{1,8}|[^\s/]*/[^\s]*|\.[\w.-]+")


def path_of(target: object) -> str | None:
    """The file a target names, normalised, or None when it names none."""
    if not isinstance(target, str):
        return None
    text = LINE_SUFFIX_RE.sub("", target.strip().strip("`'\"").strip())
    if not text or " " in text or not FILE_NAME_RE.fullmatch(text.replace("\\", "/")):
        return None
    return normal_path(text)


def normal_path(path: str) -> str:
    path = path.replace("\\", "/").lower()
    while path.startswith("./"):
        path = path[2:]
    return path.rstrip("/")


def same_file(named: str, logged: object) -> bool:
    """A normalised target and a path of the log name the same file: equal, or one is
    the other's tail at a folder boundary."""
    if not isinstance(logged, str):
        return False
    logged = normal_path(logged)
    if not named or not logged:
        return False
    shorter, longer = sorted((named, logged), key=len)
    return longer == shorter or longer.endswith("/" + shorter.lstrip("/"))

"""The other spellings of a Windows path, for claims that name it another way.

Tools on Windows name files as ``D:\\repo\\app\\x.xml`` while the agent's prose says
``app/src/x.xml`` or links ``D:/repo/app/x.xml``. The engine finds a written path by its
file name, so a claim in forward slashes already finds a path written with backslashes;
a claim in backslashes does not find one written with forward slashes, nor an absolute
one find a relative one. Each Windows path written is therefore also given in the other
separator, and relative to the working directory (or under it, when it is relative).
POSIX paths need none of this: their file name is the same in every spelling.
"""

from __future__ import annotations

import ntpath
import re

DRIVE_RE = re.compile(r"[A-Za-z]:[\\/]")


def windows(path: str) -> bool:
    """Whether the path is spelled the Windows way: a drive, or a backslash."""
    return DRIVE_RE.match(path) is not None or "\\" in path


def spellings(path: str, cwd: str | None) -> list[str]:
    """The path and its other spellings, the path first; only the path itself when neither
    it nor the working directory is a Windows path."""
    if not windows(path) and not (cwd is not None and windows(cwd)):
        return [path]
    forms = [path]
    if cwd is not None and windows(cwd):
        if ntpath.isabs(path):
            relative = _relative(path, cwd)
            if relative is not None:
                forms.append(relative)
        else:
            forms.append(ntpath.normpath(ntpath.join(cwd, path)))
    both = [spelled for form in forms
            for spelled in (form, form.replace("\\", "/"), form.replace("/", "\\"))]
    return list(dict.fromkeys(both))


def _relative(path: str, cwd: str) -> str | None:
    """The path relative to the working directory, when it lies under it."""
    base = ntpath.normcase(ntpath.normpath(cwd)).rstrip("\\") + "\\"
    full = ntpath.normpath(path)
    if not ntpath.normcase(full).startswith(base):
        return None
    return full[len(base):] or None

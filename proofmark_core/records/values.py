"""Reading parsed JSON whose shape the document does not promise: a missing or odd value is None."""

from __future__ import annotations


def at(value: object, *keys: str) -> object:
    """``value[k1][k2]…``, or None where a level is not an object or lacks the key."""
    for key in keys:
        if not isinstance(value, dict):
            return None
        value = value.get(key)
    return value


def as_text(value: object) -> str | None:
    """The value when it is a string."""
    return value if isinstance(value, str) else None

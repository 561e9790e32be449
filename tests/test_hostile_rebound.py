"""Rebound helpers that hand back odd values: each function must treat what it
gets as the Python-level body would, with the interpreter's own errors."""
import pytest

import proofmark_core.verify as m
from fallback import ORIGINAL, outcome

pytestmark = pytest.mark.usefixtures("pristine_namespace")


class Consumed:
    """An iterable of `items` that counts how many of them were taken."""

    def __init__(self, items):
        self.items, self.taken = items, 0

    def __iter__(self):
        for item in self.items:
            self.taken += 1
            yield item


def splitting_into(parts):
    """A text whose split() returns `parts`, as a rebound _norm might hand back."""
    return type("Splits", (str,), {"split": lambda self, *args: parts})("timeout=30")


def python_unpack(parts):
    try:
        k, v = parts  # noqa: F841
    except Exception as e:
        return ("raised", type(e), str(e))
    return ("returned",)


@pytest.mark.parametrize(
    "parts",
    [5, None, ["timeout"], ["timeout", "30", "x"], ("a", "b", "c"), {"a": 1, "b": 2, "c": 3},
     "abc", iter(["a", "b", "c"]), ["timeout", "30"]],
    # An iterator's repr holds its address, which differs between test processes.
    ids=lambda value: "an iterator" if hasattr(value, "__next__") else repr(value),
)
def test_the_key_value_split_unpacks_as_python_does(parts):
    m._norm = lambda s: splitting_into(parts)
    expected = python_unpack(parts if not hasattr(parts, "__next__") else iter(["a", "b", "c"]))
    result = outcome(ORIGINAL["_variants"], "timeout=30")
    assert result[:len(expected)] == expected


def test_the_key_value_split_takes_no_more_than_three_parts():
    # an endless split would never return: unpacking stops at the first extra part
    parts = Consumed(["timeout", "30", "x", "y", "z"])
    m._norm = lambda s: splitting_into(parts)
    result = outcome(ORIGINAL["_variants"], "timeout=30")
    assert result[:3] == python_unpack(Consumed(["timeout", "30", "x"]))
    assert parts.taken == 3

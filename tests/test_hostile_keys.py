"""Keys that hash like the names verify looks up, in the Claim, the RunLog, its
records and the module namespace: the lookup meets their __eq__ first, and
whatever it does (raise, match, change the dict) happens as in a Python lookup."""
import pytest

import proofmark_core.verify as m
from fallback import ORIGINAL, same_both_ways
from hostile_inputs import EXPECTED, Boom, StrSub, scenario

pytestmark = pytest.mark.usefixtures("pristine_namespace")


class Collider:
    """A key that hashes as `text` does; once armed, its __eq__ runs on_eq(key, other)."""

    def __init__(self, text, container, on_eq):
        self.text, self.container, self.on_eq = text, container, on_eq
        self.armed = False

    def __hash__(self):
        return hash(self.text)

    def __eq__(self, other):
        return self.on_eq(self, other) if self.armed else self is other


def boom(key, other):
    raise Boom("eq")


def matches(key, other):
    return other == key.text


def deletes_the_name(key, other):
    key.armed = False  # the deletion looks the name up too
    key.container.pop(key.text, None)
    return False


def put_before(container, name, on_eq, value="collider's value"):
    """Re-inserts `name` after a colliding key, so that a lookup meets that key first."""
    real = container.pop(name)
    key = Collider(name, container, on_eq)
    container[key] = value
    container[name] = real
    key.armed = True


def with_collider(where, name, on_eq):
    claim, log = scenario("other")
    container = {"claim": claim, "L": log, "event": log["events"][2],
                 "command": log["commands"][2], "namespace": vars(m)}[where]
    put_before(container, name, on_eq)
    return claim, log


@pytest.mark.parametrize(
    "where, name",
    [("claim", "kind"), ("claim", "targets"), ("L", "events"), ("L", "written"),
     ("L", "commands"), ("event", "tool"), ("event", "output"), ("command", "exit_code"),
     ("namespace", "re"), ("namespace", "_norm"), ("namespace", "READ_TOOLS"),
     ("namespace", "EMPTY_RE")],
)
@pytest.mark.parametrize("on_eq", [boom, matches, deletes_the_name])
def test_colliding_key_before_a_looked_up_name(where, name, on_eq):
    result = same_both_ways(lambda: with_collider(where, name, on_eq),
                            check_unchanged=on_eq is not deletes_the_name)
    if on_eq is boom:
        assert result[1:3] == (Boom, "eq")


@pytest.mark.parametrize(
    "where, name, expected",
    [
        ("claim", "kind", ("returned", EXPECTED["other"])),
        ("claim", "targets", ("returned", ("unchecked", "nothing literal to check"))),
        # the events are the characters of the colliding key's value
        ("L", "events", ("raised", TypeError, "string indices must be integers, not 'str'")),
        ("namespace", "_norm", ("raised", TypeError, "'str' object is not callable")),
        ("namespace", "re", ("raised", AttributeError, "'str' object has no attribute 'sub'")),
    ],
)
def test_a_colliding_key_that_matches_gives_its_value(where, name, expected):
    result = same_both_ways(lambda: with_collider(where, name, matches))
    assert result[:len(expected)] == expected


@pytest.mark.parametrize(
    "where, name, expected",
    [
        # the claim's default takes the place of a key removed during its lookup
        ("claim", "targets", ("returned", ("unchecked", "nothing literal to check"))),
        ("L", "written", ("raised", KeyError, "'written'")),
        ("event", "tool", ("raised", KeyError, "'tool'")),
        ("namespace", "re", ("raised", NameError, "name 're' is not defined")),
        ("namespace", "READ_TOOLS", ("raised", NameError, "name 'READ_TOOLS' is not defined")),
    ],
)
def test_a_name_removed_during_its_own_lookup(where, name, expected):
    result = same_both_ways(lambda: with_collider(where, name, deletes_the_name),
                            check_unchanged=False)
    assert result[:len(expected)] == expected


@pytest.mark.parametrize(
    "kwargs, expected",
    [
        ({"s\x00": "a"}, "_norm() got an unexpected keyword argument 's\x00'"),
        ({"\ud800": "a"}, "_norm() got an unexpected keyword argument '\ud800'"),
        ({"s": "a", "s\U0001f600": "b"},
         "_norm() got an unexpected keyword argument 's\U0001f600'"),
        ({StrSub("s"): "a"}, None),
    ],
    ids=repr,
)
def test_odd_keyword_names(kwargs, expected):
    result = same_both_ways(lambda: ((), kwargs), lambda args, kw: ORIGINAL["_norm"](**kw))
    if expected is None:
        assert result == ("returned", "a")
    else:
        assert result[1:3] == (TypeError, expected)

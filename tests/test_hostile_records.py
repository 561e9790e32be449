"""Objects that raise from their own methods, and values of every other type, at
every position of a Claim and a RunLog: both roads agree, the arguments stay as
they were, and an object's own exception reaches the caller unchanged."""
import pytest

from fallback import same_both_ways
from hostile_inputs import (EXPECTED, POSITIONS, RAISING_METHODS, Boom, odd_values, placed,
                            position_id, raising, scenario)

pytestmark = pytest.mark.usefixtures("pristine_namespace")

KINDS = ["command_ran", "other"]
ODD = odd_values()


@pytest.mark.parametrize("kind", KINDS)
def test_the_scenario_reads_as_expected(kind):
    assert same_both_ways(lambda: scenario(kind)) == ("returned", EXPECTED[kind])


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("method", RAISING_METHODS)
@pytest.mark.parametrize("position", POSITIONS, ids=position_id)
def test_raising_object_anywhere(kind, method, position):
    result = same_both_ways(lambda: placed(kind, position, raising(method)))
    if result[0] == "raised" and result[1] is Boom:
        assert result[2] == method


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("value", ODD, ids=str)
@pytest.mark.parametrize("position", POSITIONS, ids=position_id)
def test_value_of_another_type_anywhere(kind, value, position):
    same_both_ways(lambda: placed(kind, position, odd_values()[value]))


# Where the object's method is certainly called, its exception is what the caller sees.
@pytest.mark.parametrize(
    "kind, position, method",
    [
        ("other", ("claim", "kind"), "__eq__"),
        ("other", ("claim", "targets"), "__iter__"),
        ("other", ("claim", "targets"), "__next__"),
        ("other", ("claim", "targets", 1), "__bool__"),
        ("other", ("claim", "targets", 1), "__len__"),
        ("other", ("claim", "targets", 1), "__str__"),
        ("other", ("L", "events"), "__iter__"),
        ("other", ("L", "events"), "__getitem__"),
        ("other", ("L", "events", 0), "__getitem__"),
        ("other", ("L", "events", 0, "wrote"), "__bool__"),
        ("other", ("L", "events", 1, "tool"), "__hash__"),
        ("other", ("L", "events", 2, "tool"), "__eq__"),
        ("other", ("L", "external"), "__next__"),
        ("other", ("L", "external", 0), "__getitem__"),
        ("other", ("L", "written"), "__iter__"),
        ("other", ("L", "commands"), "__iter__"),
        ("other", ("L", "commands", 0), "__getitem__"),
        ("command_ran", ("L", "commands", 0, "exit_code"), "__eq__"),
        ("command_ran", ("L", "commands", 0, "exit_code"), "__format__"),
        ("other", ("L", "commands", 2, "exit_code"), "__eq__"),
    ],
    ids=str,
)
def test_the_objects_own_exception_reaches_the_caller(kind, position, method):
    result = same_both_ways(lambda: placed(kind, position, raising(method)))
    assert result[:3] == ("raised", Boom, method)


def exit_code_formatted_as(text):
    return type("Code", (), {"__eq__": lambda s, o: False, "__hash__": object.__hash__,
                             "__format__": lambda s, spec: text})()


def test_an_exit_code_is_shown_as_its_format_gives_it():
    make = lambda: placed("command_ran", ("L", "commands", 0, "exit_code"),  # noqa: E731
                          exit_code_formatted_as("segfault \x00 \ud800"))
    assert same_both_ways(make) == (
        "returned", ("contradicted", "`pytest -q` ran but FAILED (exit segfault \x00 \ud800)"))


def test_format_returning_a_non_text_is_a_type_error():
    make = lambda: placed("command_ran", ("L", "commands", 0, "exit_code"),  # noqa: E731
                          exit_code_formatted_as(7))
    assert same_both_ways(make)[1] is TypeError


@pytest.mark.parametrize("returned", [None, 5, b"x", ["src/app.py"]])
def test_str_returning_a_non_text_is_a_type_error(returned):
    target = type("Target", (), {"__str__": lambda s: returned})
    make = lambda: placed("other", ("claim", "targets", 1), target())  # noqa: E731
    result = same_both_ways(make)
    assert result[1] is TypeError and "__str__ returned non-string" in result[2]


@pytest.mark.parametrize(
    "target, expected",
    [
        # str() of a str subclass instance is an exact str
        (type("S", (str,), {})("src/app.py"), ("returned", EXPECTED["other"])),
        # but what a __str__ returns is passed on as it is, and _atoms takes only exact str
        (type("T", (), {"__str__": lambda s: type("S", (str,), {})("src/app.py")})(),
         ("raised", TypeError, "Argument 't' has incorrect type (expected str, got S)")),
    ],
)
def test_targets_that_are_or_give_a_text_subclass(target, expected):
    make = lambda: placed("other", ("claim", "targets", 1), target)  # noqa: E731
    assert same_both_ways(make)[:len(expected)] == expected

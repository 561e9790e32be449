"""Very large and very deep inputs. The `large` tests take up to a few seconds
each (deselect them with -m "not large"); nesting too deep ends in
RecursionError, never in a crash, and the module works on afterwards."""
import sys

import pytest

from fallback import ORIGINAL, outcome, same_both_ways
from hostile_inputs import EXPECTED, scenario

pytestmark = pytest.mark.usefixtures("pristine_namespace")

verify = ORIGINAL["verify"]
large = pytest.mark.large


@large
def test_a_hundred_megabyte_output():
    # the Python-level road takes seconds to normalise this much text: the default road alone
    blob = "Qz" * 50_000_000 + " the needle"
    claim = {"kind": "other", "text": "Saw it", "targets": ["the needle"]}
    log = {"events": [{"tool": "terminal", "wrote": False, "command": "make", "output": blob}],
           "external": [], "written": [], "commands": []}
    assert verify(claim, log) == ("verified", "`the needle` in output")
    assert len(log["events"][0]["output"]) == 100_000_011


@large
def test_a_hundred_thousand_events():
    def make():
        events = [{"tool": "terminal", "wrote": True, "payload": f"line {i}",
                   "command": f"echo {i}", "output": ""} for i in range(100_000)]
        events.append({"tool": "write_file", "wrote": True, "payload": "def the_needle(): pass",
                       "command": None, "output": "ok"})
        claim = {"kind": "file_changed", "text": "Added the_needle", "targets": ["the_needle"]}
        return claim, {"events": events, "external": [], "written": [], "commands": []}
    assert same_both_ways(make) == ("returned", ("verified", "`the_needle` in write"))


@large
def test_a_target_of_a_hundred_thousand_characters():
    # its variants share no run of 3 characters: the search for a common anchor
    # among them once grew with the cube of the length and never returned
    phrase = "ab cd " * 20_000

    def make():
        claim = {"kind": "other", "text": "Saw it", "targets": [phrase]}
        log = {"events": [{"tool": "write_file", "wrote": True, "payload": "x " + phrase,
                           "output": "ok"}],
               "external": [], "written": [], "commands": []}
        return claim, log
    result = same_both_ways(make)
    assert result == ("returned", ("verified", f"`{phrase.strip()}` in write"))


@large
def test_a_long_literal_that_almost_matches_everywhere():
    # its first and last characters stand at every position of the output, and
    # the rest differs only in the middle: comparing it in full at each position
    # once took the output's length times the literal's
    literal = "a" * 100_000 + "b" + "a" * 100_000
    output = "a" * 20_000_000
    assert same_both_ways(lambda: (literal, [output]), ORIGINAL["_in"]) == ("returned", False)
    assert same_both_ways(lambda: (literal, [output + literal]), ORIGINAL["_in"]) == (
        "returned", True)


def nested_list(depth, leaf):
    value = leaf
    for _ in range(depth):
        value = [value]
    return value


def nested_dict(depth, leaf):
    value = leaf
    for _ in range(depth):
        value = {"k": value}
    return value


DEEP = 100_000  # beyond any recursion limit and any C stack this suite runs on


@large
@pytest.mark.parametrize("nested", [nested_list, nested_dict])
def test_external_args_too_deep_for_json(nested):
    def make():
        claim, log = scenario("other")
        log["external"][0]["args"] = nested(DEEP, "x")
        return claim, log
    assert same_both_ways(make)[1] is RecursionError
    assert verify(*scenario("other")) == EXPECTED["other"]


def test_external_args_nested_within_the_limit():
    def make():
        claim, log = scenario("other")
        claim["targets"] = ["deep leaf"]
        log["external"][0]["args"] = nested_list(sys.getrecursionlimit() // 4, "deep leaf")
        return claim, log
    assert same_both_ways(make) == ("returned", ("verified", "`deep leaf` in external action"))


@large
def test_a_target_too_deep_to_convert_to_text():
    def make():
        claim, log = scenario("other")
        claim["targets"] = [nested_list(DEEP, "x")]
        return claim, log
    assert same_both_ways(make)[1] is RecursionError


@large
@pytest.mark.parametrize("field", ["payload", "output"])
def test_a_deep_value_where_a_text_belongs(field):
    def make():
        claim, log = scenario("other")
        log["events"][0][field] = nested_list(DEEP, "x")
        return claim, log
    assert same_both_ways(make)[1:3] == (TypeError, "Expected str, got list")


def test_verify_called_from_deep_in_the_stack():
    def descend(n):
        return descend(n - 1) if n else outcome(verify, *scenario("other"))
    # close to the limit: either it completes or it raises RecursionError, never worse
    result = descend(sys.getrecursionlimit() - 60)
    assert result == ("returned", EXPECTED["other"]) or result[1] is RecursionError

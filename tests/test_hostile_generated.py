"""Generated inputs: texts of every width and odd character for each function, and
Claims and RunLogs with values of any type in any position. Both roads agree,
nothing is changed, and no failure is one of the interpreter's own faults."""
import copy

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from fallback import ORIGINAL, same_both_ways
from hostile_inputs import DictSub, ListSub, odd_values

pytestmark = pytest.mark.usefixtures("pristine_namespace")

# NUL, lone surrogates, astral code points, characters whose lower case is longer
# (İ), Unicode digits and spaces: a native matcher or normal form meets them all.
CHARACTERS = list("aZ09_-=./,:;()`'\"~xX ") + [
    "\t", "\n", "\r", "\x0b", "\x1c", "\x00", "\x85", "\xa0", "\u2028", "\u3000", "\u0663",
    "\u00b2", "\U0001d7d9", "\ud800", "\udfff", "\U0001f600", "\u0130", "\u00df", "\u2192",
    "\u2248", "\u2013", "\u2014", "\u00e9", "\u212a",
]
SEEDS = ["src/app.py", "timeout = 30", "1,000", "10x", "pytest -q", "~/notes.md", "grep -r x .",
         "cat notes.md", "no matches", "Added `a.py`", "don't add it", "a -> b", "v2.1",
         "200 ms", "≈ 5", "app.py:10-20", "mkdir x && cat y", "\u0130stanbul", ""]
TEXTS = st.one_of(st.text(st.sampled_from(CHARACTERS), max_size=40), st.sampled_from(SEEDS))
TEXT_LISTS = st.lists(st.one_of(TEXTS, TEXTS, st.none()), max_size=5)
# A few entries that are not texts, for the lists whose entries are checked as read.
POOLS = st.lists(st.one_of(TEXTS, TEXTS, st.none(), st.sampled_from([1, b"x", ["a"]])),
                 max_size=5)

ONE_TEXT = ["_additive", "_clean", "_atoms", "_kind_of", "_norm", "_variants", "_tokens"]
QUICK = settings(max_examples=150, deadline=None,
                 suppress_health_check=[HealthCheck.too_slow, HealthCheck.function_scoped_fixture])


def assert_no_interpreter_fault(result):
    if result[0] == "raised":
        assert result[1] not in (SystemError, MemoryError), result


@pytest.mark.parametrize("name", ONE_TEXT)
@QUICK
@given(text=TEXTS)
def test_text_functions_on_any_text(name, text):
    result = same_both_ways(lambda: (text,), ORIGINAL[name])
    assert result[0] == "returned", result


@pytest.mark.parametrize("name", ["_in", "_words_in"])
@QUICK
@given(lit=TEXTS, texts=POOLS)
def test_containment_on_any_pool(name, lit, texts):
    result = same_both_ways(lambda: (lit, list(texts)), ORIGINAL[name])
    assert_no_interpreter_fault(result)
    if result[0] == "raised":
        assert result[1] is TypeError and result[2].startswith("Expected str, got ")


# --- Claims and RunLogs with anything anywhere ------------------------------------

ODD = st.sampled_from(sorted(odd_values())).map(lambda name: odd_values()[name])


def mostly(strategy, odds=10):
    """`strategy`, and one time in `odds` a value of another type."""
    odd = st.sampled_from([False] * (odds - 1) + [True])
    return odd.flatmap(lambda is_odd: ODD if is_odd else strategy)


# Records and collections are seldom odd, so that most logs are walked far enough
# for the odd fields in them to be read.
def records(fields, optional):
    plain = st.fixed_dictionaries({k: mostly(v) for k, v in fields.items()},
                                  optional={k: mostly(v) for k, v in optional.items()})
    return mostly(st.one_of(plain, plain, plain.map(DictSub)), odds=40)


def collections(of, min_size=0):
    items = st.lists(of, min_size=min_size, max_size=4)
    return mostly(st.one_of(items, items, items.map(tuple), items.map(ListSub)), odds=40)


TOOLS = st.sampled_from(["read_file", "search_files", "skill_view", "terminal", "execute_code",
                         "write_file", "patch"])
MAYBE_TEXT = st.one_of(TEXTS, st.none())
EVENTS = records({"tool": TOOLS, "wrote": st.booleans(), "output": MAYBE_TEXT,
                  "payload": MAYBE_TEXT, "command": MAYBE_TEXT}, {})
COMMANDS = records({"command": MAYBE_TEXT, "exit_code": st.sampled_from([0, 1, "0", None, 2.0]),
                    "output": MAYBE_TEXT}, {})


def nested(inner):
    return st.one_of(st.lists(inner, max_size=3), st.dictionaries(TEXTS, inner, max_size=3))


ARGS = st.recursive(st.one_of(st.none(), st.booleans(), st.integers(), st.floats(), TEXTS),
                    nested, max_leaves=8)
RUN_LOGS = st.fixed_dictionaries(
    {"events": collections(EVENTS), "commands": collections(COMMANDS),
     "written": collections(TEXTS), "external": collections(records({"args": ARGS}, {}))})
TARGETS = st.one_of(st.sampled_from(SEEDS[:-1]), st.sampled_from(SEEDS[:-1]), TEXTS)
CLAIMS = st.fixed_dictionaries(
    {"targets": collections(mostly(TARGETS), min_size=1)},
    optional={"kind": mostly(st.sampled_from(["command_ran", "file_changed", "other",
                                              "mention", "external_action", "note"])),
              "text": mostly(TEXTS)})


@settings(max_examples=400, deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.function_scoped_fixture])
@given(claim=CLAIMS, log=RUN_LOGS)
def test_verify_on_any_claim_and_log(claim, log):
    result = same_both_ways(lambda: copy.deepcopy((claim, log)))
    assert_no_interpreter_fault(result)

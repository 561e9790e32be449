"""Leaks: every function called thousands of times on fixed inputs, on its success
paths and on each of its error paths, must not grow the interpreter's count of
allocated blocks, nor change the reference counts of the module's objects or of
its arguments."""
import contextlib
import gc
import pathlib
import sys

import pytest

import proofmark_core.verify as m
from fallback import ORIGINAL, BOUND, forced_fallback
from hostile_inputs import Boom, StrSub, raising, scenario

pytestmark = pytest.mark.usefixtures("pristine_namespace")

CALLS = 500
# A leak of one block per call shows as CALLS blocks in each round; what the
# interpreter's caches and free lists add settles in the warm-up or shows in
# some rounds only (`re.sub` with a group reference keeps a few hundred blocks
# over its first thousand calls on 3.11).
NOISE = CALLS // 10

needs_block_count = pytest.mark.skipif(
    sys.getallocatedblocks() == 0,
    reason="the interpreter's allocator is bypassed (PYTHONMALLOC=malloc): no block count")

f = ORIGINAL


def claim_log(kind="command_ran", **changes):
    """scenario(kind) with L[collection][index][key] = value for each change, made once."""
    claim, log = scenario(kind)
    for where, value in changes.items():
        collection, index, key = where.split("__")
        log[collection][int(index)][key] = value
    return claim, log


def deep_args():
    value = "x"
    for _ in range(100_000):
        value = [value]
    claim, log = scenario("other")
    log["external"][0]["args"] = value
    return claim, log


@contextlib.contextmanager
def unbound(name):
    saved = vars(m).pop(name)
    try:
        yield
    finally:
        vars(m)[name] = saved


def raising_function(*args):
    raise Boom("rebound")


@contextlib.contextmanager
def rebound(name, value):
    saved = vars(m)[name]
    vars(m)[name] = value
    try:
        yield
    finally:
        vars(m)[name] = saved


def home_raising(cls):
    raise Boom("home")


@contextlib.contextmanager
def failing_home():
    real = pathlib.Path.home
    pathlib.Path.home = classmethod(home_raising)
    try:
        yield
    finally:
        pathlib.Path.home = real


COMMAND_RAN, OTHER = scenario("command_ran"), scenario("other")
RAISING = {method: raising(method) for method in
           ["__str__", "__bool__", "__iter__", "__eq__", "__getitem__", "__hash__", "__format__"]}
PRE_EXISTING = ({"kind": "file_changed", "text": "Added `notes/todo.md`",
                 "targets": ["notes/todo.md"]},
                {"events": [{"tool": "read_file", "wrote": False, "output": "notes/todo.md"}],
                 "external": [], "written": [], "commands": []})
MENTION = ({"kind": "mention", "text": "the `x.py` file", "targets": ["x.py", "abc def"]},
           {"events": [], "external": [], "written": [], "commands": []})

R = RAISING


def case(name, *args, raises=None, context=None):
    """f[name](*args), with arguments made once: the inputs stay fixed."""
    return (lambda: f[name](*args)), raises, context


def keywords(name, *args, **kwargs):
    return (lambda: f[name](*args, **kwargs)), TypeError, None


CASES = {
    "_additive": case("_additive", "We added `a.py`, don't add b"),
    "_clean": case("_clean", " ≈ 5 ms — `app.py:10-20` "),
    "_atoms": case("_atoms", "a.py -> b.py, v2.1 and 200ms .. x("),
    "_kind_of": case("_kind_of", "timeout=30"),
    "_norm": case("_norm", " ~/A  B `1,000x` "),
    "_variants": case("_variants", "Timeout = 30"),
    "_in": case("_in", "timeout = 30", [None, "", "x", '{"timeout": 30}']),
    "_tokens": case("_tokens", "Parse the config file"),
    "_words_in": case("_words_in", "config file", ["x", "the file config"]),
    "verify contradicted": case("verify", *COMMAND_RAN),
    "verify verified": case("verify", *OTHER),
    "verify pre-existing": case("verify", *PRE_EXISTING),
    "verify mention": case("verify", *MENTION),
    "verify nothing literal": case("verify", {"targets": ["ab", None]}, {}),
    # the argument binding's TypeErrors
    "too few": case("verify", {}, raises=TypeError),
    "too many": case("_norm", "a", "b", raises=TypeError),
    "unexpected keyword": keywords("_norm", x="a"),
    "multiple values": keywords("_in", "a", lit="a"),
    "missing after keywords": keywords("_words_in", texts=[]),
    "wrong type": case("verify", None, {}, raises=TypeError),
    "subclass, with a note": case("_norm", StrSub("a"), raises=TypeError),
    # the bodies' own TypeErrors
    "entry not a text": case("_in", "abc", ["x", 5], raises=TypeError),
    "text not a text": case("verify", {"text": 5, "targets": ["abcd"]}, {}, raises=TypeError),
    "args not serialisable": case("verify", *claim_log(external__0__args={1}), raises=TypeError),
    # KeyError for a missing key of the log or of a record
    "no events": case("verify", OTHER[0], {}, raises=KeyError),
    "no written": case("verify", OTHER[0], {"events": [], "external": []}, raises=KeyError),
    "no exit code": case("verify", OTHER[0], {**OTHER[1], "commands": [{"command": "x"}]},
                         raises=KeyError),
    # NameError for a name gone from the namespace, in a helper and in verify
    "no _norm": case("_in", "abc", ["abc"], raises=NameError, context=lambda: unbound("_norm")),
    "no EMPTY_RE": case("verify", *OTHER, raises=NameError, context=lambda: unbound("EMPTY_RE")),
    "no re": case("_clean", "a", raises=NameError, context=lambda: unbound("re")),
    # a callback's own exception
    "target str": case("verify", {"targets": [R["__str__"]]}, {}, raises=Boom),
    "target bool": case("verify", {"targets": [R["__bool__"]]}, {}, raises=Boom),
    "targets iter": case("verify", {"targets": R["__iter__"]}, {}, raises=Boom),
    "kind eq": case("verify", {**OTHER[0], "kind": R["__eq__"]}, OTHER[1], raises=Boom),
    "record getitem": case("verify", OTHER[0], {**OTHER[1], "events": [R["__getitem__"]]},
                           raises=Boom),
    "tool hash": case("verify", *claim_log("other", events__1__tool=R["__hash__"]), raises=Boom),
    "wrote bool": case("verify", *claim_log("other", events__0__wrote=R["__bool__"]),
                       raises=Boom),
    "exit code eq": case("verify", *claim_log(commands__0__exit_code=R["__eq__"]), raises=Boom),
    "exit code format": case("verify", *claim_log(commands__0__exit_code=R["__format__"]),
                             raises=Boom),
    "home": case("_norm", "~/x", raises=Boom, context=failing_home),
    "rebound _in": case("verify", *OTHER, raises=Boom,
                        context=lambda: rebound("_in", raising_function)),
    "deep args": case("verify", *deep_args(), raises=RecursionError),
}


def run(call, raises, times):
    for _ in range(times):
        if raises is None:
            call()
            continue
        try:
            call()
        except raises:
            pass
        else:
            raise AssertionError(f"expected {raises.__name__}")


def block_growth(call, raises):
    """The smallest growth of three rounds of CALLS calls, after a warm-up."""
    run(call, raises, 2 * CALLS)
    growth = []
    for _ in range(3):
        gc.collect()
        before = sys.getallocatedblocks()
        run(call, raises, CALLS)
        gc.collect()
        growth.append(sys.getallocatedblocks() - before)
    return min(growth)


@needs_block_count
@pytest.mark.parametrize("name", CASES)
def test_no_block_growth(name):
    call, raises, context = CASES[name]
    with (context or contextlib.nullcontext)():
        assert block_growth(call, raises) < NOISE


# The same calls down the Python-level road, where the native fast paths step aside.
FALLBACK_CASES = [name for name, (call, raises, context) in CASES.items() if context is None]


@needs_block_count
@pytest.mark.parametrize("name", FALLBACK_CASES)
def test_no_block_growth_on_the_python_level_road(name):
    call, raises, _ = CASES[name]
    with forced_fallback():
        assert block_growth(call, raises) < NOISE


def reference_counts(objects):
    return [sys.getrefcount(o) for o in objects]


def test_module_objects_and_arguments_keep_their_reference_counts():
    watched = [vars(m)[name] for name in BOUND] + [
        *COMMAND_RAN, *OTHER, *(v for d in (COMMAND_RAN[1], OTHER[1]) for v in d.values()),
        *OTHER[0]["targets"], *COMMAND_RAN[1]["commands"], *OTHER[1]["events"]]
    for call, raises, context in CASES.values():
        with (context or contextlib.nullcontext)():
            run(call, raises, 3)
    gc.collect()
    before = reference_counts(watched)
    for call, raises, context in CASES.values():
        with (context or contextlib.nullcontext)():
            run(call, raises, 50)
    gc.collect()
    assert reference_counts(watched) == before


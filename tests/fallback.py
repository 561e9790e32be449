"""The two roads through the module, for tests that compare them.

A fast path may stand in for a module-level name only while that name still holds
what start-up bound. `forced_fallback()` rebinds every such name to an equivalent
Python object (a module that delegates to the real one, a recompiled pattern
behind a wrapper, a `Path` subclass, a Python function around each module
function), so that every call takes the Python-level road, the reference.
`same_both_ways` runs one call down each road on fresh arguments and asserts
that both return the same value or raise the same exception, and that the call
left its arguments as it found them.
"""
import contextlib
import pathlib
import re
import types

import proofmark_core.verify as m

PATTERNS = ["NUM_RE", "EMPTY_RE", "ADDITIVE_RE", "READ_CODE_RE", "SHELL_WRITE_RE", "NEGATED_RE",
            "PREDICATE_RE", "WORK_VERB_RE"]
FUNCTIONS = ["_additive", "_clean", "_atoms", "_kind_of", "_norm", "_variants", "_in", "_tokens",
             "_words_in", "verify"]
BOUND = ["json", "re", "Path", "READ_TOOLS", *PATTERNS, *FUNCTIONS]
VERDICTS = {"verified", "unverified", "pre-existing", "contradicted", "unchecked"}

# The functions as start-up made them; tests call these, whatever the namespace holds.
ORIGINAL = {name: vars(m)[name] for name in BOUND}


class DelegatingModule(types.ModuleType):
    """Not the module start-up bound, yet every attribute is the real module's."""

    def __init__(self, real):
        super().__init__(real.__name__)
        self._real = real

    def __getattr__(self, name):
        return getattr(self._real, name)


class WrappedPattern:
    """The same pattern text and flags, compiled anew, behind a Python object."""

    def __init__(self, pattern):
        self._compiled = re.compile(pattern.pattern, pattern.flags)

    def __getattr__(self, name):
        return getattr(self._compiled, name)


# A subclass of the host's concrete path class, under the name it stands in for,
# so that messages naming the class read the same.
FallbackPath = type("Path", (type(pathlib.Path()),), {})


def python_function(f):
    def through_python(*args, **kwargs):
        return f(*args, **kwargs)
    return through_python


def fallback_bindings():
    bindings = {
        "json": DelegatingModule(ORIGINAL["json"]),
        "re": DelegatingModule(ORIGINAL["re"]),
        "Path": FallbackPath,
        "READ_TOOLS": set(ORIGINAL["READ_TOOLS"]),
    }
    bindings.update({name: WrappedPattern(ORIGINAL[name]) for name in PATTERNS})
    bindings.update({name: python_function(ORIGINAL[name]) for name in FUNCTIONS})
    return bindings


@contextlib.contextmanager
def namespace_restored():
    """Puts every module-level name back afterwards, whatever a callback rebound."""
    namespace = vars(m)
    saved = dict(namespace)
    try:
        yield
    finally:
        namespace.clear()
        namespace.update(saved)


@contextlib.contextmanager
def forced_fallback():
    with namespace_restored():
        vars(m).update(fallback_bindings())
        yield


def outcome(f, *args, **kwargs):
    """What a call did: its value, or its exception's type, message and notes."""
    try:
        return ("returned", f(*args, **kwargs))
    except RecursionError as e:
        # CPython 3.12+ words the message with the stack it used, which differs by road.
        return ("raised", RecursionError, re.sub(r"\d+ kB", "N kB", str(e)), None)
    except Exception as e:
        return ("raised", type(e), str(e), getattr(e, "__notes__", None))


def members(o):
    """The members of a built-in container, read without calling into it; else None."""
    for base, iterate in ((dict, lambda d: (x for kv in dict.items(d) for x in kv)),
                          (list, list.__iter__), (tuple, tuple.__iter__),
                          (set, set.__iter__), (frozenset, frozenset.__iter__)):
        if isinstance(o, base):
            return list(iterate(o))
    return None


def snapshot(obj):
    """An identity picture of a structure, taken without calling into its objects:
    each container by the identities of its members, anything else by its own.
    Also returns every object met, to keep them alive so that no identity is reused."""
    picture, alive, stack, seen = [], [], [obj], set()
    while stack:
        o = stack.pop()
        picture.append((id(o), type(o)))
        if id(o) in seen:
            continue
        seen.add(id(o))
        alive.append(o)
        if isinstance(o, bytearray):
            picture.append(bytes(o))
        inner = members(o)
        if inner is not None:
            picture.append(len(inner))
            stack.extend(reversed(inner))
    return picture, alive


def unchanged_call(f, args):
    """outcome(f, *args), asserting that the call left `args` as it found them."""
    before, _alive = snapshot(args)
    result = outcome(f, *args)
    assert snapshot(args)[0] == before, "the call changed its arguments"
    return result


def same_both_ways(make, f=ORIGINAL["verify"], *, check_unchanged=True):
    """Calls f(*make()) by the default road and then by the Python-level road on
    fresh arguments; both must agree. Returns the common outcome."""
    run = unchanged_call if check_unchanged else lambda f, args: outcome(f, *args)
    with namespace_restored():
        default = run(f, make())
    with forced_fallback():
        fallback = run(f, make())
    assert default == fallback
    if f is ORIGINAL["verify"] and default[0] == "returned":
        assert_is_answer(default[1])
    return default


def assert_is_answer(result):
    assert type(result) is tuple and len(result) == 2
    verdict, evidence = result
    assert type(verdict) is str and type(evidence) is str
    assert verdict in VERDICTS


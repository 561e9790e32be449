"""Argument binding, introspection and run-time name lookup of the module's ten functions."""

import builtins
import ctypes
import inspect
import pickle
import re
import sys

import pytest

import proofmark_core.verify as m
from hostile_inputs import DictSub, ListSub, StrSub

# name -> (parameters with annotations, return annotation)
SIGNATURES = {
    "_additive": ([("text", "str")], "bool"),
    "_clean": ([("t", "str")], "str"),
    "_atoms": ([("t", "str")], "list[str]"),
    "_kind_of": ([("lit", "str")], "str"),
    "_norm": ([("s", "str")], "str"),
    "_variants": ([("lit", "str")], "list[str]"),
    "_in": ([("lit", "str"), ("texts", "list[str]")], "bool"),
    "_tokens": ([("lit", "str")], "list[str]"),
    "_words_in": ([("lit", "str"), ("texts", "list[str]")], "bool"),
    "verify": ([("claim", "dict"), ("L", "dict")], "tuple[str, str]"),
}
EXPECTED_TYPE = {"text": "str", "t": "str", "lit": "str", "s": "str",
                 "texts": "list", "claim": "dict", "L": "dict"}

VERIFY_DOC = (
    "(verdict, evidence). verdict \u2208 verified | unverified | pre-existing | contradicted"
    " | unchecked.\n\n"
    "    Sources by strength: what the agent WROTE (write payloads), what it RAN"
    " (commands + exit code),\n"
    "    what it SAW (tool outputs). \"pre-existing\" fires only for a path/key literal"
    " in an additive claim\n"
    "    that appears in read output and in no write and no command \u2014 the agent took"
    " credit for it."
)
DOCS = {
    "_additive": "An additive verb that is not negated (\"don't add it\" takes no credit).",
    "_atoms": "Split a composite target into literals a log could contain.",
    "verify": VERIFY_DOC,
    "_clean": None, "_kind_of": None, "_norm": None, "_variants": None, "_in": None,
    "_tokens": None,
}


def error_of(call):
    with pytest.raises(Exception) as info:
        call()
    return info.value


def valid_args(name):
    samples = {"str": "x", "list": [], "dict": {}}
    return [samples[EXPECTED_TYPE[p]] for p, _ in SIGNATURES[name][0]]


# --- the message table -----------------------------------------------------

def arity(name, n, given):
    s = "s" if n == 2 else ""
    return f"{name}() takes exactly {n} positional argument{s} ({given} given)"


@pytest.mark.parametrize("call, message", [
    (lambda: m.verify({}), arity("verify", 2, 1)),
    (lambda: m.verify(L={}), arity("verify", 2, 0)),
    (lambda: m.verify(claim={}), arity("verify", 2, 1)),
    (lambda: m.verify({}, {}, {}), arity("verify", 2, 3)),
    (lambda: m.verify({}, {}, {}, L={}), arity("verify", 2, 3)),
    (lambda: m.verify(), arity("verify", 2, 0)),
    (lambda: m._norm(), arity("_norm", 1, 0)),
    (lambda: m._norm("a", "b"), arity("_norm", 1, 2)),
    (lambda: m._in("a"), arity("_in", 2, 1)),
    (lambda: m._words_in(texts=[]), arity("_words_in", 2, 0)),
    (lambda: m._additive(*(), **{}), arity("_additive", 1, 0)),
    (lambda: m.verify({}, claim={}), "verify() got multiple values for keyword argument 'claim'"),
    (lambda: m._norm("a", s="b"), "_norm() got multiple values for keyword argument 's'"),
    (lambda: m._norm(x="a"), "_norm() got an unexpected keyword argument 'x'"),
    (lambda: m._norm(S="a"), "_norm() got an unexpected keyword argument 'S'"),
    (lambda: m._norm(**{"\u00df": "a"}), "_norm() got an unexpected keyword argument '\u00df'"),
    (lambda: m.verify({}, {}, x=1), "verify() got an unexpected keyword argument 'x'"),
    # The first offending keyword in call order decides.
    (lambda: m.verify({}, x={}, claim={}), "verify() got an unexpected keyword argument 'x'"),
    (lambda: m.verify({}, claim={}, x={}), "verify() got multiple values for keyword argument 'claim'"),
    # Keyword errors come before a missing parameter and before types.
    (lambda: m._in(None, x=None), "_in() got an unexpected keyword argument 'x'"),
    (lambda: m._norm(**{1: 2}), "keywords must be strings"),
    (lambda: m._norm("a", **{1: 2}), "keywords must be strings"),
])
def test_binding_errors_carry_the_exact_message(call, message):
    e = error_of(call)
    assert type(e) is TypeError and str(e) == message


@pytest.mark.parametrize("call, message", [
    (lambda: m.verify(None), arity("verify", 2, 1)),
    (lambda: m.verify(None, None, None), arity("verify", 2, 3)),
    (lambda: m._norm(1, 2), arity("_norm", 1, 2)),
    (lambda: m.verify(L=None), arity("verify", 2, 0)),
])
def test_arity_takes_precedence_over_type(call, message):
    assert str(error_of(call)) == message


def type_message(param, got):
    return (f"Argument '{param}' has incorrect type "
            f"(expected {EXPECTED_TYPE[param]}, got {got})")


@pytest.mark.parametrize("name", SIGNATURES)
@pytest.mark.parametrize("wrong, got", [(None, "NoneType"), (b"x", "bytes"), ((), "tuple")])
def test_each_parameter_refuses_another_type(name, wrong, got):
    params = [p for p, _ in SIGNATURES[name][0]]
    for i, param in enumerate(params):
        args = valid_args(name)
        args[i] = wrong
        e = error_of(lambda: getattr(m, name)(*args))
        assert type(e) is TypeError and str(e) == type_message(param, got)
        assert not hasattr(e, "__notes__")


@pytest.mark.parametrize("call, message", [
    (lambda: m.verify(None, None), type_message("claim", "NoneType")),
    (lambda: m.verify(L=None, claim=[]), type_message("claim", "list")),
    (lambda: m._in(None, ("a",)), type_message("lit", "NoneType")),
    (lambda: m._in("x", ("a",)), type_message("texts", "tuple")),
    (lambda: m._words_in(texts="a", lit="b"), type_message("texts", "str")),
])
def test_the_first_failing_parameter_in_parameter_order_is_reported(call, message):
    assert str(error_of(call)) == message


@pytest.mark.parametrize("call, param, got", [
    (lambda: m.verify({}, DictSub()), "L", "DictSub"),
    (lambda: m.verify(claim=DictSub(), L={}), "claim", "DictSub"),
    (lambda: m._norm(StrSub("a")), "s", "StrSub"),
    (lambda: m._additive(text=StrSub("I added it")), "text", "StrSub"),
    (lambda: m._in("a", ListSub()), "texts", "ListSub"),
    (lambda: m._in(StrSub("a"), ()), "lit", "StrSub"),
])
def test_a_subclass_is_refused_with_one_note(call, param, got):
    e = error_of(call)
    assert type(e) is TypeError and str(e) == type_message(param, got)
    assert len(e.__notes__) == 1 and "subclass" in e.__notes__[0]


def py_object_call(f, args, kwargs):
    call = ctypes.pythonapi.PyObject_Call
    call.restype = ctypes.py_object
    call.argtypes = [ctypes.py_object] * 3
    return call(f, args, kwargs)


@pytest.mark.parametrize("args, kwargs", [((), {1: 2}), (("a",), {1: 2}), ((), {"s": "a", 2: 1})])
def test_object_call_with_a_non_string_key_is_refused(args, kwargs):
    e = error_of(lambda: py_object_call(m._norm, args, kwargs))
    assert type(e) is TypeError and str(e) == "keywords must be strings"


def test_keyword_and_positional_calls_agree():
    for text in ["I added the flag", "did not add it", ""]:
        expected = m._additive(text)
        assert m._additive(text=text) is expected
        assert py_object_call(m._additive, (), {"text": text}) is expected
        assert py_object_call(m._additive, (text,), {}) is expected


def test_error_calls_leave_reference_counts_unchanged():
    sub, text, claim = DictSub(), "I added it", {}
    watched = [m, m.verify, m._in, m._norm, m._additive, m.READ_TOOLS, m.ADDITIVE_RE,
               m.NEGATED_RE, sub, text, claim]
    calls = [
        lambda: m.verify(claim),
        lambda: m.verify(claim, claim, claim),
        lambda: m.verify(claim, claim=claim),
        lambda: m.verify(claim, sub),
        lambda: m._norm(x=text),
        lambda: m._norm(**{1: text}),
        lambda: m._in(text, (text,)),
        lambda: m._additive(text),
        lambda: m._additive(text=text),
    ]

    def run_all(times):
        for _ in range(times):
            for call in calls:
                try:
                    call()
                except TypeError:
                    pass

    run_all(10)
    before = [sys.getrefcount(o) for o in watched]
    run_all(2000)
    assert [sys.getrefcount(o) for o in watched] == before


# --- introspection ---------------------------------------------------------

@pytest.mark.parametrize("name", SIGNATURES)
def test_names_module_and_defaults(name):
    f = getattr(m, name)
    assert f.__name__ == name and f.__qualname__ == name
    assert f.__module__ == "proofmark_core.verify"
    assert f.__defaults__ is None and f.__kwdefaults__ is None
    assert name in repr(f)
    assert pickle.loads(pickle.dumps(f)) is f


@pytest.mark.parametrize("name", sorted(DOCS))
def test_docstrings_are_exact(name):
    assert getattr(m, name).__doc__ == DOCS[name]


def test_words_in_docstring_is_two_lines_with_the_second_indented():
    first, second = m._words_in.__doc__.split("\n")
    assert first == "Weaker match: every word of a multi-word literal appears in ONE text"
    assert second.startswith("    (") and not second.startswith("     ")
    assert "import_module" in second and "parse" in second and "quoted loosely" in second


@pytest.mark.parametrize("name", SIGNATURES)
def test_annotations_are_strings_in_parameter_order_then_return(name):
    params, returns = SIGNATURES[name]
    annotations = getattr(m, name).__annotations__
    assert list(annotations.items()) == params + [("return", returns)]


@pytest.mark.parametrize("name", SIGNATURES)
def test_signature_shows_the_real_parameters(name):
    params, returns = SIGNATURES[name]
    sig = inspect.signature(getattr(m, name))
    assert [(p.name, p.annotation) for p in sig.parameters.values()] == params
    assert {p.kind for p in sig.parameters.values()} == {inspect.Parameter.POSITIONAL_OR_KEYWORD}
    assert all(p.default is inspect.Parameter.empty for p in sig.parameters.values())
    assert sig.return_annotation == returns


# --- names read at the moment of use ---------------------------------------

def test_a_deleted_name_raises_name_error_at_its_use(monkeypatch):
    monkeypatch.delattr(m, "NEGATED_RE")
    # With no additive verb the negation pattern is never needed.
    assert m._additive("nothing to see") is False
    e = error_of(lambda: m._additive("I added it"))
    assert type(e) is NameError and str(e) == "name 'NEGATED_RE' is not defined"
    monkeypatch.delattr(m, "ADDITIVE_RE")
    assert str(error_of(lambda: m._additive("x"))) == "name 'ADDITIVE_RE' is not defined"


def test_a_deleted_name_falls_back_to_the_interpreters_builtins(monkeypatch):
    monkeypatch.delattr(m, "ADDITIVE_RE")
    monkeypatch.setattr(builtins, "ADDITIVE_RE", re.compile("zz"), raising=False)
    assert m._additive("zz") is True
    assert m._additive("I added it") is False
    # Not the builtins of whatever frame calls the function.
    scope = {"__builtins__": {}, "f": m._additive}
    exec("result = f('zz')", scope)
    assert scope["result"] is True

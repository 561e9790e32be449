"""_in, _tokens and _words_in: whether a literal occurs in a pool of texts."""

import re

import pytest

import proofmark_core.verify as m


@pytest.fixture(autouse=True)
def home(monkeypatch):
    monkeypatch.setenv("HOME", "/home/tester")


class MyStr(str):
    pass


@pytest.mark.parametrize(
    "lit, pool, expected",
    [
        ("foo", [], False),
        ("foo", [None, "", None], False),
        ("Foo", ["xxFOOxx"], True),
        ("app", ["application"], True),
        ("10", ["2010"], True),
        ("src/app.py", [None, "", "see SRC/App.py"], True),
        ("Timeout = 30", ['{"timeout": 30}'], True),
        ("Timeout = 30", ["timeout=30"], True),
        ("timeout=30", ["timeout: '30'"], False),
        ("timeout=30", ["timeout: '30'\nretries: 2"], True),
        ("a b", ["ab"], True),
        ("foo bar", ["foobar"], True),
        ("foo  bar", ["foo\tbar"], True),
        ("1,000", ["1,000"], True),
        ("1,000", ["got 1000"], True),
        ("1,000", ["processed 1,000 rows"], False),
        ("~/plan.md", ["wrote /HOME/tester/plan.md"], True),
        ("5", ["5"], False),
        ("3x", ["3x"], False),
        ("", ["anything"], False),
    ],
)
def test_in(lit, pool, expected):
    assert m._in(lit, pool) is expected


@pytest.mark.parametrize(
    "lit, expected",
    [
        ("Parse the config file", ["parse", "the", "config", "file"]),
        ("src/app.py", ["src", "app"]),
        ("id 2024 run_all app.py", ["run_all", "app"]),
        ("multi-word literal", ["multi", "word", "literal"]),
        ("abc \u0663\u0664\u0665 \u00b2\u00b3\u2074 x1y abc", ["abc", "x1y", "abc"]),
        ("speedup 10x", ["speedup"]),
        ("-- ..", []),
    ],
)
def test_tokens(lit, expected):
    assert m._tokens(lit) == expected


@pytest.mark.parametrize(
    "lit, pool, expected",
    [
        ("config file", ["the file config"], True),
        ("config file", ["config", "file"], False),
        ("config file", [None, "", "x", "file, then config"], True),
        ("Error: file not found", ["FILE NOT FOUND (error 2)"], True),
        ("app.py", ["app.py"], False),
        ("parse", ["parse"], False),
        ("foo foo", ["food"], True),
        ("src/app.py", ["the app lives in src"], True),
        ("speedup 10x", ["speedup 10x"], False),
        ("config file", [], False),
    ],
)
def test_words_in(lit, pool, expected):
    assert m._words_in(lit, pool) is expected


def test_words_in_docstring():
    assert m._words_in.__doc__.startswith(
        "Weaker match: every word of a multi-word literal appears in ONE text"
    )
    assert "or an error message quoted loosely" in m._words_in.__doc__
    assert m._in.__doc__ is None and m._tokens.__doc__ is None


@pytest.mark.parametrize(
    "contains, lit, pool, got",
    [
        (m._in, "x", [None, "", 3], "int"),
        (m._in, "x", [0], "int"),
        (m._in, "x", [MyStr("x")], "MyStr"),
        (m._in, "x", [MyStr("")], "MyStr"),
        # No variant at all, yet every entry is still checked.
        (m._in, "5", ["a", b"b"], "bytes"),
        (m._words_in, "two words", ["two", ["words"]], "list"),
    ],
)
def test_bad_entry_is_refused_when_reached(contains, lit, pool, got):
    with pytest.raises(TypeError, match=f"^Expected str, got {got}$"):
        contains(lit, pool)


@pytest.mark.parametrize(
    "contains, lit, pool, expected",
    [
        (m._in, "xy", ["xy", 3], True),
        (m._words_in, "two words", ["words two", 3], True),
        (m._words_in, "parse", [3], False),
        (m._words_in, "", [3], False),
    ],
)
def test_entries_past_the_decision_are_never_looked_at(contains, lit, pool, expected):
    assert contains(lit, pool) is expected


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: m._in("x", ("a",)),
         "Argument 'texts' has incorrect type (expected list, got tuple)"),
        (lambda: m._tokens(MyStr("a")),
         "Argument 'lit' has incorrect type (expected str, got MyStr)"),
    ],
)
def test_argument_check(call, message):
    with pytest.raises(TypeError, match=re.escape(message)):
        call()


@pytest.fixture
def norm_calls(monkeypatch):
    """Records every text that goes through the module's `_norm`."""
    calls = []
    original = m._norm

    def counting(s):
        calls.append(s)
        return original(s)

    monkeypatch.setattr(m, "_norm", counting)
    return calls


@pytest.mark.parametrize(
    "call, normalised",
    [
        (lambda: m._in("Timeout = 30", ["nothing", "here"]), ["Timeout = 30", "nothing", "here"]),
        (lambda: m._in("5", ["a", "b"]), ["5"]),
        (lambda: m._words_in("one two three", ["one two", "x"]),
         ["one two three", "one two", "x"]),
        (lambda: m._words_in("parse", ["parse"]), ["parse"]),
    ],
)
def test_each_entry_is_normalised_at_most_once(norm_calls, call, normalised):
    call()
    assert norm_calls == normalised


def test_rebinding_norm_changes_in(monkeypatch):
    assert m._in("Foo", ["xxfooxx"]) is True
    monkeypatch.setattr(m, "_norm", lambda s: s)
    assert m._in("Foo", ["xxfooxx"]) is False


@pytest.mark.parametrize("contains", [m._in, m._words_in])
def test_pool_emptied_during_the_walk(monkeypatch, contains):
    # Path.home() runs on every normalisation. Here the one for the first entry
    # empties the pool: that entry must stay alive and the walk must stop there.
    pool = ["".join(["first ", str(i)]) for i in range(3)] + ["needle first"]
    lookups = []

    class Shrinking:
        @staticmethod
        def home():
            lookups.append(None)
            if len(lookups) == 2:
                pool.clear()
            return "/h"

    monkeypatch.setattr(m, "Path", Shrinking)
    assert contains("needle first", pool) is False
    assert len(lookups) == 2

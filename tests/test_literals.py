"""Cutting claim targets into literals, and the kind of each literal."""

import pytest
from hypothesis import given, strategies as st

import proofmark_core.verify as m

KINDS = {"path", "key", "number", "phrase"}


@pytest.mark.parametrize(
    "target, cleaned",
    [
        ("`src/app.py:42`", "src/app.py"),
        ("app.py:10-20", "app.py"),
        ("main.rs:12:5", "main.rs:12:5"),  # the suffix goes only at the very end
        ("a.toolong:3", "a.toolong:3"),
        ("файл.пу:3", "файл.пу"),  # \w is any letter
        ("a.py:٣", "a.py"),  # \d is any decimal digit
        ("`x.py:12\n`", "x.py "),  # $ also before a final newline
        ("~5 ms", "5 ms"),
        ("≈ 200ms", "200ms"),
        ("~٣", "٣"),
        ("~/.bashrc", "~/.bashrc"),
        ("a ~ b", "a ~ b"),
        ("pages 1–3", "pages 1-3"),
        ("a — b", "a - b"),
        ("` foo `", " foo "),  # whitespace inside the quotes stays
        ("\"`'a'`\"", "a"),
        ("a\t\n  b", "a b"),
        ("a\x1cb\x85c\xa0d", "a b c d"),
        ("a\u200bb", "a\u200bb"),  # not whitespace
        ("", ""),
    ],
)
def test_clean(target, cleaned):
    assert m._clean(target) == cleaned


@pytest.mark.parametrize(
    "target, literals",
    [
        ("src/a.py:12, src/b.py:3", ["src", "a.py:12", "src", "b.py"]),
        ("red / green, blue", ["red", "green", "blue"]),
        ("red/green", ["red/green"]),
        ("alpha; beta, gamma", ["alpha", "beta", "gamma"]),
        ("A; B", ["A; B"]),
        ("foo and bar", ["foo", "bar"]),
        ("foo  and bar", ["foo", "bar"]),
        ("Alpha AND Beta", ["Alpha AND Beta"]),
        ("parse then run", ["parse then run"]),
        ("x, parse then run", ["parse", "run"]),
        ("sandbox, band", ["sandbox", "band"]),
        ("andé, xx", ["andé", "xx"]),  # no word boundary before a non-ASCII letter
        ("login → home → settings", ["login", "home", "settings"]),
        ("a → b → c", []),
        ("v2.1 -> v2.2", ["2.1", "2.2"]),
        ("1,024 bytes", ["024"]),
        ("1..10", ["10"]),
        ("wait... what", ["wait", ". what"]),
        ("foo, ,bar", ["foo", "bar"]),
        ("`a`, `b`", ["a`", "`b"]),  # back-quotes go only at the ends of the target
        ("", []),
    ],
)
def test_composite_targets_split(target, literals):
    assert m._atoms(target) == literals


@pytest.mark.parametrize(
    "target, literals",
    [
        ("v2", []),
        ("x86, X86", ["86", "X86"]),
        ("e2e tests", ["2e tests"]),
        ("v٣٤", ["٣٤"]),
        ("é2x", ["é2x"]),  # [a-z] is ASCII only
        ("60 FPS", ["60"]),
        ("1.0s", ["1.0"]),
        ("3.5 MB", ["3.5"]),
        ("٣٤ ms", ["٣٤"]),
        ("12ſ", ["12"]),  # long s matches s without case
        ("50 \u212ab", ["50"]),  # Kelvin sign matches k without case
        ("3.5 m", ["3.5 m"]),
        ("cpu 99%", ["cpu 99%"]),
        ("~5 ms", []),
        ("≈ 200ms", ["200"]),
        ("foo(), bar()", ["foo", "bar"]),
        ("()", [""]),
        ("a(", ["a"]),
        ("(foo)", ["(foo"]),
        ("f(x)", ["f(x"]),
        ('"max_retries = 5"', ["max_retries = 5"]),
        ("`max_retries`", ["max_retries"]),
    ],
)
def test_pieces_trimmed(target, literals):
    assert m._atoms(target) == literals


@pytest.mark.parametrize(
    "kind, literals",
    [
        ("path", ["README.md", "src/app.py", "a/b c", "config.yaml", ".env", "e.g", "x.tsx",
                  "a_b/c", "a.py\n"]),
        ("key", ["1-2", "max_retries", "foo=bar", "--verbose", "a_b\tc"]),
        ("number", ["3.14", "42", "0042", "1,000", "٣٤", "42\n"]),
        ("phrase", ["README.MD", "x.toolong", "v1.2", "1.2.3", ".5", "5.", "x.é",
                    "max_retries = 5", "hello-world foo", "some phrase", ""]),
    ],
)
def test_kind_of(kind, literals):
    assert [m._kind_of(lit) for lit in literals] == [kind] * len(literals)


def test_atoms_reaches_clean_through_the_namespace(monkeypatch):
    monkeypatch.setattr(m, "_clean", lambda t: "x, yy")
    assert m._atoms("anything") == ["yy"]


def test_missing_re_is_a_name_error(monkeypatch):
    monkeypatch.delattr(m, "re")
    with pytest.raises(NameError, match="^name 're' is not defined$"):
        m._kind_of("a")


@given(st.text())
def test_any_text_gives_str_literals_of_a_known_kind(t):
    literals = m._atoms(t)
    assert type(literals) is list
    assert all(type(lit) is str for lit in literals)
    assert m._kind_of(t) in KINDS
    assert all(m._kind_of(lit) in KINDS for lit in literals)
    cleaned = m._clean(t)
    assert "  " not in cleaned and "\t" not in cleaned and "\n" not in cleaned


class S(str):
    pass


@pytest.mark.parametrize("fn, param", [(m._clean, "t"), (m._atoms, "t"), (m._kind_of, "lit")])
@given(arg=st.none() | st.integers() | st.binary() | st.lists(st.text()) | st.builds(S, st.text()))
def test_non_str_is_refused_by_the_argument_check(fn, param, arg):
    with pytest.raises(TypeError) as e:
        fn(arg)
    assert str(e.value) == (
        f"Argument '{param}' has incorrect type (expected str, got {type(arg).__name__})"
    )

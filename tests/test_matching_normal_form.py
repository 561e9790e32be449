"""_norm and _variants: the normal form of a text and the variant forms of a literal."""

import re

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import proofmark_core.verify as m

HOME = "/home/Tester"


@pytest.fixture(autouse=True)
def home(monkeypatch):
    monkeypatch.setenv("HOME", HOME)


@pytest.mark.parametrize(
    "text, expected",
    [
        ("  Foo   Bar  ", "foo bar"),
        ("`Foo Bar`", "foo bar"),
        ("a\tb\nc", "a b c"),
        ("` foo `", " foo "),
        ("'\"`a`\"'", "a"),
        ("`'a\"'", "a"),
        ("\" `a` \"", " `a` "),
        ("1,234,567", "1234567"),
        ("1,234.50", "1234.50"),
        ("1,2,3", "123"),
        ("12.50", "12.50"),
        ("\u0663,\u0664", "\u0663\u0664"),
        ("total 1,234", "total 1,234"),
        (",,,", ""),
        ("1,000", "1000"),
        ("1,000x", "1,000"),
        ("3X", "3"),
        ("3x3x", "3x3"),
        ("max 3x faster", "max 3x faster"),
        ("\u0663x", "\u0663"),
        ("\u0130", "i\u0307"),
        ("\u0130\u0130 A", "i\u0307i\u0307 a"),
        ("", ""),
    ],
)
def test_normal_form(text, expected):
    assert m._norm(text) == expected


@pytest.mark.parametrize(
    "text, expected",
    [
        ("~/notes/plan.md", "/home/tester/notes/plan.md"),
        ("see ~ and ~/x", "see /home/tester and /home/tester/x"),
        ("a~b", "a/home/testerb"),
    ],
)
def test_every_tilde_becomes_the_lower_cased_home(text, expected):
    assert m._norm(text) == expected


class FailingHome:
    @staticmethod
    def home():
        raise RuntimeError("Could not determine home directory.")


class OtherHome:
    @staticmethod
    def home():
        return "/Elsewhere"


def test_rebinding_path_changes_the_home(monkeypatch):
    monkeypatch.setattr(m, "Path", OtherHome)
    assert m._norm("~/A") == "/elsewhere/a"


@pytest.mark.parametrize(
    "call",
    [
        lambda: m._norm("no tilde here"),
        lambda: m._variants("x = 1"),
        lambda: m._tokens("some words"),
        lambda: m._in("x", ["abc"]),
        lambda: m._words_in("two words", ["abc"]),
    ],
)
def test_home_lookup_failure_propagates_on_every_normalisation(monkeypatch, call):
    monkeypatch.setattr(m, "Path", FailingHome)
    with pytest.raises(RuntimeError, match="Could not determine home directory"):
        call()


TIMEOUT_FORMS = [
    "timeout = 30",
    "timeout=30",
    "timeout  =  30",
    "timeout: 30",
    '"timeout": 30',
    "timeout: '30'",
    'timeout: "30"',
    '"timeout": "30"',
]


@pytest.mark.parametrize(
    "lit, expected",
    [
        ("Timeout = 30", TIMEOUT_FORMS),
        ("src/app.py", ["src/app.py"]),
        ("5", []),
        ("x", []),
        ("3x", []),
        ("", []),
        ("Key: value", ["key: value", "key:value"]),
        ("max_retries=5", ["max_retries=5", "max_retries = 5", "max_retries: 5",
                           '"max_retries": 5', "max_retries: '5'", 'max_retries: "5"',
                           '"max_retries": "5"']),
        ("src/app.py=1", ["src/app.py=1", "src/app.py = 1"]),
        ("my key=1", ["my key=1", "my key = 1", "mykey=1"]),
        ("a=", ["a=", "a = "]),
    ],
)
def test_variant_table(lit, expected):
    got = m._variants(lit)
    assert sorted(got) == sorted(expected)


def test_key_value_splits_at_the_first_equals():
    got = m._variants("a=b=c")
    assert {"a: b=c", '"a": "b=c"', "a = b = c"} <= set(got)


def test_variants_go_through_the_rebound_norm(monkeypatch):
    monkeypatch.setattr(m, "_norm", lambda s: s)
    assert sorted(m._variants("K=V")) == sorted(
        ["K=V", "K = V", "K: V", '"K": V', "K: 'V'", 'K: "V"', '"K": "V"']
    )


# The algorithm as written in Python over the module's own `re` and NUM_RE:
# the oracle that the native code must agree with on any text.
def twin_norm(s):
    s = s.replace("~", HOME).strip().strip("`'\"")
    s = re.sub(r"\s+", " ", s).lower()
    if m.NUM_RE.match(s):
        s = s.replace(",", "")
    return re.sub(r"(?<=\d)x$", "", s)


def twin_variants(lit):
    s = twin_norm(lit)
    vs = {s, s.replace(" = ", "="), s.replace("=", " = "), s.replace(" ", "")}
    if re.fullmatch(r"[\w.-]+\s*=\s*.+", s):
        k, v = (p.strip() for p in s.split("=", 1))
        vs |= {f"{k}: {v}", f'"{k}": {v}', f"{k}: '{v}'", f'{k}: "{v}"', f'"{k}": "{v}"'}
    return {v for v in vs if len(v) > 1}


texts = st.text(
    st.sampled_from(list("aXx_.-=~,:/ \t\n`'\"09\u0663\u00b2\u0130\u00df\u2028\u0085"))
    | st.characters(),
    max_size=16,
)
relaxed = settings(suppress_health_check=[HealthCheck.function_scoped_fixture])


@relaxed
@given(texts)
def test_norm_agrees_with_its_python_twin(s):
    assert m._norm(s) == twin_norm(s)


@relaxed
@given(texts)
def test_variants_are_the_distinct_long_forms(lit):
    got = m._variants(lit)
    assert len(got) == len(set(got))
    assert set(got) == twin_variants(lit)
    assert m._variants(lit) == got

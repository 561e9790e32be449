"""The native fast paths against the Python-level path they stand in for: the same
results and the same exceptions, over adversarial texts and whole turns."""

import os
import re

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import proofmark_core.verify as m
from adversarial import TEXT
from fallback import forced_fallback
from runlogs import claim, event, ran, read, run_log, wrote

DIFFERENTIAL = settings(max_examples=300, deadline=None,
                        suppress_health_check=[HealthCheck.too_slow])


@pytest.fixture(autouse=True)
def home(monkeypatch):
    monkeypatch.setenv("HOME", "/home/Tester~\u0130")


def outcome(fn, *args):
    try:
        return "ok", fn(*args)
    except Exception as e:  # noqa: BLE001 - the exception is the result here
        return type(e), str(e)


def assert_same(name, *args):
    fast = outcome(getattr(m, name), *args)
    with forced_fallback():
        slow = outcome(getattr(m, name), *args)
    assert fast == slow


@pytest.mark.parametrize("name", ["_additive", "_clean", "_atoms", "_kind_of", "_norm",
                                  "_variants", "_tokens"])
@DIFFERENTIAL
@given(text=TEXT)
def test_text_functions(name, text):
    assert_same(name, text)


@pytest.mark.parametrize("name", ["_in", "_words_in"])
@DIFFERENTIAL
@given(lit=TEXT, texts=st.lists(st.one_of(TEXT, st.none()), max_size=4))
def test_containment(name, lit, texts):
    assert_same(name, lit, texts)


@pytest.mark.parametrize("name", ["_in", "_words_in"])
@pytest.mark.parametrize("bad", [5, b"bytes", type("S", (str,), {})("sub")])
def test_entries_that_are_not_exact_strs_fail_alike(name, bad):
    assert_same(name, "alpha beta", [None, "", bad, "alpha beta"])
    assert_same(name, "alpha beta", ["alpha beta", bad])


def test_a_failing_home_directory_fails_alike(monkeypatch):
    def no_home(path):
        raise RuntimeError("Could not determine home directory.")

    monkeypatch.setattr(os.path, "expanduser", no_home)
    for name, args in [("_norm", ("x",)), ("_in", ("abc", [])), ("_words_in", ("ab cd", ["x"]))]:
        assert_same(name, *args)
    log = run_log([read("src/app.py")])
    assert_same("verify", claim("file_changed", "Added `src/app.py`", "src/app.py"), log)


# A turn whose texts come from the adversarial alphabet: tools, commands and
# exit codes vary so that every pool and every rule of the chain is reached.
TOOL = st.sampled_from(["read_file", "terminal", "execute_code", "write_file", "skill_view"])
EVENT = st.builds(
    lambda tool, wrote_, payload, command, output: event(tool, wrote=wrote_, payload=payload,
                                                         command=command, output=output),
    TOOL, st.booleans(), TEXT, st.one_of(TEXT, st.sampled_from(["cat a", " grep x", "ls -la",
                                                                 "cat x; rm y", "head -n 3"])),
    TEXT)
COMMAND = st.builds(ran, st.one_of(TEXT, st.sampled_from(["grep -r x .", "pytest -q", "rg y"])),
                    st.sampled_from([0, 1, "0", None, 2]), st.one_of(TEXT, st.just("  \n")))
KIND = st.sampled_from(["file_changed", "command_ran", "other", "mention", "external_action"])


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(kind=KIND, text=TEXT, targets=st.lists(TEXT, min_size=1, max_size=3),
       events=st.lists(EVENT, max_size=4), commands=st.lists(COMMAND, max_size=3),
       written=st.lists(TEXT, max_size=2), external=st.lists(TEXT, max_size=2))
def test_verify_on_adversarial_turns(kind, text, targets, events, commands, written, external):
    # Targets also land verbatim in the log, so that literals are found as often as not.
    events = events + [wrote(targets[0])]
    log = run_log(events, commands, written + targets[-1:], external)
    assert_same("verify", claim(kind, text, *targets), log)


@pytest.mark.parametrize("rebound", ["re", "Path", "_norm", "_variants", "_in", "_tokens",
                                     "_words_in", "NUM_RE", "EMPTY_RE", "SHELL_WRITE_RE"])
def test_each_rebound_name_alone_is_honoured(rebound):
    calls = []
    original = getattr(m, rebound)

    class Spy:
        def __getattr__(self, attr):
            calls.append(attr)
            return getattr(original, attr)

        def __call__(self, *args, **kwargs):
            calls.append("()")
            return original(*args, **kwargs)

    log = run_log([read("see src/app.py\nNo matches"), wrote("timeout = 30\n1,000 rows")],
                  [ran("grep -r x .", 0, " "), ran("touch a", 0)], ["src/app.py"])
    c = claim("other", "No matches; touch `a`", "src/app.py", "timeout=30", "1,000", "touch a",
              "grep nothing")
    expected = m.verify(c, log)
    setattr(m, rebound, Spy())
    try:
        assert m.verify(c, log) == expected
    finally:
        setattr(m, rebound, original)
    assert calls, f"{rebound} was not used through the namespace"


def test_re_members_rebound_on_the_original_module_are_honoured(monkeypatch):
    calls = []
    real_sub = re.sub

    def sub(*args, **kwargs):
        calls.append(args[0])
        return real_sub(*args, **kwargs)

    monkeypatch.setattr(re, "sub", sub)
    assert m._norm("  A  B  ") == "a b"
    assert calls


def test_the_fast_path_compiles_no_pattern(monkeypatch):
    # Native twins do not reach `re` at all, so its compile step never runs.
    compiled = []
    real_compile = re._compile
    monkeypatch.setattr(re, "_compile", lambda *a: compiled.append(a) or real_compile(*a))
    log = run_log([read("see src/app.py"), event("terminal", command="cat x", output="1,000"),
                   event("execute_code", command="cat a", output="")],
                  [ran("grep -n x src", 0, "")], ["src/app.py"])
    m.verify(claim("other", "Added `src/app.py`, saw `1,000`", "src/app.py", "1,000",
                   "the config file", "max_retries = 5"), log)
    assert compiled == []


@DIFFERENTIAL
@given(lit=TEXT, pad=st.text(alphabet="ab =:'\"\u00e9", max_size=40),
       repeat=st.integers(0, 40), cut=st.integers(0, 3))
def test_containment_in_long_texts(lit, pad, repeat, cut):
    # Long entries reach the block-wise search; the literal, whole or cut short,
    # stands at every offset against the 16-byte blocks.
    body = lit[: len(lit) - cut] if cut else lit
    texts = [pad * repeat + body + pad, (pad + lit.upper()) * repeat, pad * repeat]
    assert_same("_in", lit, texts)
    assert_same("_words_in", lit, texts)


@pytest.mark.parametrize(
    "name, text",
    [
        ("_kind_of", "1,000\n"),               # `$` before a final newline
        ("_kind_of", "\u0663.\u0664"),          # digits of another script
        ("_kind_of", "a.py\n"),
        ("_clean", "'a.py:3-4\n'"),             # line suffix before a final newline
        ("_clean", "~ 5 \u2248\u20035 ~x"),     # approximation marks before \s*\d
        ("_atoms", "5 M\u017f, 3 \u212aB, 2 BYTE\n"),  # re.I long s and Kelvin sign
        ("_atoms", "v2, X86, e2e tests, AND, then"),
        ("_atoms", "wait... what / a and b \u2192 c"),
        ("_additive", "D\u0130D NOT add it"),   # dotted capital I folds to i under re.I
        ("_additive", "d\u0131dn't\n\u2028 really  write"),
        ("_additive", "don\u2019t add it"),     # a typographic apostrophe is no negation
        ("_norm", "\u1e9e\u03a3\u0391 \u03a3 x\u03a3"),  # final sigma left to str.lower
        ("_norm", "`\u0130\u0130`\x1c\x85 3X"),
        ("_norm", "1,000\u00a0"),
        ("_variants", "K\u00e9y.Name-1 =\n v=w"),
        ("_variants", "key =\n\n"),
        ("_tokens", "\u00b2\u00b3\u00b9 abc \u0663\u0664\u0665 d_e_f"),
    ],
)
def test_traps(name, text):
    assert_same(name, text)

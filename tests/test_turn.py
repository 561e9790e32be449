"""The turn engine against verify claim by claim: the same answers, or the same
exception, on generated turns full of Unicode and normal-form traps, on turns that
are not plain JSON or meet a rebound name (those go claim by claim), and on every
real turn of the shared data."""

import gzip
import json
import os
import pathlib

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import proofmark_core.verify as m
from adversarial import TEXT
from fallback import outcome
from hostile_inputs import DictSub, StrSub, scenario
from proofmark_core import check_turn
from proofmark_core._turn import check_claims, plainly_sound
from proofmark_core.records import shape as _shape
from runlogs import claim, event, ran, read, run_log, wrote
from shared_data import REALDATA
from test_hostile_generated import CLAIMS, RUN_LOGS
from test_leaks import NOISE, block_growth, needs_block_count

pytestmark = pytest.mark.usefixtures("pristine_namespace")
GENERATED = settings(max_examples=300, deadline=None,
                     suppress_health_check=[HealthCheck.too_slow,
                                            HealthCheck.function_scoped_fixture])


@pytest.fixture(autouse=True)
def home(monkeypatch):
    monkeypatch.setenv("HOME", "/home/Tester~\u0130")


def claim_by_claim(claims, log):
    return [m.verify(c, log) for c in claims]


def assert_same(claims, log):
    expected = outcome(claim_by_claim, claims, log)
    assert outcome(check_claims, claims, log) == expected
    return expected


# --- generated plain turns -------------------------------------------------------

TOOL = st.sampled_from(["read_file", "terminal", "execute_code", "write_file", "skill_view"])
EVENT = st.builds(
    lambda tool, wrote_, payload, command, output: event(tool, wrote=wrote_, payload=payload,
                                                         command=command, output=output),
    TOOL, st.booleans(), st.one_of(TEXT, st.none()),
    st.one_of(TEXT, st.sampled_from(["cat a", " grep x", "ls -la", "cat x; rm y"])),
    st.one_of(TEXT, st.none()))
COMMAND = st.builds(ran, st.one_of(TEXT, st.none(), st.sampled_from(["grep -r x .", "rg y"])),
                    st.sampled_from([0, 1, "0", None, 2, 0.0, False, "", [0]]),
                    st.one_of(TEXT, st.just("  \n")))
KIND = st.sampled_from(["file_changed", "command_ran", "other", "mention", "external_action"])
CLAIM = st.builds(lambda kind, text, targets: claim(kind, text, *targets),
                  KIND, TEXT, st.lists(TEXT, min_size=1, max_size=3))
ARGS = st.recursive(st.one_of(st.none(), st.integers(), st.floats(), TEXT),
                    lambda inner: st.one_of(st.lists(inner, max_size=2),
                                            st.dictionaries(TEXT, inner, max_size=2)),
                    max_leaves=4)


@GENERATED
@given(claims=st.lists(CLAIM, min_size=1, max_size=6), events=st.lists(EVENT, max_size=4),
       commands=st.lists(COMMAND, max_size=3), written=st.lists(TEXT, max_size=2),
       external=st.lists(ARGS, max_size=2))
def test_generated_turns(claims, events, commands, written, external):
    # Targets also stand verbatim in every place of the log, so that literals are
    # found as often as not, and claims share some of them.
    targets = [t for c in claims for t in c["targets"]]
    claims.append(claim("other", "Added it", *targets[::2]))
    events += [wrote(targets[0]), read(targets[-1]),
               event("terminal", command="grep -n x f", output=targets[len(targets) // 2])]
    commands += [ran(targets[-1], 1), ran(targets[0], 0)]
    log = run_log(events, commands, written + targets[:1], external + targets[1:2])
    assert_same(claims, log)


@GENERATED
@given(claims=st.lists(CLAIMS, max_size=4), log=RUN_LOGS)
def test_generated_turns_with_anything_anywhere(claims, log):
    assert_same(claims, log)


# Long texts are read as two halves at once: a literal across the middle, with
# a whitespace run and capitals there, is found as in a text read from the start.
WORD = st.text(st.sampled_from("aZx9_-.\u00e9\u0130"), min_size=2, max_size=8)


@GENERATED
@given(left=WORD, right=WORD, run=st.sampled_from(["", " ", "\t\n ", " " * 40]),
       more=st.lists(TEXT, max_size=2), filler=st.sampled_from(["filler words ", "f \u0130 "]))
def test_literals_across_the_middle_of_long_texts(left, right, run, more, filler):
    before = filler * (1500 // len(filler))
    core = left + run + right
    # The middle falls halfway into `left`.
    after = (filler * 200)[:len(before) + 2 * (len(left) // 2) - len(core)]
    text = before + core + after
    claims = [claim("other", "x", f"{left} {right}", f"{left.upper()}{right}", *more)]
    log = run_log([event(output=text), wrote(text[::-1])], [ran(text, 0)], [text])
    assert_same(claims, log)


# ASCII texts are read in place of their normal form: the ends that the strips and
# the final "x" rule set, and the texts that are plain numbers, must come out alike.
EDGE_TEXTS = ["  'Timeout = 30'  ", "1,000", "1,000x", "now run 10X", "10x\n", "a\t\n\x1c b",
              "` foo  bar `", "x ~ y", '"1,5"', "3.14x", "'\"`", "  ", "AB=CD  "]
EDGE_LITERALS = ["timeout=30", "1000", "1,000", "run 10x now", "10x", "a b", "foo bar", "x ~ y",
                 "1,5", "15", "3.14", "ab=cd", "ab: cd"]


@pytest.mark.parametrize("text", EDGE_TEXTS)
def test_texts_at_the_edges_of_their_normal_form(text):
    claims = [claim("other", "x", lit) for lit in EDGE_LITERALS]
    assert_same(claims, run_log([event(output=text), wrote(text)], [ran(text, 0)], [text]))


def test_needles_beyond_one_automaton():
    # Over 64K states of needles make more than one automaton, each read in turn.
    targets = [f"{i:05d}-{'abcdefghij'[i % 10] * 30}" for i in range(3000)]
    claims = [claim("other", "x", t) for t in targets]
    log = run_log([event(output=" ".join(targets[::7])), wrote(targets[-1])])
    assert_same(claims, log)


# --- which road a turn takes ------------------------------------------------------

def home_lookups(monkeypatch, call):
    """How often `call` asks for the home directory: once a turn at once, once a claim
    claim by claim."""
    asked, real = [], os.path.expanduser
    monkeypatch.setattr(os.path, "expanduser", lambda p: asked.append(p) or real(p))
    call()
    return len(asked)


def three_claims():
    claim_, log = scenario("other")
    return [claim_, dict(claim_, kind="command_ran"), dict(claim_, kind="file_changed")], log


def test_a_plain_turn_is_read_once_for_all_its_claims(monkeypatch):
    claims, log = three_claims()
    assert home_lookups(monkeypatch, lambda: assert_same(claims, log)) == 1 + len(claims)
    assert [(r.verdict, r.evidence) for r in check_turn(log, iter(claims))] == \
        claim_by_claim(claims, log)


def rebind(name, value):
    return lambda monkeypatch, claims, log: monkeypatch.setitem(vars(m), name, value)


OTHER_ROADS = {
    "verify rebound": rebind("verify", lambda claim_, log: m.verify(claim_, log)),
    "_norm rebound": rebind("_norm", lambda s: m._norm(s)),
    "READ_TOOLS rebound": rebind("READ_TOOLS", {"read_file"}),
    "re deleted": lambda monkeypatch, claims, log: monkeypatch.delitem(vars(m), "re"),
    "json.dumps rebound": lambda monkeypatch, claims, log: monkeypatch.setattr(
        json, "dumps", lambda o: "{}"),
    "Path.home rebound": lambda monkeypatch, claims, log: monkeypatch.setattr(
        pathlib.Path, "home", classmethod(lambda cls: cls("/elsewhere"))),
    "events a tuple": lambda monkeypatch, claims, log: log.update(events=tuple(log["events"])),
    "a claim a dict subclass": lambda monkeypatch, claims, log: claims.append(DictSub(claims[0])),
    "a target a str subclass": lambda monkeypatch, claims, log: claims[0]["targets"].append(
        StrSub("src/app.py")),
    "a payload not a text": lambda monkeypatch, claims, log: log["events"].append(
        event(wrote=True, payload=5, output="")),
    "no written paths": lambda monkeypatch, claims, log: log.pop("written"),
    # verified by its literal, yet verify's mention test raises on its text
    "a claim that raises": lambda monkeypatch, claims, log: claims.insert(
        1, {"text": 5, "targets": ["src/app.py"]}),
}


@pytest.mark.parametrize("change", OTHER_ROADS)
def test_anything_else_goes_claim_by_claim(monkeypatch, change):
    claims, log = three_claims()
    OTHER_ROADS[change](monkeypatch, claims, log)
    # A turn that raises is tried at once first.
    assert home_lookups(monkeypatch, lambda: outcome(check_claims, claims, log)) >= \
        home_lookups(monkeypatch, lambda: outcome(claim_by_claim, claims, log))
    assert_same(claims, log)


def test_the_first_claim_that_raises_decides_the_exception():
    log = run_log([wrote("src/app.py")])
    del log["written"]
    claims = [claim("other", "x", "src/app.py"), claim("other", "x", "b.py"), {"text": 5,
                                                                              "targets": ["a.py"]}]
    assert assert_same(claims, log) == ("raised", KeyError, "'written'", None)


@needs_block_count
@pytest.mark.parametrize("turn", ["at once", "claim by claim", "raising"])
def test_no_block_growth(turn):
    claims, log = three_claims()
    if turn == "claim by claim":
        log["events"] = tuple(log["events"])
    raises = KeyError if turn == "raising" else None
    if raises:
        del log["events"][0]["output"]
    assert block_growth(lambda: check_claims(claims, log), raises) < NOISE


# --- real turns -------------------------------------------------------------------

REAL_FILES = sorted(REALDATA.glob("*.jsonl.gz")) if REALDATA.is_dir() else []
# Claims of the biggest turns take verify tens of milliseconds each: a sample of them.
SAMPLED = 25


@pytest.mark.large
@pytest.mark.parametrize("path", REAL_FILES, ids=lambda p: p.name)
def test_every_real_turn(path):
    with gzip.open(path, "rt", encoding="utf-8") as f:
        for line in f:
            turn = json.loads(line)
            claims, log = turn["claims"], turn["run_log"]
            results = check_claims(claims, log)
            sample = range(0, len(claims), max(1, len(claims) // SAMPLED))
            assert [results[i] for i in sample] == [m.verify(claims[i], log) for i in sample]


# --- the fast look at a record's shape ----------------------------------------------

def shape_error(record):
    """What the shape checks written in Python say of the record (None: sound)."""
    with pytest.MonkeyPatch.context() as patch:
        patch.setattr(_shape, "plainly_sound", lambda record: False)
        try:
            _shape.split_record(record)
        except _shape.ShapeError as exc:
            return str(exc)
    return None


def with_a_key_dropped(record, data):
    """The record, and maybe one of its dicts without one of its keys."""
    dicts = [record, record["run_log"]] + [
        item for part in record["run_log"].values() if isinstance(part, list)
        for item in part if isinstance(item, dict) and item]
    if data.draw(st.booleans()):
        fields = data.draw(st.sampled_from(dicts))
        del fields[data.draw(st.sampled_from(sorted(fields)))]
    return record


@GENERATED
@given(log=RUN_LOGS, data=st.data())
def test_a_record_told_sound_natively_is_sound(log, data):
    record = with_a_key_dropped({"run_log": log, "claims": []}, data)
    if plainly_sound(record):
        assert shape_error(record) is None


@GENERATED
@given(events=st.lists(EVENT, max_size=3), commands=st.lists(COMMAND, max_size=3),
       written=st.lists(st.one_of(TEXT, st.none()), max_size=2),
       external=st.lists(ARGS, max_size=2), data=st.data())
def test_a_plain_record_is_told_sound_natively_exactly_when_it_is(events, commands, written,
                                                                 external, data):
    record = {"run_log": run_log(events, commands, written, external), "claims": []}
    record = with_a_key_dropped(record, data)
    assert plainly_sound(record) == (shape_error(record) is None)

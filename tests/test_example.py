"""The shipped example turn gets the verdict each of its claims deserves."""
import copy
import json
from pathlib import Path

from proofmark_core.verify import verify

TURN = json.loads((Path(__file__).parent.parent / "examples" / "turn.json").read_text())

EXPECTED = [
    "verified",  # MAX_RETRIES = 5 written to src/config.py
    "verified",  # pytest -q: one failed run, then a passing one
    "contradicted",  # mypy src only failed
    "pre-existing",  # notes/todo.md was only read
    "unverified",  # src/retry.py appears nowhere
    "verified",  # 37 in the output of a query
    "verified",  # the rg search printed nothing
    "verified",  # #releases in the external action's arguments
    "unchecked",  # a mention of a design doc
    "unchecked",  # nothing literal
]


def test_each_claim_gets_its_verdict():
    before = copy.deepcopy(TURN)
    verdicts = [verify(c, TURN["run_log"])[0] for c in TURN["claims"]]
    assert verdicts == EXPECTED
    assert TURN == before


def test_the_shipped_session_gets_the_verdicts_the_readme_shows():
    from proofmark_core import check_turn, read_turns

    session = Path(__file__).parent.parent / "examples" / "session.jsonl"
    verdicts = [[result.verdict for result in check_turn(turn.run_log, turn.claims)]
                for turn in read_turns(session)]
    assert verdicts == [["verified", "contradicted", "verified", "pre-existing", "unverified"],
                        ["verified"]]

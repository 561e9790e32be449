"""Claims from a turn's closing message: which sentences become claims, their kinds,
texts and targets, and the fall-back to an earlier message."""

import json
import re
from pathlib import Path

import pytest
from hypothesis import given
from hypothesis import strategies as st

from proofmark_core.claims._verbs import CLASS_OF
from proofmark_core.claims import extract_claims
from proofmark_core.extract import WORK_VERB_RE


def claim(kind, text, *targets):
    return {"kind": kind, "text": text, "targets": list(targets)}


def claims_of(message):
    return extract_claims([message])


@pytest.mark.parametrize(("message", "kind", "targets"), [
    ("Added `src/retry.py` with a backoff helper.", "file_changed", ["src/retry.py"]),
    ("Raised `MAX_RETRIES = 5` in `src/config.py`.", "file_changed", ["MAX_RETRIES = 5", "src/config.py"]),
    ("Added a `--dry-run` flag.", "file_changed", ["--dry-run"]),
    ("Wrote the new section in docs/usage.md.", "file_changed", ["docs/usage.md"]),
    ("Commented out the flaky check in `tests/test_net.py`.", "file_changed", ["tests/test_net.py"]),
    ("Fixed the parser in `src/parse.py` and verified it by hand.", "file_changed", ["src/parse.py"]),
    ("Ran `pytest -q`: all 12 tests pass.", "command_ran", ["pytest -q"]),
    ("Verified the fix with `scripts/repro.py`.", "command_ran", ["scripts/repro.py"]),
    ("The `bench.py` script ran without errors.", "command_ran", ["bench.py"]),
    ("`pytest tests/test_api.py` passes.", "command_ran", ["pytest tests/test_api.py"]),
    ("Updated `a.py` and ran `make lint`.", "command_ran", ["a.py", "make lint"]),
    ("Posted the summary to `#deploys`.", "external_action", ["#deploys"]),
    ("Opened a pull request from `fix/login-timeout`.", "external_action", ["fix/login-timeout"]),
    ("Pushed `main` to origin.", "external_action", ["main"]),
    ("See `docs/design.md` for the background.", "mention", ["docs/design.md"]),
    ("The server sends `Retry-After` on 429.", "mention", ["Retry-After"]),
    ("Refactored the login flow.", "other", []),
    ("Reproduced the crash with `repro.py`.", "other", ["repro.py"]),
    ("Checked `notes.md` by eye.", "other", ["notes.md"]),
    ("Used `sed` to fix the typo in `docs/intro.md`.", "other", ["sed", "docs/intro.md"]),
    ("Updated `a.py`, which should fix the crash.", "file_changed", ["a.py"]),
    ("Adds retry to `fetch.py`.", "file_changed", ["fetch.py"]),
    ("`retry()` now adds a delay.", "mention", ["retry()"]),
    ("Created issue #12 for `parse()`.", "external_action", ["parse()"]),
    ("Updated the release notes in `CHANGELOG.md`.", "file_changed", ["CHANGELOG.md"]),
    ("Added `a.py and docs/b.md", "file_changed", ["a.py", "docs/b.md"]),  # an unpaired backtick
])
def test_kind_and_targets_of_one_sentence(message, kind, targets):
    assert claims_of(message) == [claim(kind, message, *targets)]


@pytest.mark.parametrize("message", [
    "I'll run `pytest` next.",
    "You can run `npm start` to launch the app.",
    "Run `make docs` to rebuild the site.",
    "To try it, run `python -m app`.",
    "I did not modify `tests/test_api.py`.",
    "I should add `b.py` or update `c.py`.",
    "Let me know if you want `README.md` updated too.",
    "Should I also update `CHANGELOG.md`?",
    "Hope this helps!",
    "## Summary of the changes",
    "Everything looks good.",
    'The issue says "do not modify tests".',
    "If `make` fails, update `setup.cfg`.",
    "Not sure whether `b.py` needs to be updated.",
    "`retry()` adds a delay.",
])
def test_no_claim(message):
    assert claims_of(message) == []


@pytest.mark.parametrize(("message", "expected"), [
    ("Moved `a.py` to `lib/a.py`. Ran `make test`, e.g. the unit suite. Bumped to 2.0.1 in `setup.cfg`.",
     [claim("file_changed", "Moved `a.py` to `lib/a.py`.", "a.py", "lib/a.py"),
      claim("command_ran", "Ran `make test`, e.g. the unit suite.", "make test"),
      claim("file_changed", "Bumped to 2.0.1 in `setup.cfg`.", "setup.cfg")]),
    ("Fixed `x.py`! Nothing else. Renamed `a. b` to `c.d` in the\nparser module.",
     [claim("file_changed", "Fixed `x.py`!", "x.py"),
      claim("file_changed", "Renamed `a. b` to `c.d` in the parser module.", "a. b", "c.d")]),
    ("Added `a.py`.\r\nRan `pytest`.\r\n",
     [claim("file_changed", "Added `a.py`.", "a.py"), claim("command_ran", "Ran `pytest`.", "pytest")]),
    ("更新了 `src/app.py`。运行了 `pytest` 🎉！",
     [claim("file_changed", "更新了 `src/app.py`。", "src/app.py"),
      claim("command_ran", "运行了 `pytest` 🎉！", "pytest")]),
    ("THOUGHT: Added `a.py`. DISCUSSION is over.\n", [claim("file_changed", "Added `a.py`.", "a.py")]),
    ("Updated `a.py`, then `a.py` again, and `b.py`.",
     [claim("file_changed", "Updated `a.py`, then `a.py` again, and `b.py`.", "a.py", "b.py")]),
])
def test_sentences(message, expected):
    assert claims_of(message) == expected


@pytest.mark.parametrize(("message", "expected"), [
    ("Files changed:\n- `src/app.py`: retries on timeouts\n- **`tests/test_app.py`**\n",
     [claim("file_changed", "`src/app.py`: retries on timeouts", "src/app.py"),
      claim("file_changed", "**`tests/test_app.py`**", "tests/test_app.py")]),
    ("- Add retry to `src/fetch.py`\n- Update `README.md`\n",
     [claim("file_changed", "Add retry to `src/fetch.py`", "src/fetch.py"),
      claim("file_changed", "Update `README.md`", "README.md")]),
    ("Next steps:\n* Run `npm test` in CI\n* See `docs/ci.md`\n", []),
    ("1. I ran:\n   1. `pytest -q`\n   2. `mypy src`\n2. `notes.md` lists the rest\n",
     [claim("command_ran", "`pytest -q`", "pytest -q"), claim("command_ran", "`mypy src`", "mypy src"),
      claim("mention", "`notes.md` lists the rest", "notes.md")]),
    ("### Testing\n- `pytest -q` (all green)\n\n## Changes to `src/app.py`\n",
     [claim("command_ran", "`pytest -q` (all green)", "pytest -q"),
      claim("file_changed", "Changes to `src/app.py`", "src/app.py")]),
    ("Changed:\n- `a.py`\n\n# C# notes\n- `b.py`\n",  # a heading ends the lead-in
     [claim("file_changed", "`a.py`", "a.py"), claim("mention", "`b.py`", "b.py")]),
    ("| File | Change |\n|---|:--:|\n| `src/a.py` | added retries |\n",
     [claim("file_changed", "| `src/a.py` | added retries |", "src/a.py")]),
])
def test_lists_tables_and_headings(message, expected):
    assert claims_of(message) == expected


@pytest.mark.parametrize("message", [
    "Created `a.py`.\n```python\nAdded `fake.py`.\n```\n~~~~\nRan `fake`.\n~~~\n~~~~\n",
    "Created `a.py`.\n  ```\n  Added `fake.py`.\n",  # an unclosed fence runs to the end
    "Created `a.py`.\n> Added `quoted.py`, as the issue says.\n",
])
def test_fenced_code_and_quotes_are_skipped(message):
    assert claims_of(message) == [claim("file_changed", "Created `a.py`.", "a.py")]


@pytest.mark.parametrize(("words", "targets"), [
    ("src/app.py, ./x and foo.py", ["src/app.py", "./x", "foo.py"]),
    ("D:/dir/file.md or D:\\dir\\file.md", ["D:/dir/file.md", "D:\\dir\\file.md"]),
    ("**CLAUDE.md** and __init__.py and .env", ["CLAUDE.md", "__init__.py", ".env"]),
    ("src/a.py:12 and src/b.py#L3-L9", ["src/a.py", "src/b.py"]),
    ("components/ and src/app/models", ["components/", "src/app/models"]),
    ("e.g. 3.14, v1.2.3, 1.0.x, Next.js, example.com, and/or CI/CD", []),
    ("https://x.org/a.py, a@b.io", []),
    ("[app](src/app.py:12), [`cfg`](<conf/my cfg.toml>) and [n](file:///D:/w/n%20b.md#L3)",
     ["src/app.py", "conf/my cfg.toml", "D:/w/n b.md"]),
    ("[docs](https://example.com/x.md) and [top](#top)", []),
    ('![shot](img/shot.png) and [design](docs/design.md "The design")', ["img/shot.png", "docs/design.md"]),
])
def test_bare_paths_and_links(words, targets):
    found = claims_of(f"See {words}.")
    assert found == ([claim("mention", f"See {words}.", *targets)] if targets else [])


@pytest.mark.parametrize(("messages", "expected"), [
    (["Created `src/a.py`.", "Thinking it over.", "All done, everything works."],
     [claim("file_changed", "Created `src/a.py`.", "src/a.py")]),
    (["Ran `pytest`.", "Fixed `b.py`.", "```\nls `x`\n```\nDone."],
     [claim("file_changed", "Fixed `b.py`.", "b.py")]),
    (["Added `a.py`.", "Updated [app](src/app.py)."],  # a link names a file too
     [claim("file_changed", "Updated [app](src/app.py).", "src/app.py")]),
    (["Looked around.", "Fixed it."], [claim("other", "Fixed it.")]),
    (["Found `y.py` in the tests.", "The existing tests passed."], [claim("other", "The existing tests passed.")]),
    ([], []),
])
def test_falls_back_to_the_nearest_message_that_names_something(messages, expected):
    assert extract_claims(messages) == expected


def test_every_work_verb_of_the_engine_is_known():
    words = WORK_VERB_RE.pattern.removeprefix(r"\b(?:").removesuffix(r")\b").split("|")
    assert [word for word in words if word not in CLASS_OF] == []


def test_readme_worked_example():
    readme = (Path(__file__).parents[1] / "README.md").read_text(encoding="utf-8")
    section = readme.split("## Claims from the closing message", 1)[1]
    (_, message), (_, claims) = re.findall(r"^(`{3,})(?:markdown|json)\n(.*?)^\1$", section, re.S | re.M)[:2]
    assert extract_claims([message]) == json.loads(claims)


_MARKDOWN = st.sampled_from([
    "`", "``", "```", "~~~", "\n", "\r\n", "\r", " ", "- ", "1. ", "# ", "> ", "| ", "|---|", "[", "](",
    ")", "file:///", "#L1", ".", "!", "?", ":", "e.g.", "src/a.py", "D:\\x\\y.md", "ran", "added", "I'll",
    "Run", "posted", "a PR", "pytest -q", "\x1a", "_", "**", "中文。", "🎉", "\u2019", '"', "you",
])


@given(st.lists(st.one_of(_MARKDOWN, st.text(max_size=8)), max_size=40).map("".join),
       st.lists(st.text(max_size=20), max_size=3))
def test_never_raises_and_is_deterministic(message, earlier):
    claims = extract_claims([*earlier, message])
    assert claims == extract_claims([*earlier, message])
    for found in claims:
        assert found["kind"] in ("file_changed", "command_ran", "external_action", "mention", "other")
        assert found["text"] and found["text"] == found["text"].strip()
        assert len(set(found["targets"])) == len(found["targets"])

"""Which sentences of a closing message are claims of work done by the agent: plans,
instructions, offers, announcements and descriptions of code are left out (or kept as
mere mentions), in English and in the other languages agents write their summaries in;
claims of work stay claims of the kind the engine needs to catch an overclaim."""

import pytest

from proofmark_core.claims import extract_claims
from proofmark_core.verify import verify


def kinds(message):
    return [(claim["kind"], claim["targets"]) for claim in extract_claims([message])]


@pytest.mark.parametrize("message", [
    # plans and next steps
    "Next step: install JDK 17, then rerun `gradlew assembleDebug`.",
    "Next step: `gradlew assembleDebug` passes once JDK 17 is installed.",
    "**🎯 Next Priority Task**: Implement real GPU convolution in `src/gpu.cu`",
    "## Plan\n1. Fix struct field access errors in `src/gpu.cu`\n2. Run `make test`\n",
    "## Next Steps\nAdd retries to `src/fetch.py` once the API settles.\n",
    "## Remaining work\nRetries in `src/fetch.py` are to be added.\n",
    "In the script, I will undo `c = (c ^ 0x10) + 9` by implementing `d = (d - 9) ^ 0x10`.",
    # proposals and how-to answers to the user
    "Create `.env.local` with `VITE_URL=/log`.",
    "`vite.config.ts` → add: `server: { proxy: { '/log': 'http://localhost:3000' } }`",
    # offers and conditionals
    "If you still want `MAX_RETRIES` configurable, I can add a flag to `cli.py`.",
    # announcements
    "Let's submit the changes using the `submit` command.",
    "You're right, let me look more closely at the `/bench` folder:",
    "I'll search for `save_as_new` in the `tests` directory.",
    # descriptions of code that was read
    "Computers create namespaced assigns: `@project_filter_selected_project_id`, `@projects`",
    "**Updates:** `update_computer_inputs/3` feeds new data to computers",
    "The ndarray branch uses `right` directly.",
    "All reports are automatically saved with timestamps in `/bench/reports/`.",
    # lists under a lead-in that introduces no work done
    "Feature Flags Needed:\n- `show_code_blocks` (enable `<pre><code>` rendering)\n"
    "- `show_subagent_badges` (render subagent badges)\n- `show_debug_anchors`\n",
    "Nice-to-haves:\n- Added `--json` output in `cli.py`\n",
    "Tips:\n- Run `make dev` for hot reload\n",
    "Here's how:\n1. Create `.env.local` with `VITE_URL=/log`\n2. Restart `npm run dev`\n",
    "How to run:\n- `npm start`\n- `npm test`\n",
    "Definition of Done:\n- `make test` passes\n- `docs/usage.md` updated\n",
    # the rows of a plan the agent made are no work of their own
    "I've created a plan with 2 tasks:\n\n| # | Task | Notes |\n|---|---|---|\n"
    "| 1 | Review docs | Check `AGENTS.md` |\n",
])
def test_no_claim_of_work(message):
    assert kinds(message) == []


@pytest.mark.parametrize(("message", "expected"), [
    ("Added `x.py`.", [("file_changed", ["x.py"])]),
    ("Ran `pytest`: all pass.", [("command_ran", ["pytest"])]),
    ("I've run `make lint`.", [("command_ran", ["make lint"])]),
    ("`src/a.py` is fixed.", [("file_changed", ["src/a.py"])]),
    ("Fixed: `a.py` crashed on empty input", [("file_changed", ["a.py"])]),
    ("- Add retry to `src/fetch.py` and update `README.md`",
     [("file_changed", ["src/fetch.py", "README.md"])]),
    ("When I ran `pytest`, all 12 tests passed.", [("command_ran", ["pytest"])]),
    ("The `get()` method now calls `serialize_result()`.", [("mention", ["get()", "serialize_result()"])]),
    ("It's fixed in `src/a.py`.", [("file_changed", ["src/a.py"])]),
    # a mention the engine leaves unchecked when nothing is found
    ("`list_panes/0` - Discovers all tmux panes", [("mention", ["list_panes"])]),
    ("Changes:\n- `src/a.py`: retries\n", [("file_changed", ["src/a.py"])]),
    ("## TODO app done\nCreated `src/app.tsx`.\n", [("file_changed", ["src/app.tsx"])]),
])
def test_claims_of_work_stay(message, expected):
    assert kinds(message) == expected


@pytest.mark.parametrize(("target", "name"), [
    ("list_panes/0", "list_panes"),
    ("Tmux.launch_project_review/3", "Tmux.launch_project_review"),
    (":mod.fun/1", ":mod.fun"),
    ("valid?/1", "valid?"),
    ("src/app", "src/app"),
    ("1/2", "1/2"),
])
def test_arity_is_not_part_of_the_name(target, name):
    assert extract_claims([f"Added `{target}`."])[0]["targets"] == [name]


@pytest.mark.parametrize(("message", "kind"), [
    ("`git diff --check` 通过", "command_ran"),
    ("已添加 `src/a.py`。", "file_changed"),
    ("已修改 `src/a.py`。", "file_changed"),
    ("`pytest` を実行しました。", "command_ran"),
    ("`src/a.py` に関数を追加しました。", "file_changed"),
    ("`src/a.py`에 함수를 추가했습니다.", "file_changed"),
    ("Agregué `src/a.py`.", "file_changed"),
    ("Ich habe `src/a.py` hinzugefügt.", "file_changed"),
    ("J'ai ajouté `src/a.py`.", "file_changed"),
    ("Adicionei `src/a.py`.", "file_changed"),
    ("Я добавил `src/a.py`.", "file_changed"),
    ("Ejecuté `pytest`: todas las pruebas pasan.", "command_ran"),
])
def test_work_verbs_of_other_languages(message, kind):
    assert kinds(message) == [(kind, [message.split("`")[1]])]


@pytest.mark.parametrize("message", [
    "No agregué `src/a.py`.",
    "Ich habe `src/a.py` nicht hinzugefügt.",
    "Je n'ai pas ajouté `src/a.py`.",
    "Я не добавил `src/a.py`.",
    "通过修改 `src/a.py` 解决了问题",  # 通过 before more Chinese: "by means of"
])
def test_denied_or_not_passed_is_no_claim_of_that_work(message):
    assert [kind for kind, _ in kinds(message)] in ([], ["mention"])


EMPTY_TURN = {"events": [], "external": [], "written": [], "commands": []}
FAILED_PYTEST = {
    "events": [{"tool": "terminal", "wrote": False, "output": "1 failed", "command": "pytest"}],
    "external": [], "written": [], "commands": [{"command": "pytest", "exit_code": 1, "output": "1 failed"}],
}


@pytest.mark.parametrize(("message", "run_log", "verdict"), [
    ("Added `x.py`.", EMPTY_TURN, "unverified"),
    ("已添加 `x.py`。", EMPTY_TURN, "unverified"),
    ("Ran `pytest`: all pass.", FAILED_PYTEST, "contradicted"),
    ("`pytest` 全部通过。", FAILED_PYTEST, "contradicted"),
])
def test_real_faults_are_still_flagged(message, run_log, verdict):
    [claim] = extract_claims([message])
    assert verify(claim, run_log)[0] == verdict


@pytest.mark.parametrize(("message", "kept"), [
    # a verb's base form that opens the sentence as its subject reports a result
    ("Lint is clean.", True),
    ("Build succeeded.", True),
    ("Test suite passes.", True),
    ("Lint clean, tests green.", True),
    # the same words as instructions
    ("Lint the code in `src/`.", False),
    ("Build clean binaries for `arm`.", False),
    ("Ensure lint is clean.", False),
])
def test_a_verb_form_as_the_subject_is_no_instruction(message, kept):
    assert bool(extract_claims([message])) is kept

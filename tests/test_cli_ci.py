"""The command in CI: the CI formats from check and from saved results, the settings and
where they come from, secrets masked, the GitHub Action's step and the pre-commit hook."""

import json
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

from test_cli import CLAIMS, EXAMPLES, GOOD, PACKAGE_HOME, _env, jsonl, run

REPO = Path(__file__).resolve().parent.parent
SESSION = EXAMPLES / "session.jsonl"
SECRET = "ghp_" + "Zx9" * 12
CI_FORMATS = ("sarif", "junit", "github", "markdown")


def run_in(cwd, *args, env=None):
    """The command run from ``cwd``, importing the package under test."""
    extra = {"PYTHONPATH": str(PACKAGE_HOME), **(env or {})}
    return subprocess.run([sys.executable, "-P", "-m", "proofmark_core", *map(str, args)],
                          capture_output=True, cwd=cwd, env=_env(extra))


@pytest.mark.parametrize("output_format", CI_FORMATS)
def test_ci_formats_from_check_and_from_saved_results_agree_and_exit_by_fail_on(output_format, tmp_path):
    saved = tmp_path / "results.jsonl"
    assert run("check", "--format", "jsonl", "-o", saved, SESSION).returncode == 1
    checked = run("check", "--format", output_format, SESSION)
    reported = run("report", "--format", output_format, saved)
    assert (checked.returncode, reported.returncode) == (1, 1)
    assert checked.stderr == reported.stderr == b""
    assert checked.stdout == reported.stdout
    relaxed = run("check", "--format", output_format, "--fail-on", "unchecked", SESSION)
    assert relaxed.returncode == 0
    if output_format == "junit":
        assert ET.fromstring(checked.stdout).get("failures") == "1"
        assert ET.fromstring(relaxed.stdout).get("failures") == "0"


def test_sarif_places_results_at_the_closing_messages_of_the_log():
    log = json.loads(run_in(REPO, "check", "--format", "sarif", "examples/session.jsonl").stdout)
    results = log["runs"][0]["results"]
    assert [(r["ruleId"], r["level"]) for r in results] == [
        ("contradicted", "error"), ("pre-existing", "warning"), ("unverified", "warning")]
    location = results[0]["locations"][0]["physicalLocation"]
    assert location["artifactLocation"] == {"uri": "examples/session.jsonl", "uriBaseId": "%SRCROOT%"}
    closing = json.loads(SESSION.read_text().splitlines()[location["region"]["startLine"] - 1])
    assert closing["type"] == "assistant" and "all 12 tests pass" in json.dumps(closing)


def _record_with_secret(tmp_path):
    write = {"tool": "write_file", "wrote": True, "payload": f"TOKEN = '{SECRET}'\n", "output": "ok"}
    record = {"run_log": {"events": [write], "external": [], "written": ["env.py"], "commands": []},
              "claims": [{"kind": "file_changed", "text": f"Added `env.py` with `{SECRET}`",
                          "targets": ["env.py", SECRET]},
                         {"kind": "file_changed", "text": f"Added `ci.yml` with token={SECRET}",
                          "targets": ["ci.yml"]}]}
    path = tmp_path / "turn.jsonl"
    path.write_bytes(jsonl(record))
    return path


@pytest.mark.parametrize("output_format", ("jsonl", "html", "sarif", "junit", "github", "markdown", "table"))
def test_secrets_are_masked_in_every_format_unless_asked_not_to(output_format, tmp_path):
    path = _record_with_secret(tmp_path)
    masked = run("check", "--format", output_format, "--excerpts", path).stdout.decode()
    assert SECRET not in masked and "[redacted]" in masked.replace("\\", "")
    kept = run("check", "--format", output_format, "--excerpts", "--no-redact", path).stdout.decode()
    assert SECRET in kept.replace("\\", "")
    if output_format == "jsonl":
        row = json.loads(masked.splitlines()[0])
        assert row["verdict"] == "verified" and row["excerpt"].count("[redacted]") == 1


def test_settings_come_from_the_command_line_then_the_environment_then_the_file(tmp_path):
    (tmp_path / "pyproject.toml").write_text(
        '[tool.proofmark]\nfail-on = "contradicted,unverified"\nformat = "github"\njobs = 1\n')
    shown = run_in(tmp_path, "config", env={"PROOFMARK_JOBS": "3"})
    assert shown.returncode == 0, shown.stderr
    lines = shown.stdout.decode().splitlines()
    assert lines[0] == "configuration file: pyproject.toml [tool.proofmark]"
    settings = {line.split()[0]: line.split(None, 1)[1] for line in lines[1:]}
    assert re.fullmatch(r"unverified,contradicted +pyproject.toml \[tool.proofmark\]", settings["fail-on"])
    assert re.fullmatch(r"3 +PROOFMARK_JOBS", settings["jobs"])
    assert re.fullmatch(r"session +default", settings["scope"])
    # fail-on from the file makes an unverified claim fail; the command line relaxes it.
    assert run_in(tmp_path, "check", "--format", "jsonl", SESSION).returncode == 1
    github = run_in(tmp_path, "check", SESSION, "--fail-on", "unchecked")
    assert github.returncode == 0 and github.stdout.startswith(b"::")
    strict = run_in(tmp_path, "check", "--format", "jsonl", "--strict", SESSION).stdout
    assert run_in(tmp_path, "check", "--format", "jsonl", SESSION,
                  env={"PROOFMARK_SCOPE": "turn"}).stdout == strict


@pytest.mark.parametrize(("setting", "env", "message"), [
    ("jobs = 0", {}, "proofmark.toml jobs: expected a positive whole number, got 0"),
    ("colour = true", {}, "proofmark.toml: unknown key 'colour' (known: fail-on, format, jobs, "
                          "max-rounds, scope, ignore)"),
    ("", {"PROOFMARK_FAIL_ON": "wrong"}, "PROOFMARK_FAIL_ON: unknown verdict 'wrong' (choose from "
                                         "verified, unverified, pre-existing, contradicted, unchecked)"),
])
@pytest.mark.parametrize("command", ["config", "check"])
def test_a_bad_setting_is_one_line_and_exit_2(command, setting, env, message, tmp_path):
    (tmp_path / "proofmark.toml").write_text(setting + "\n")
    done = run_in(tmp_path, command, *([SESSION] if command == "check" else []), env=env)
    assert (done.returncode, done.stdout, done.stderr.decode()) == (2, b"", f"proofmark: {message}\n")


def test_ignored_files_are_not_read_and_ignored_claims_are_left_unchecked(tmp_path):
    logs = tmp_path / ".agent-logs"
    (logs / "old").mkdir(parents=True)
    (logs / "session.jsonl").write_bytes(SESSION.read_bytes())
    (logs / "old" / "broken.jsonl").write_text("not json\n")
    (tmp_path / "proofmark.toml").write_text("ignore = ['old/', 're:^Ran `pytest']\n")
    done = run_in(tmp_path, "check", "--format", "jsonl", ".agent-logs")
    assert (done.returncode, done.stderr) == (0, b"")
    rows = [json.loads(line) for line in done.stdout.splitlines()][:-1]
    [ignored] = [row for row in rows if row["text"].startswith("Ran `pytest")]
    assert (ignored["verdict"], ignored["engine_verdict"]) == ("unchecked", "contradicted")
    assert ignored["evidence"] == "left unchecked by the setting ignore 're:^Ran `pytest' (proofmark.toml)"


def test_the_actions_step_writes_the_log_report_the_job_summary_and_sarif(tmp_path):
    # The action installs proofmark; here the package under test stands in for it.
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    (bin_dir / "proofmark").write_text(f'#!/bin/sh\nexec "{sys.executable}" -P -m proofmark_core "$@"\n')
    (bin_dir / "proofmark").chmod(0o755)
    summary, outputs = tmp_path / "summary.md", tmp_path / "outputs"
    action = (REPO / "action.yml").read_text()
    script = re.search(r'run: bash "\$GITHUB_ACTION_PATH/(\S+)"', action)[1]
    for variable in re.findall(r"\$\{?(PROOFMARK_ACTION_\w+)", (REPO / script).read_text()):
        assert f"{variable}: ${{{{ inputs." in action
    env = {"PATH": f"{bin_dir}{os.pathsep}{os.environ['PATH']}", "PYTHONPATH": str(PACKAGE_HOME),
           "GITHUB_STEP_SUMMARY": str(summary), "GITHUB_OUTPUT": str(outputs),
           "RUNNER_TEMP": str(tmp_path), "PROOFMARK_ACTION_PATHS": "examples/session.jsonl \n missing.jsonl",
           "PROOFMARK_ACTION_FORMAT": "github", "PROOFMARK_ACTION_SARIF": "true",
           "PROOFMARK_FAIL_ON": ""}
    done = subprocess.run(["bash", REPO / script], capture_output=True, cwd=REPO, env=_env(env))
    assert done.returncode == 0, done.stderr
    assert re.search(rb"^::error file=examples/session.jsonl,line=\d+,", done.stdout, re.M)
    assert done.stderr.startswith(b"proofmark: missing.jsonl: No such file")
    given = dict(line.split("=", 1) for line in outputs.read_text().splitlines())
    assert given["exit-code"] == "2"
    assert json.loads(Path(given["sarif"]).read_text())["version"] == "2.1.0"
    assert summary.read_text().startswith("### proofmark\n")


def test_the_pre_commit_hook_checks_the_kept_logs(tmp_path):
    hook = dict(re.findall(r"^\s*-?\s*(\w+): (.*)$", (REPO / ".pre-commit-hooks.yaml").read_text(), re.M))
    assert (hook["language"], hook["pass_filenames"], hook["always_run"]) == ("python", "false", "true")
    assert hook["entry"] == "proofmark check" and hook["args"] == "[.agent-logs]"
    (tmp_path / ".agent-logs").mkdir()
    (tmp_path / ".agent-logs" / "turns.jsonl").write_bytes(jsonl(GOOD))
    assert run_in(tmp_path, "check", ".agent-logs").returncode == 0

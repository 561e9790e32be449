"""Settings from proofmark.toml or pyproject.toml, overridden by PROOFMARK_* variables and
then by the command line; a file or value that cannot be used is one clear error."""

import pytest

from proofmark_core.run.config import ConfigError, load, shown


def _write(path, text):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)
    return path


def test_the_file_is_found_upward_and_the_nearest_wins(tmp_path):
    deep = tmp_path / "repo" / "src" / "pkg"
    deep.mkdir(parents=True)
    assert load(deep, {}).file is None or not str(load(deep, {}).file).startswith(str(tmp_path))
    _write(tmp_path / "proofmark.toml", 'format = "json"\n')
    _write(tmp_path / "repo" / "pyproject.toml", '[project]\nname = "x"\n')
    assert load(deep, {}).file == tmp_path / "proofmark.toml"  # a pyproject without the table
    _write(tmp_path / "repo" / "pyproject.toml", '[tool.proofmark]\nformat = "sarif"\n')
    config = load(deep, {})
    assert (config.get("format"), config.setting("format").source) == (
        "sarif", "../../pyproject.toml [tool.proofmark]")
    _write(tmp_path / "repo" / "proofmark.toml", 'format = "junit"\n')
    assert load(deep, {}).setting("format").source == "../../proofmark.toml"


def test_command_line_wins_over_environment_over_file_over_default(tmp_path):
    _write(tmp_path / "proofmark.toml", 'fail-on = ["contradicted", "unverified"]\n'
                                         'jobs = 3\nformat = "markdown"\n')
    config = load(tmp_path, {"PROOFMARK_JOBS": "5", "PROOFMARK_FORMAT": " ", "OTHER": "x"})
    assert config.get("fail-on") == frozenset({"contradicted", "unverified"})
    assert shown(config.get("fail-on")) == "unverified,contradicted"
    assert (config.get("jobs"), config.setting("jobs").source) == (5, "PROOFMARK_JOBS")
    assert config.get("jobs", 7) == 7
    assert config.get("format") == "markdown"  # an empty variable is unset
    assert (config.get("max-rounds"), config.setting("scope").source) == (2, "default")
    assert load(tmp_path, {"PROOFMARK_FAIL_ON": "unchecked"}).get("fail-on") == {"unchecked"}


@pytest.mark.parametrize(("text", "environ", "error"), [
    ("fial-on = 'x'\n", {}, "proofmark.toml: unknown key 'fial-on' (known: fail-on, format, "
                            "jobs, max-rounds, scope, ignore)"),
    ("jobs = 0\n", {}, "proofmark.toml jobs: expected a positive whole number, got 0"),
    ("jobs = true\n", {}, "proofmark.toml jobs: expected a positive whole number, got True"),
    ("max-rounds = -1\n", {}, "proofmark.toml max-rounds: expected a whole number, got -1"),
    ("scope = 'repo'\n", {}, "proofmark.toml scope: expected one of session, turn, got 'repo'"),
    ("format = 'xml'\n", {}, "proofmark.toml format: expected one of table, json, jsonl, html, "
                             "sarif, junit, github, markdown, got 'xml'"),
    ("fail-on = 'wrong'\n", {}, "proofmark.toml fail-on: unknown verdict 'wrong' (choose from "
                                "verified, unverified, pre-existing, contradicted, unchecked)"),
    ("ignore = [3]\n", {}, "proofmark.toml ignore: expected a list of patterns, got [3]"),
    ("ignore = ['re:(']\n", {}, "proofmark.toml ignore: bad regular expression 're:(': "
                                "missing ), unterminated subpattern at position 0"),
    ("jobs = \n", {}, "proofmark.toml: invalid TOML: Invalid value (at line 1, column 8)"),
    ("", {"PROOFMARK_JOBS": "many"}, "PROOFMARK_JOBS: expected a positive whole number, got 'many'"),
])
def test_a_bad_file_or_value_names_the_place_and_key(tmp_path, text, environ, error):
    _write(tmp_path / "proofmark.toml", text)
    with pytest.raises(ConfigError) as raised:
        load(tmp_path, environ)
    assert str(raised.value) == error


def test_pyproject_errors_name_the_table(tmp_path):
    _write(tmp_path / "pyproject.toml", "[tool.proofmark]\njobs = 'x'\n")
    with pytest.raises(ConfigError, match=r"^pyproject.toml \[tool.proofmark\] jobs: "):
        load(tmp_path, {})


def test_ignore_globs_match_from_the_files_folder_and_regexes_match_claims(tmp_path, monkeypatch):
    _write(tmp_path / "proofmark.toml",
           "ignore = ['.agent-logs/old', '*.tmp.jsonl', 'logs/*/draft-*', 're:^Ran the linter']\n")
    (tmp_path / "sub").mkdir()
    monkeypatch.chdir(tmp_path / "sub")
    ignore = load(tmp_path / "sub", {}).get("ignore")
    assert [ignore.file(path) for path in (
        "../.agent-logs/old/a.jsonl", "../.agent-logs/new/a.jsonl", "x/b.tmp.jsonl",
        "../logs/2024/draft-1.jsonl", "../logs/draft-1.jsonl", "old/a.jsonl",
    )] == [True, False, True, True, False, False]
    assert ignore.claim("Ran the linter: clean").pattern == "^Ran the linter"
    assert ignore.claim("I ran the linter") is None
    environ = {"PROOFMARK_IGNORE": "re:secret\n\nlogs/x"}
    assert str(load(tmp_path / "sub", environ).get("ignore")) == "logs/x, re:secret"

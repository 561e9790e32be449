"""Windows paths written are found by claims that spell them another way."""

import pytest

from proofmark_core import check_turn
from proofmark_core.logs._runlog import TurnLog
from proofmark_core.logs._spellings import spellings


@pytest.mark.parametrize("path, cwd, forms", [
    ("D:\\repo\\app\\src\\x.xml", "D:\\repo",
     ["D:\\repo\\app\\src\\x.xml", "D:/repo/app/src/x.xml", "app\\src\\x.xml", "app/src/x.xml"]),
    ("app/src/x.xml", "d:\\REPO\\",
     ["app/src/x.xml", "app\\src\\x.xml", "d:\\REPO\\app\\src\\x.xml", "d:/REPO/app/src/x.xml"]),
    ("E:\\other\\y.md", "D:\\repo", ["E:\\other\\y.md", "E:/other/y.md"]),
    ("C:/a/b.txt", None, ["C:/a/b.txt", "C:\\a\\b.txt"]),
    ("/testbed/src/x.py", "/testbed", ["/testbed/src/x.py"]),  # POSIX: one spelling
])
def test_the_other_spellings_of_a_written_path(path, cwd, forms):
    assert spellings(path, cwd) == forms


@pytest.mark.parametrize("written, claimed", [
    ("app/src/x.xml", "D:\\repo\\app\\src\\x.xml"),
    ("app/src/x.xml", "app\\src\\x.xml"),
    ("D:/repo/app/src/x.xml", "D:\\repo\\app\\src\\x.xml"),
    ("D:\\repo\\app\\src\\x.xml", "D:/repo/app/src/x.xml"),
])
def test_a_claim_finds_the_write_spelled_the_other_way(written, claimed):
    turn = TurnLog(cwd="D:\\repo")
    turn.written.append(written)
    claim = {"kind": "file_changed", "text": f"Updated `{claimed}`", "targets": [claimed]}
    made_up = {"kind": "file_changed", "text": "Updated `app\\src\\y.xml`",
               "targets": ["app\\src\\y.xml"]}
    assert [result.verdict for result in check_turn(turn.run_log(), [claim, made_up])] == \
        ["verified", "unverified"]

"""Shell command lines as logs hold them: the text that ran, and the files it wrote."""

import pytest

from proofmark_core.logs._shell import command_text, shell_written_paths


@pytest.mark.parametrize("command, written", [
    ("echo hi > out.txt", ["out.txt"]),
    ("echo x>y && cat a >> log/all.log", ["y", "log/all.log"]),
    ("cat <<'EOF' > app.py\nprint(1 > 2)\nEOF\nls > listing.txt", ["app.py", "listing.txt"]),
    ("cat > notes.md << END\na > b\nEND", ["notes.md"]),
    ("make 2>&1 | tee -a build.log report.txt", ["build.log", "report.txt"]),
    ("sed -i 's/a/b/' f.py g.py", ["f.py", "g.py"]),
    ("sed -i.bak -e s/a/b/ -e s/c/d/ h.py", ["h.py"]),
    ("sed -n '1,5p' f.py > /dev/null 2>/dev/stderr", []),
    ('gem "x", "~> 1.7"\necho "a\nb > c" > out.txt', ["out.txt"]),
    ('python -c "print(1 > 2)" &> run.log', ["run.log"]),
    ("echo 'unbalanced > x", []),
    ("pytest -q", []),
    # PowerShell and cmd: output thrown away, the file writers, Windows paths.
    ("Remove-Item build -Recurse 2>$null; git status > $NULL; dir > nul", []),
    ("New-Item -ItemType Directory out | Out-Null", []),
    ("Get-Content a.txt | Out-File -FilePath b.txt", ["b.txt"]),
    ("Set-Content -Value 'hi' D:\\app\\notes.md; 'x' | Add-Content -LiteralPath C:\\l\\r.log",
     ["D:\\app\\notes.md", "C:\\l\\r.log"]),
    ("npm run build > D:\\app\\build.log", ["D:\\app\\build.log"]),
])
def test_written_paths_are_the_targets_of_redirections_tee_and_sed(command, written):
    assert shell_written_paths(command) == written


@pytest.mark.parametrize("command, text", [
    (["bash", "-lc", "ls -la"], "ls -la"),
    (["/bin/sh", "-c", "cd x && make"], "cd x && make"),
    (["docker", "exec", "-w", "/testbed", "c0ffee", "bash", "-c", "pytest -q"], "pytest -q"),
    (["powershell.exe", "-Command", "Get-ChildItem"], "Get-ChildItem"),
    (["python", "-m", "pytest", "a b"], "python -m pytest 'a b'"),
    ('bash -lc "grep -rn foo src"', "grep -rn foo src"),
    ("bash -lc 'echo hi' > out.txt", "bash -lc 'echo hi' > out.txt"),
    ('echo "unbalanced', 'echo "unbalanced'),
])
def test_command_text_unwraps_shell_wrappers_and_argv(command, text):
    assert command_text(command) == text

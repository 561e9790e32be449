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

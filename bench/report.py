"""The HTML report of a large run: its size, how long it takes to write, and how long
headless Chromium takes to open it and to filter it.

    python3 bench/report.py                  # 100,000 claims
    python3 bench/report.py --claims 20000 --keep /tmp/report.html

Two sets of results in the shape `proofmark check --format jsonl` writes, with
agents, sessions, turns, targets and excerpts:

- made up (fixed seed), in about the sizes of real claims: text about 90 characters,
  evidence about 40, an excerpt of about 120 on the 70% of claims that are verified,
  contradicted or pre-existing;
- real: the 2,346 claims of ../shared/realdata/turns.jsonl.gz, checked, with their
  excerpts, repeated under other file and session names up to the count (when that
  folder is present; it is read in place, never copied).

Needs Playwright and Debian's chromium for the browser timings.
"""

import argparse
import gzip
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path[:0] = [str(HERE.parent), str(HERE)]

from run import REALDATA_CANDIDATES, machine, row  # noqa: E402

AGENTS = ["claude-code", "codex", "openhands", "swe-agent", "mini-swe-agent"]
VERDICT_SHARES = {"verified": 55, "unverified": 15, "unchecked": 15, "contradicted": 8,
                  "pre-existing": 7}
CLAIMS_PER_TURN = 10
TURNS_PER_SESSION = 20
WORDS = ("the retry loop config handler upload parser cache test fixture module timeout "
         "backoff schema migration index request session token build lint docs").split()
OPENS = 3
READY = "html[data-ready=true]"


def literal(rng):
    kind = rng.randrange(4)
    if kind == 0:
        return f"src/{rng.choice(WORDS)}/{rng.choice(WORDS)}_{rng.randrange(100)}.py"
    if kind == 1:
        return f"{rng.choice(WORDS).upper()}_LIMIT = {rng.randrange(1000)}"
    if kind == 2:
        return f"pytest -q tests/test_{rng.choice(WORDS)}.py"
    return str(rng.randrange(10_000))


def sentence(rng, targets):
    words = [rng.choice(WORDS) for _ in range(rng.randrange(3, 10))]
    for target in targets:
        words.insert(rng.randrange(len(words)), f"`{target}`")
    return rng.choice(("Updated", "Ran", "Added", "Fixed", "Checked")) + " " + " ".join(words)


def evidence(rng, verdict, targets):
    first = targets[0]
    return {
        "verified": f"`{first}` in {rng.choice(('write', 'command (exit ok)', 'output'))}",
        "contradicted": f"`{first}` ran but FAILED (exit {rng.randrange(1, 3)})",
        "pre-existing": f"`{first}` appears only in content the agent read; never in anything "
                        "it wrote or ran",
        "unverified": f"`{first}` not found in any write, command or output",
        "unchecked": "nothing literal to check",
    }[verdict]


def excerpt(rng, verdict, targets):
    if verdict in ("unverified", "unchecked"):
        return None
    lines = [" ".join(rng.choice(WORDS) for _ in range(rng.randrange(2, 8)))
             for _ in range(rng.randrange(1, 5))]
    lines.insert(rng.randrange(len(lines)), f"    {targets[0]}  # {rng.choice(WORDS)}")
    heading = "command, exit 1:" if verdict == "contradicted" else "write_file wrote:"
    return (heading + "\n" + "\n".join(lines))[:400]


def results(count, seed=14):
    rng = random.Random(seed)
    verdicts = list(VERDICT_SHARES)
    weights = list(VERDICT_SHARES.values())
    per_session = CLAIMS_PER_TURN * TURNS_PER_SESSION
    for index in range(count):
        session, in_session = divmod(index, per_session)
        turn, claim = divmod(in_session, CLAIMS_PER_TURN)
        agent = AGENTS[session % len(AGENTS)]
        verdict = rng.choices(verdicts, weights)[0]
        targets = [literal(rng) for _ in range(rng.randrange(1, 4))]
        yield {"file": f"logs/{agent}/session-{session:05d}.jsonl", "line": turn * 40 + 1,
               "record": turn, "claim": claim, "agent": agent, "session": f"s{session:05d}",
               "turn": turn, "kind": rng.choice(("file_changed", "command_ran", "other")),
               "text": sentence(rng, targets), "targets": targets, "verdict": verdict,
               "evidence": evidence(rng, verdict, targets),
               "excerpt": excerpt(rng, verdict, targets)}


def real_results(count, folder):
    """The real turns' claims, checked and with their excerpts, over and over."""
    from proofmark_core.api import check_claim
    from proofmark_core.run.evidence import matches
    from proofmark_core.run.excerpts import excerpt as excerpt_of

    checked = []
    with gzip.open(os.path.join(folder, "turns.jsonl.gz"), "rt", encoding="utf-8") as turns:
        for record, line in enumerate(turns):
            turn = json.loads(line)
            for number, claim in enumerate(turn["claims"]):
                result = check_claim(turn["run_log"], claim)
                checked.append({
                    "record": record, "claim": number, "turn": record,
                    "kind": claim.get("kind", "other"), "text": claim.get("text", ""),
                    "targets": claim.get("targets", []), "verdict": result.verdict,
                    "evidence": result.evidence,
                    "excerpt": excerpt_of(turn["run_log"], claim, matches(result.evidence))})
    for index in range(count):
        copy, at = divmod(index, len(checked))
        agent = AGENTS[copy % len(AGENTS)]
        yield {"file": f"logs/{agent}/copy-{copy:03d}.jsonl", "line": checked[at]["record"] + 1,
               "agent": agent, "session": f"c{copy:03d}", **checked[at]}


def write_results(path, made):
    tally = dict.fromkeys(VERDICT_SHARES, 0)
    count = 0
    with open(path, "w", encoding="utf-8") as out:
        for result in made:
            count += 1
            tally[result["verdict"]] += 1
            out.write(json.dumps(result) + "\n")
        # No record count: the page counts the turns.
        out.write(json.dumps({"summary": {"claims": count, "errors": 0,
                                          "verdicts": tally}}) + "\n")


def measure(label, made, count, report_path, chromium, searches):
    with tempfile.TemporaryDirectory() as folder:
        results_path = Path(folder) / "results.jsonl"
        report_path = report_path or Path(folder) / "report.html"
        write_results(results_path, made)
        seconds, peak_mb = build(results_path, report_path)
        size, static, data = part_sizes(report_path)
        print(f"\n### {label}: {count:,} claims\n")
        row("results MB", "report MB", "of it: data MB", "of it: no-script HTML MB",
            "write s", "peak RSS MB")
        row(*["---"] * 6)
        row(f"{results_path.stat().st_size / 1e6:.1f}", f"{size / 1e6:.1f}", f"{data / 1e6:.1f}",
            f"{static / 1e6:.1f}", f"{seconds:.1f}", f"{peak_mb:.0f}")
        if not os.path.exists(chromium):
            print("\n(no chromium: the browser timings are skipped)")
            return
        opens, script_ms, timings = browse(report_path, chromium, searches)
    print(f"\nOpen until interactive (navigation to the first batch rendered and the "
          f"filters live), {OPENS} opens:\n")
    row("median s", "slowest s", "page clock at ready, median ms")
    row(*["---"] * 3)
    row(f"{statistics.median(opens):.2f}", f"{max(opens):.2f}",
        f"{statistics.median(script_ms):,.0f}")
    print("\nFiltering, in the page (filter and render the first batch):\n")
    row("step", "ms", "shown")
    row(*["---"] * 3)
    for step, (ms, shown) in timings.items():
        row(step, f"{ms:,.0f}", shown)


# `proofmark report`, saying its own peak resident size (kB) on standard error.
REPORT_AND_PEAK = ("import resource, sys\n"
                   "from proofmark_core.cli import main\n"
                   "status = main(sys.argv[1:])\n"
                   "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss, file=sys.stderr)\n"
                   "raise SystemExit(status)\n")


def build(results_path, report_path):
    """Seconds and peak resident megabytes of `proofmark report`, in a child process."""
    started = time.perf_counter()
    done = subprocess.run([sys.executable, "-c", REPORT_AND_PEAK, "report", str(results_path),
                           "-o", str(report_path)], check=True, cwd=HERE.parent,
                          capture_output=True, text=True)
    seconds = time.perf_counter() - started
    return seconds, int(done.stderr.split()[-1]) / 1024


def part_sizes(report_path):
    page = report_path.read_bytes()
    static = page.index(b"</noscript>") - page.index(b"<noscript>")
    data = page.index(b"</script>", page.index(b'id="report-data"')) - page.index(b'id="report-data"')
    return len(page), static, data


def browse(report_path, chromium, searches):
    from playwright.sync_api import sync_playwright

    url = report_path.resolve().as_uri()
    opens, script_ms, timings = [], [], {}
    with sync_playwright() as playwright:
        browser = playwright.chromium.launch(executable_path=chromium)
        for _ in range(OPENS):
            page = browser.new_page(viewport={"width": 1280, "height": 900})
            started = time.perf_counter()
            page.goto(url, wait_until="commit", timeout=60_000)
            page.wait_for_selector(READY, state="attached", timeout=60_000)
            opens.append(time.perf_counter() - started)
            script_ms.append(page.evaluate("performance.now()"))
            page.close()
        page = browser.new_page(viewport={"width": 1280, "height": 900})
        page.goto(url, timeout=60_000)
        page.wait_for_selector(READY, state="attached", timeout=60_000)
        timings = page.evaluate(FILTER_TIMINGS, searches)
        browser.close()
    return opens, script_ms, timings


# Each step changes one control and fires the event the page listens to; the page
# filters and renders the first batch synchronously, so the time around the
# dispatch is the whole of it.
FILTER_TIMINGS = """([first, second]) => {
  const form = document.getElementById("filters");
  const time = (change) => {
    const started = performance.now();
    change();
    form.dispatchEvent(new Event("change"));
    return [performance.now() - started, document.getElementById("shown").textContent];
  };
  const box = (verdict) => form.querySelector(`input[name=verdict][value="${verdict}"]`);
  const results = {};
  results["verdict: contradicted only"] = time(() => {
    for (const input of form.querySelectorAll("input[name=verdict]")) input.checked = input.value === "0";
  });
  results["verdict: all again"] = time(() => {
    for (const input of form.querySelectorAll("input[name=verdict]")) input.checked = true;
  });
  results["agent: the second"] = time(() => { document.getElementById("agent").value = "1"; });
  const files = document.getElementById("file");
  results[`file: one of ${files.options.length - 1}`] = time(() => {
    document.getElementById("agent").value = "-1";
    files.value = String(Math.floor((files.options.length - 1) / 2));
  });
  results[`search: "${first}" (builds the index)`] = time(() => {
    files.value = "-1";
    document.getElementById("search").value = first;
  });
  results[`search: "${second}"`] = time(() => {
    document.getElementById("search").value = second;
  });
  results["search: cleared"] = time(() => { document.getElementById("search").value = ""; });
  const more = document.getElementById("more");
  const started = performance.now();
  more.click();
  results["one more batch (scrolling)"] = [performance.now() - started, ""];
  return results;
}"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--claims", type=int, default=100_000)
    parser.add_argument("--keep", type=Path, help="keep the made-up report at this path")
    parser.add_argument("--chromium", default=shutil.which("chromium") or "/usr/bin/chromium")
    parser.add_argument("--realdata", default=next(
        (p for p in REALDATA_CANDIDATES if os.path.isdir(p)), None))
    args = parser.parse_args()
    print(f"Machine: {machine()}")
    measure("Made up", results(args.claims), args.claims, args.keep, args.chromium,
            ["backoff_limit", "migration index"])
    if args.realdata:
        measure("Real claims, repeated", real_results(args.claims, args.realdata), args.claims,
                None, args.chromium, ["pytest", "not found in any"])
    else:
        print("\n(no realdata folder: the real claims are skipped)")


if __name__ == "__main__":
    main()

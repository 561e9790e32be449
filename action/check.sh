#!/usr/bin/env bash
# The check step of the GitHub Action (action.yml): check the claims once, then write
# the report the workflow asked for to the log, the Markdown summary to the job
# summary and, when asked, SARIF for the upload step. It exits 0 whatever the
# verdicts and gives the check's exit status as a step output, so that the upload
# still runs; the action's last step ends with that status.
#
# Inputs come as environment variables: PROOFMARK_ACTION_PATHS (paths separated by
# spaces or lines), PROOFMARK_ACTION_FORMAT, PROOFMARK_ACTION_SARIF (true or false),
# and the settings proofmark itself reads (PROOFMARK_FAIL_ON and the like); the
# runner's GITHUB_STEP_SUMMARY, GITHUB_OUTPUT and RUNNER_TEMP.
set -uo pipefail

out=${RUNNER_TEMP:-${TMPDIR:-/tmp}}
results=$out/proofmark-results.jsonl
sarif=$out/proofmark.sarif

# Split on whitespace without expanding globs: a path is taken as written.
set -f
# shellcheck disable=SC2206
paths=(${PROOFMARK_ACTION_PATHS:-.agent-logs})
set +f

rm -f "$results"
proofmark check --format jsonl -o "$results" -- "${paths[@]}"
status=$?
{ echo "results=$results"; echo "exit-code=$status"; } >> "$GITHUB_OUTPUT"
if [ ! -s "$results" ]; then
  exit 0  # nothing was checked: the reason is the line above
fi

proofmark report --format "${PROOFMARK_ACTION_FORMAT:-github}" "$results"
proofmark report --format markdown "$results" >> "$GITHUB_STEP_SUMMARY"
if [ "${PROOFMARK_ACTION_SARIF:-false}" = true ]; then
  proofmark report --format sarif -o "$sarif" "$results"
  echo "sarif=$sarif" >> "$GITHUB_OUTPUT"
fi
exit 0

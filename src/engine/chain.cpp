// Sources by strength: a write, a successful command, an external action, tool
// output, read-only output, the all-words tests, and last an empty search.
// A "command_ran" claim whose commands all failed is caught before any of them.
#include "engine/chain.hpp"

#include <utility>

#include "analysis/patterns.hpp"
#include "engine/entries.hpp"
#include "engine/records.hpp"
#include "engine/values.hpp"

namespace pm {
namespace {

bool is_path_or_key(PyObject* k) { return equals(k, word::kPath) || equals(k, word::kKey); }

bool is_number_or_phrase(PyObject* k) {
  return equals(k, word::kNumber) || equals(k, word::kPhrase);
}

bool only_failed_runs(PyObject* kind, const Facts& f) {
  return equals(kind, word::kCommandRan) && !is_empty(f.cmd_bad.get()) &&
         is_empty(f.cmd_ok.get());
}

// Only the first successful record is asked whether it writes.
bool counts_as_run(const Context& ns, PyObject* kind, PyObject* k, const Facts& f) {
  if (is_empty(f.cmd_ok.get())) return false;
  if (equals(kind, word::kCommandRan)) return true;
  Ref first = Ref::borrow(PyList_GET_ITEM(f.cmd_ok.get(), 0));
  return search_field(ns, Name::SHELL_WRITE_RE, first.get(), key::kCommand) || is_path_or_key(k);
}

// A file-change claim is not supported by a path or key merely seen in output.
bool counts_as_output(PyObject* kind, PyObject* k, const Facts& f) {
  if (!f.in_out) return false;
  return !equals(kind, word::kFileChanged) || is_number_or_phrase(k);
}

bool claims_empty_search(const Context& ns, PyObject* a, PyObject* text) {
  return pattern_search(ns, Name::EMPTY_RE, a) || pattern_search(ns, Name::EMPTY_RE, text);
}

enum class List { found, failed, read_only, missing };

struct Outcome {
  List list;
  Ref entry;  // the evidence entry for `found` and `failed`
};

Outcome found(Ref entry) { return {List::found, std::move(entry)}; }

// The first rule that holds decides.
Outcome decide(const Context& ns, Evidence& evidence, const Claim& claim, PyObject* a, PyObject* k,
               const Facts& f) {
  PyObject* kind = claim.kind.get();
  if (only_failed_runs(kind, f)) {
    Ref first_bad = Ref::borrow(PyList_GET_ITEM(f.cmd_bad.get(), 0));
    Ref code = item(first_bad.get(), key::kExitCode);
    return {List::failed, entry::ran_but_failed(a, code.get())};
  }
  if (f.in_write) return found(entry::in_write(a));
  if (counts_as_run(ns, kind, k, f)) return found(entry::in_command(a));
  if (f.in_ext) return found(entry::in_external(a));
  if (counts_as_output(kind, k, f)) return found(entry::in_output(a));
  if (f.in_read && is_path_or_key(k)) return {List::read_only, Ref()};
  if (!equals(kind, word::kFileChanged)) {
    if (evidence.words_in_successful_commands(a)) return found(entry::words_in_command(a));
    if (evidence.words_in_outputs(a)) return found(entry::words_in_output(a));
  }
  if (claims_empty_search(ns, a, claim.text.get()) && evidence.empty_search()) {
    return found(entry::empty_search());
  }
  return {List::missing, Ref()};
}

}  // namespace

Findings empty_findings() { return {new_list(), new_list(), new_list(), new_list()}; }

void file_literal(const Context& ns, Evidence& evidence, const Claim& claim, PyObject* a,
                  PyObject* k, const Facts& facts, Findings& findings) {
  Outcome outcome = decide(ns, evidence, claim, a, k, facts);
  switch (outcome.list) {
    case List::found: append(findings.found.get(), outcome.entry.get()); break;
    case List::failed: append(findings.failed.get(), outcome.entry.get()); break;
    case List::read_only: append(findings.read_only.get(), a); break;
    case List::missing: append(findings.missing.get(), a); break;
  }
}

}  // namespace pm

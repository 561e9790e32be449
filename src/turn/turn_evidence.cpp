// Facts of a literal from the hits of its needles: a pool holds a candidate form
// when it holds one of that form's variants.
#include "turn/turn_evidence.hpp"

#include <algorithm>

#include "engine/commands.hpp"
#include "engine/values.hpp"

namespace pm {

TurnEvidence::TurnEvidence(const Context& ns, PyObject* run_log, const LiteralNeedles& literals,
                           const LogTexts& log, const Occurrences& occurrences)
    : ns_(ns), run_log_(run_log), literals_(literals), log_(log), occurrences_(occurrences) {}

bool TurnEvidence::in_place(const LiteralForms& f, int candidates, uint8_t place) const {
  for (int c = 0; c < candidates; ++c) {
    for (uint32_t id : f.variants[c]) {
      if (occurrences_.hits(id).places & place) return true;
    }
  }
  return false;
}

// verify files a record under cmd_bad when it is `not in` cmd_ok, an equality
// scan. Between plain JSON records that is the record's own exit: a record that
// failed never equals one that succeeded, since their exit codes would then be
// equal, and equality of plain scalars is exact and transitive.
void TurnEvidence::split_commands(const LiteralForms& f, Facts& facts) const {
  std::vector<uint32_t> records;
  for (int c = 0; c < f.candidates; ++c) {
    for (uint32_t id : f.variants[c]) {
      const std::vector<uint32_t>& held = occurrences_.hits(id).commands;
      records.insert(records.end(), held.begin(), held.end());
    }
  }
  std::sort(records.begin(), records.end());
  records.erase(std::unique(records.begin(), records.end()), records.end());
  facts.cmd_ok = new_list();
  facts.cmd_bad = new_list();
  for (uint32_t j : records) append((log_.ran_ok(j) ? facts.cmd_ok : facts.cmd_bad).get(), log_.command(j));
}

Facts TurnEvidence::facts(PyObject* a, PyObject*) {
  const LiteralForms& f = literals_.forms(literals_.index_of(a));
  Facts facts;
  facts.in_write = in_place(f, f.candidates, kWrite) ||
                   (f.file_name >= 0 && occurrences_.file_name_written(f.file_name));
  split_commands(f, facts);
  facts.in_out = in_place(f, 1, kOutput);
  facts.in_read = in_place(f, f.candidates, kReadOutput);
  facts.in_ext = in_place(f, f.candidates, kExternal);
  return facts;
}

bool TurnEvidence::words_in_successful_commands(PyObject* a) {
  return occurrences_.words_places(literals_.index_of(a)) & kSuccessfulCommand;
}

bool TurnEvidence::words_in_outputs(PyObject* a) {
  return occurrences_.words_places(literals_.index_of(a)) & kOutput;
}

bool TurnEvidence::empty_search() {
  if (empty_search_ < 0) empty_search_ = pm::empty_search(ns_, run_log_);
  return empty_search_;
}

}  // namespace pm

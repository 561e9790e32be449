// Evidence read from the RunLog for one call of verify.
#include "engine/log_evidence.hpp"

#include "engine/commands.hpp"

namespace pm {
namespace {

// words_in(a, texts), with `_words_in` looked up before the texts are gathered.
bool words_in(const Context& ns, MatchSession& session, const Ref& fn, PyObject* a,
              PyObject* texts) {
  if (ns.is_original(fn.get(), Name::_words_in) && PyUnicode_CheckExact(a) &&
      session.words_in_native()) {
    return session.words_in(a, texts);
  }
  return truthy(call(fn.get(), a, texts).get());
}

}  // namespace

LogEvidence::LogEvidence(const Context& ns, PyObject* run_log)
    : ns_(ns), run_log_(run_log), pools_(gather_pools(ns, run_log)), session_(ns) {}

Facts LogEvidence::facts(PyObject* a, PyObject* k) {
  return gather_facts(ns_, session_, run_log_, pools_, a, k);
}

bool LogEvidence::words_in_successful_commands(PyObject* a) {
  Ref fn = ns_.lookup(Name::_words_in);
  Ref texts = successful_command_texts(run_log_);
  return words_in(ns_, session_, fn, a, texts.get());
}

bool LogEvidence::words_in_outputs(PyObject* a) {
  Ref fn = ns_.lookup(Name::_words_in);
  return words_in(ns_, session_, fn, a, pools_.all_outs.get());
}

bool LogEvidence::empty_search() { return pm::empty_search(ns_, run_log_); }

}  // namespace pm

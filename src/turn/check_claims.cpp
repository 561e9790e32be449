// A turn for the price of one pass: the literals of all its claims first, then one
// scan of each text of the log for all of them, then each claim through the same
// decision chain as verify's.
#include "turn/check_claims.hpp"

#include <memory>
#include <vector>

#include "engine/claim.hpp"
#include "engine/judge.hpp"
#include "engine/mention.hpp"
#include "engine/values.hpp"
#include "engine/walk.hpp"
#include "matching/normal_form.hpp"
#include "turn/plain.hpp"
#include "turn/turn_evidence.hpp"

namespace pm {
namespace {

const StaticStr kVerify("verify");

struct ReadClaim {
  Claim claim;
  Ref literals;
};

// Everything the turn's claims need to know of its RunLog, made only when some
// claim has a literal: verify reads nothing of the RunLog otherwise.
struct TurnIndex {
  TurnIndex(const Context& ns, PyObject* run_log, const LiteralNeedles& literals, PyObject* home)
      : log(ns, run_log),
        occurrences(literals, log, home),
        evidence(ns, run_log, literals, log, occurrences) {}

  LogTexts log;
  Occurrences occurrences;
  TurnEvidence evidence;
};

Ref claim_by_claim(PyObject* verify_module, PyObject* claims, PyObject* run_log) {
  Ref results = new_list();
  walk(claims, [&](PyObject* claim) {
    Ref verify = getattr(verify_module, kVerify);
    append(results.get(), call(verify.get(), claim, run_log).get());
  });
  return results;
}

bool answers_for(const Context& ns, PyObject* claims, PyObject* run_log) {
  if (!ns.everything_original() || !PyDict_CheckExact(run_log) || !is_plain_json(run_log)) {
    return false;
  }
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(claims); ++i) {
    PyObject* claim = PyList_GET_ITEM(claims, i);
    if (!PyDict_CheckExact(claim) || !is_plain_json(claim)) return false;
  }
  return true;
}

// The mention test can fail only on a text that is not a str, and then fails now,
// as verify's would, before anything of the RunLog is asked.
MentionTest mention_test(const Context& ns, const Claim& claim) {
  if (PyUnicode_CheckExact(claim.text.get())) return MentionTest::deferred(ns, claim);
  return MentionTest::done(claim_is_mention(ns, claim));
}

Ref at_once(const Context& ns, PyObject* claims, PyObject* run_log) {
  Ref home = home_dir(ns);
  LiteralNeedles literals(ns, home.get());
  std::vector<ReadClaim> read;
  bool any_literal = false;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(claims); ++i) {
    ReadClaim c{read_claim(PyList_GET_ITEM(claims, i)), Ref()};
    c.literals = claim_literals(ns, c.claim.targets.get());
    walk(c.literals.get(), [&](PyObject* a) { literals.add(a); });
    any_literal |= !is_empty(c.literals.get());
    read.push_back(std::move(c));
  }
  std::unique_ptr<TurnIndex> index;
  if (any_literal) index = std::make_unique<TurnIndex>(ns, run_log, literals, home.get());
  Ref results = require(PyList_New(static_cast<Py_ssize_t>(read.size())));
  for (size_t i = 0; i < read.size(); ++i) {
    const ReadClaim& c = read[i];
    Ref verdict = is_empty(c.literals.get())
                      ? nothing_to_check()
                      : judge_literals(ns, c.claim, mention_test(ns, c.claim),
                                       c.literals.get(), index->evidence);
    PyList_SET_ITEM(results.get(), static_cast<Py_ssize_t>(i), verdict.release());
  }
  return results;
}

// Whatever failed is verify's to report, claim by claim, at the claim that meets
// it; only a failure of the process itself is passed on as it is.
bool worth_retrying() {
  return PyErr_ExceptionMatches(PyExc_Exception) && !PyErr_ExceptionMatches(PyExc_MemoryError);
}

}  // namespace

Ref check_claims(PyObject* verify_module, PyObject* claims, PyObject* run_log) {
  Ref list = require(PySequence_List(claims));
  Ref ns = Ref::borrow(reinterpret_cast<PyObject*>(published_context()));
  const Context* context = reinterpret_cast<const Context*>(ns.get());
  if (context && context->dict == PyModule_GetDict(verify_module) &&
      answers_for(*context, list.get(), run_log)) {
    try {
      return at_once(*context, list.get(), run_log);
    } catch (const Unindexable&) {
    } catch (const PyErrorSet&) {
      if (!worth_retrying()) throw;
      PyErr_Clear();
    }
  }
  return claim_by_claim(verify_module, list.get(), run_log);
}

}  // namespace pm

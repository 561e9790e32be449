// Evidence read from the RunLog for one call of verify: the pools gathered once,
// the facts of each literal computed anew.
#pragma once

#include "engine/evidence.hpp"
#include "engine/pools.hpp"
#include "matching/session.hpp"

namespace pm {

class LogEvidence final : public Evidence {
 public:
  // Gathers the pools.
  LogEvidence(const Context& ns, PyObject* run_log);

  Facts facts(PyObject* a, PyObject* k) override;
  bool words_in_successful_commands(PyObject* a) override;
  bool words_in_outputs(PyObject* a) override;
  bool empty_search() override;

 private:
  const Context& ns_;
  PyObject* run_log_;
  Pools pools_;
  // Normal forms and the home directory, made at most once in this call.
  MatchSession session_;
};

}  // namespace pm

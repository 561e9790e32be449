// Evidence for every claim of a turn, answered from where the turn's needles occur.
#pragma once

#include "engine/evidence.hpp"
#include "turn/occurrences.hpp"

namespace pm {

class TurnEvidence final : public Evidence {
 public:
  TurnEvidence(const Context& ns, PyObject* run_log, const LiteralNeedles& literals,
               const LogTexts& log, const Occurrences& occurrences);

  Facts facts(PyObject* a, PyObject* k) override;
  bool words_in_successful_commands(PyObject* a) override;
  bool words_in_outputs(PyObject* a) override;
  bool empty_search() override;

 private:
  // Some variant of some candidate form (or of the literal alone) stands in `place`.
  bool in_place(const LiteralForms& f, int candidates, uint8_t place) const;
  // cmd_ok and cmd_bad: the records whose command line holds a candidate form.
  void split_commands(const LiteralForms& f, Facts& facts) const;

  const Context& ns_;
  PyObject* run_log_;
  const LiteralNeedles& literals_;
  const LogTexts& log_;
  const Occurrences& occurrences_;
  int empty_search_ = -1;  // not asked yet
};

}  // namespace pm

// What the decision chain knows of a literal: the facts computed before it
// decides, and the evidence it asks for only when a rule needs it. verify reads
// them from the RunLog for each claim; the turn engine from an index of the turn.
#pragma once

#include "engine/facts.hpp"

namespace pm {

class Evidence {
 public:
  virtual ~Evidence() = default;

  // The facts of the literal `a` of kind `k`.
  virtual Facts facts(PyObject* a, PyObject* k) = 0;
  // _words_in(a, <command texts of the records with a successful exit>)
  virtual bool words_in_successful_commands(PyObject* a) = 0;
  // _words_in(a, all_outs)
  virtual bool words_in_outputs(PyObject* a) = 0;
  // Some grep, rg or find command printed nothing but whitespace.
  virtual bool empty_search() = 0;
};

}  // namespace pm

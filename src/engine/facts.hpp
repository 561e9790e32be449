// The evidence facts of one literal, all computed before the decision chain.
#pragma once

#include "binding/context.hpp"
#include "engine/pools.hpp"
#include "matching/session.hpp"

namespace pm {

struct Facts {
  bool in_write = false;
  Ref cmd_ok;   // records holding a candidate form that exited successfully
  Ref cmd_bad;  // the other records holding one
  bool in_out = false;
  bool in_read = false;
  bool in_ext = false;
};

// Facts in their fixed order; "written" is read only when no payload holds a
// candidate form, and "commands" once for every literal.
Facts gather_facts(const Context& ns, MatchSession& session, PyObject* run_log,
                   const Pools& pools, PyObject* literal, PyObject* kind);

// _in(lit, texts) and _norm(s), through the names, or natively while they are the originals.
bool lit_in(const Context& ns, MatchSession& session, PyObject* lit, PyObject* texts);
Ref normal_form(const Context& ns, MatchSession& session, PyObject* s);

}  // namespace pm

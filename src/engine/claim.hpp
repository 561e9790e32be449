// The Claim as verify reads it, and the literals drawn from its targets.
#pragma once

#include "binding/context.hpp"

namespace pm {

struct Claim {
  Ref kind;     // "kind", default "other"
  Ref text;     // "text", default ""
  Ref targets;  // "targets", default a new empty list
};

Claim read_claim(PyObject* claim);

// The literals of every truthy target, in order and with repeats, without the
// phrases of 3 characters or fewer.
Ref claim_literals(const Context& ns, PyObject* targets);

}  // namespace pm

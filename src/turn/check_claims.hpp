// check_claims(claims, run_log): every claim of one turn against the turn's
// RunLog, with the answers verify gives claim by claim.
#pragma once

#include "binding/ref.hpp"

namespace pm {

// A list of verify's results, one per claim in order. The turn is read once for
// all its claims when its records are plain JSON values and the verify module's
// names are the originals; otherwise, or when the turn raises anywhere, the
// module's `verify` (whatever it is now) judges each claim in turn.
Ref check_claims(PyObject* verify_module, PyObject* claims, PyObject* run_log);

}  // namespace pm

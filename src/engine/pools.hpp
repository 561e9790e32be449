// The four evidence pools, gathered once per call from the RunLog.
#pragma once

#include "binding/context.hpp"

namespace pm {

struct Pools {
  Ref writes;     // payloads of writing events
  Ref read_outs;  // outputs of read-only events
  Ref all_outs;   // outputs of every event
  Ref ext_args;   // one JSON text per external action
};

// Reads "events" once and walks it three times, then walks "external".
Pools gather_pools(const Context& ns, PyObject* run_log);

}  // namespace pm

// The verdict and its evidence line, composed from the four lists.
#pragma once

#include "engine/chain.hpp"
#include "engine/mention.hpp"

namespace pm {

// The (verdict, evidence) tuple that verify returns.
Ref answer(const StaticStr& verdict, PyObject* evidence);

Ref compose_verdict(const Context& ns, const Claim& claim, MentionTest& is_mention,
                    const Findings& findings);

}  // namespace pm

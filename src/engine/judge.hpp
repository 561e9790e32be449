// One claim judged from its literals, whichever evidence answers for them.
#pragma once

#include "engine/claim.hpp"
#include "engine/evidence.hpp"
#include "engine/mention.hpp"

namespace pm {

// ("unchecked", "nothing literal to check"): a claim without literals.
Ref nothing_to_check();

// Files every literal by the decision chain, in order, then composes the verdict.
Ref judge_literals(const Context& ns, const Claim& claim, MentionTest is_mention,
                   PyObject* literals, Evidence& evidence);

}  // namespace pm

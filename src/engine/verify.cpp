// verify: one Claim against one RunLog, answered as (verdict, evidence).
#include "engine/verify.hpp"

#include "engine/judge.hpp"
#include "engine/log_evidence.hpp"
#include "engine/mention.hpp"
#include "engine/values.hpp"

namespace pm {
namespace {

// Reads the claim, then the RunLog only when there is a literal to look for.
Ref verify(const Context& ns, PyObject* const* args) {
  Claim claim = read_claim(args[0]);
  Ref literals = claim_literals(ns, claim.targets.get());
  if (is_empty(literals.get())) return nothing_to_check();
  MentionTest mention = MentionTest::done(claim_is_mention(ns, claim));
  LogEvidence evidence(ns, args[1]);
  return judge_literals(ns, claim, mention, literals.get(), evidence);
}

}  // namespace

const FunctionSpec kVerifySpec = {
    Name::verify,
    2,
    {{"claim", ArgType::Dict, "dict"}, {"L", ArgType::Dict, "dict"}},
    "tuple[str, str]",
    "(verdict, evidence). verdict \u2208 verified | unverified | pre-existing | contradicted | "
    "unchecked.\n"
    "\n"
    "    Sources by strength: what the agent WROTE (write payloads), what it RAN (commands + exit "
    "code),\n"
    "    what it SAW (tool outputs). \"pre-existing\" fires only for a path/key literal in an "
    "additive claim\n"
    "    that appears in read output and in no write and no command \u2014 the agent took credit "
    "for it.",
    verify,
};

}  // namespace pm

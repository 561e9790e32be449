// verify: one Claim against one RunLog, answered as (verdict, evidence).
#include "engine/verify.hpp"

#include "engine/chain.hpp"
#include "engine/claim.hpp"
#include "engine/facts.hpp"
#include "engine/mention.hpp"
#include "engine/pools.hpp"
#include "engine/values.hpp"
#include "engine/verdict.hpp"
#include "engine/walk.hpp"

namespace pm {
namespace {

const StaticStr kUnchecked("unchecked"), kNothingLiteral("nothing literal to check");

// Reads the claim, then the RunLog only when there is a literal to look for.
Ref verify(const Context& ns, PyObject* const* args) {
  PyObject* run_log = args[1];
  Claim claim = read_claim(args[0]);
  Ref literals = claim_literals(ns, claim.targets.get());
  if (is_empty(literals.get())) return answer(kUnchecked, kNothingLiteral.get());
  Ref bare = blank_backquoted(ns, claim.text.get());
  bool mention = is_mention(ns, claim.kind.get(), bare.get());
  Pools pools = gather_pools(ns, run_log);
  Findings findings = empty_findings();
  // Normal forms and the home directory, made at most once in this call.
  MatchSession session(ns);
  walk(literals.get(), [&](PyObject* a) {
    Ref k = ns.call(Name::_kind_of, a);
    Facts facts = gather_facts(ns, session, run_log, pools, a, k.get());
    file_literal(ns, session, run_log, claim, pools, a, k.get(), facts, findings);
  });
  return compose_verdict(ns, claim, mention, findings);
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

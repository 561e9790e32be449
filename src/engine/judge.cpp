// One claim judged from its literals: each is filed by the decision chain, then
// the four lists make the verdict.
#include "engine/judge.hpp"

#include "engine/chain.hpp"
#include "engine/verdict.hpp"
#include "engine/walk.hpp"

namespace pm {
namespace {

const StaticStr kUnchecked("unchecked"), kNothingLiteral("nothing literal to check");

}  // namespace

Ref nothing_to_check() { return answer(kUnchecked, kNothingLiteral.get()); }

Ref judge_literals(const Context& ns, const Claim& claim, MentionTest is_mention,
                   PyObject* literals, Evidence& evidence) {
  Findings findings = empty_findings();
  walk(literals, [&](PyObject* a) {
    Ref k = ns.call(Name::_kind_of, a);
    Facts facts = evidence.facts(a, k.get());
    file_literal(ns, evidence, claim, a, k.get(), facts, findings);
  });
  return compose_verdict(ns, claim, is_mention, findings);
}

}  // namespace pm

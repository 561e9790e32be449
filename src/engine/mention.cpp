// Back-quoted spans never keep a claim from being a mention: they are blanked first.
#include "engine/mention.hpp"

#include "analysis/inline_re.hpp"
#include "analysis/patterns.hpp"
#include "engine/values.hpp"

namespace pm {
namespace {

const StaticStr kBackquotedSpan("`[^`]*`"), kSpace(" ");

bool is_loose_kind(PyObject* kind) {
  return equals(kind, word::kOther) || equals(kind, word::kExternalAction) ||
         equals(kind, word::kMention);
}

}  // namespace

Ref blank_backquoted(const Context& ns, PyObject* text) {
  return re_sub(ns, kBackquotedSpan, kSpace, text, twin::blank_backtick_spans);
}

bool is_mention(const Context& ns, PyObject* kind, PyObject* bare) {
  return is_loose_kind(kind) && !pattern_search(ns, Name::WORK_VERB_RE, bare) &&
         !pattern_search(ns, Name::PREDICATE_RE, bare);
}

bool claim_is_mention(const Context& ns, const Claim& claim) {
  Ref bare = blank_backquoted(ns, claim.text.get());
  return is_mention(ns, claim.kind.get(), bare.get());
}

bool MentionTest::operator()() {
  if (claim_) {
    value_ = claim_is_mention(*ns_, *claim_);
    claim_ = nullptr;
  }
  return value_;
}

}  // namespace pm

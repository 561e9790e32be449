// Back-quoted spans never keep a claim from being a mention: they are blanked first.
#include "engine/mention.hpp"

#include "analysis/patterns.hpp"
#include "engine/values.hpp"

namespace pm {
namespace {

const StaticStr kSub("sub"), kBackquotedSpan("`[^`]*`"), kSpace(" ");

bool is_loose_kind(PyObject* kind) {
  return equals(kind, word::kOther) || equals(kind, word::kExternalAction) ||
         equals(kind, word::kMention);
}

}  // namespace

Ref blank_backquoted(const Context& ns, PyObject* text) {
  Ref re = ns.lookup(Name::re);
  Ref sub = getattr(re.get(), kSub);
  return call(sub.get(), kBackquotedSpan.get(), kSpace.get(), text);
}

bool is_mention(const Context& ns, PyObject* kind, PyObject* bare) {
  return is_loose_kind(kind) && !pattern_search(ns, Name::WORK_VERB_RE, bare) &&
         !pattern_search(ns, Name::PREDICATE_RE, bare);
}

}  // namespace pm

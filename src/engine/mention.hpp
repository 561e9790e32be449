// The mention test: a loose claim whose own wording claims no work.
#pragma once

#include "binding/context.hpp"
#include "engine/claim.hpp"

namespace pm {

// The claim text with every back-quoted span replaced by one space.
Ref blank_backquoted(const Context& ns, PyObject* text);

// For the kinds "other", "external_action" and "mention": neither WORK_VERB_RE
// nor PREDICATE_RE finds anything in `bare`.
bool is_mention(const Context& ns, PyObject* kind, PyObject* bare);

// The mention test of a claim, as the verdict asks it: done at once, in verify's
// order (its failures come before any of the RunLog's), or left until the verdict
// needs it, where it cannot fail and most claims never reach it.
class MentionTest {
 public:
  static MentionTest done(bool value) { return MentionTest(nullptr, nullptr, value); }
  static MentionTest deferred(const Context& ns, const Claim& claim) {
    return MentionTest(&ns, &claim, false);
  }

  bool operator()();

 private:
  MentionTest(const Context* ns, const Claim* claim, bool value)
      : ns_(ns), claim_(claim), value_(value) {}

  const Context* ns_;
  const Claim* claim_;  // none once the test is done
  bool value_;
};

// The mention test on the claim's own wording, back-quoted spans blanked.
bool claim_is_mention(const Context& ns, const Claim& claim);

}  // namespace pm

// The mention test: a loose claim whose own wording claims no work.
#pragma once

#include "binding/context.hpp"

namespace pm {

// The claim text with every back-quoted span replaced by one space.
Ref blank_backquoted(const Context& ns, PyObject* text);

// For the kinds "other", "external_action" and "mention": neither WORK_VERB_RE
// nor PREDICATE_RE finds anything in `bare`.
bool is_mention(const Context& ns, PyObject* kind, PyObject* bare);

}  // namespace pm

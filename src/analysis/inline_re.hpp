// Inline patterns go through the namespace's `re` with their pattern text, so that
// rebinding `re` reaches them and `re`'s own cache keeps them compiled.
#pragma once

#include "binding/context.hpp"

namespace pm {

// `re.sub(pattern, repl, s)`
Ref re_sub(const Context& ns, const StaticStr& pattern, const StaticStr& repl, PyObject* s);
// `re.sub(pattern, repl, s, flags=re.I)`
Ref re_sub_ignore_case(const Context& ns, const StaticStr& pattern, const StaticStr& repl,
                       PyObject* s);
// Truth of `re.search(pattern, s)`
bool re_search(const Context& ns, const StaticStr& pattern, PyObject* s);
// Truth of `re.fullmatch(pattern, s)`
bool re_fullmatch(const Context& ns, const StaticStr& pattern, PyObject* s);
// `re.split(pattern, s)`
Ref re_split(const Context& ns, const StaticStr& pattern, PyObject* s);

}  // namespace pm

// Inline patterns go through the namespace's `re` with their pattern text, so that
// rebinding `re` reaches them and `re`'s own cache keeps them compiled. Each
// call names the native twin that stands in while `re` and its function are
// the originals and the subject is an exact str.
#pragma once

#include "analysis/twins.hpp"
#include "binding/context.hpp"

namespace pm {

// `re.sub(pattern, repl, s)`
Ref re_sub(const Context& ns, const StaticStr& pattern, const StaticStr& repl, PyObject* s,
           NativeRewrite twin);
// `re.sub(pattern, repl, s, flags=re.I)`
Ref re_sub_ignore_case(const Context& ns, const StaticStr& pattern, const StaticStr& repl,
                       PyObject* s, NativeRewrite twin);
// Truth of `re.search(pattern, s)`
bool re_search(const Context& ns, const StaticStr& pattern, PyObject* s, NativeTest twin);
// Truth of `re.fullmatch(pattern, s)`
bool re_fullmatch(const Context& ns, const StaticStr& pattern, PyObject* s, NativeTest twin);
// `re.split(pattern, s)`
Ref re_split(const Context& ns, const StaticStr& pattern, PyObject* s, NativeRewrite twin);

// The native twin of `re.<member>` may stand in for a call on `s`.
bool twin_applies(const Context& ns, Member member, PyObject* s);

}  // namespace pm

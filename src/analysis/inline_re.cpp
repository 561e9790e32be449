// Calls into the namespace's `re`, which is looked up afresh at every use.
#include "analysis/inline_re.hpp"

namespace pm {
namespace {

const StaticStr kSub("sub"), kSearch("search"), kFullmatch("fullmatch"), kSplit("split"), kIgnoreCase("I"),
    kFlags("flags");

}  // namespace

bool twin_applies(const Context& ns, Member member, PyObject* s) {
  return PyUnicode_CheckExact(s) && ns.member_still_original(member);
}

Ref re_sub(const Context& ns, const StaticStr& pattern, const StaticStr& repl, PyObject* s,
           NativeRewrite twin) {
  if (twin_applies(ns, Member::re_sub, s)) return twin(s);
  Ref re = ns.lookup(Name::re);
  return call_method(re.get(), kSub, pattern.get(), repl.get(), s);
}

Ref re_sub_ignore_case(const Context& ns, const StaticStr& pattern, const StaticStr& repl,
                       PyObject* s, NativeRewrite twin) {
  if (twin_applies(ns, Member::re_sub, s) && ns.member_still_original(Member::re_I)) {
    return twin(s);
  }
  // Two lookups of `re`, in the order `re.sub(..., flags=re.I)` makes them.
  Ref sub = getattr(ns.lookup(Name::re).get(), kSub);
  Ref flags = getattr(ns.lookup(Name::re).get(), kIgnoreCase);
  Ref kwnames = require(PyTuple_Pack(1, kFlags.get()));
  PyObject* argv[] = {nullptr, pattern.get(), repl.get(), s, flags.get()};
  return require(PyObject_Vectorcall(sub.get(), argv + 1, 3 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                     kwnames.get()));
}

bool re_search(const Context& ns, const StaticStr& pattern, PyObject* s, NativeTest twin) {
  if (twin_applies(ns, Member::re_search, s)) return twin(view_of(s));
  Ref re = ns.lookup(Name::re);
  Ref m = call_method(re.get(), kSearch, pattern.get(), s);
  return truthy(m.get());
}

bool re_fullmatch(const Context& ns, const StaticStr& pattern, PyObject* s, NativeTest twin) {
  if (twin_applies(ns, Member::re_fullmatch, s)) return twin(view_of(s));
  Ref re = ns.lookup(Name::re);
  Ref m = call_method(re.get(), kFullmatch, pattern.get(), s);
  return truthy(m.get());
}

Ref re_split(const Context& ns, const StaticStr& pattern, PyObject* s, NativeRewrite twin) {
  if (twin_applies(ns, Member::re_split, s)) return twin(s);
  Ref re = ns.lookup(Name::re);
  return call_method(re.get(), kSplit, pattern.get(), s);
}

}  // namespace pm

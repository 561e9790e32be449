// Calls into the namespace's `re`, which is looked up afresh at every use.
#include "analysis/inline_re.hpp"

namespace pm {
namespace {

const StaticStr kSub("sub"), kSearch("search"), kFullmatch("fullmatch"), kSplit("split"), kIgnoreCase("I"),
    kFlags("flags");

}  // namespace

Ref re_sub(const Context& ns, const StaticStr& pattern, const StaticStr& repl, PyObject* s) {
  Ref re = ns.lookup(Name::re);
  return call_method(re.get(), kSub, pattern.get(), repl.get(), s);
}

Ref re_sub_ignore_case(const Context& ns, const StaticStr& pattern, const StaticStr& repl,
                       PyObject* s) {
  // Two lookups of `re`, in the order `re.sub(..., flags=re.I)` makes them.
  Ref sub = getattr(ns.lookup(Name::re).get(), kSub);
  Ref flags = getattr(ns.lookup(Name::re).get(), kIgnoreCase);
  Ref kwnames = require(PyTuple_Pack(1, kFlags.get()));
  PyObject* argv[] = {nullptr, pattern.get(), repl.get(), s, flags.get()};
  return require(PyObject_Vectorcall(sub.get(), argv + 1, 3 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                     kwnames.get()));
}

bool re_search(const Context& ns, const StaticStr& pattern, PyObject* s) {
  Ref re = ns.lookup(Name::re);
  Ref m = call_method(re.get(), kSearch, pattern.get(), s);
  return truthy(m.get());
}

bool re_fullmatch(const Context& ns, const StaticStr& pattern, PyObject* s) {
  Ref re = ns.lookup(Name::re);
  Ref m = call_method(re.get(), kFullmatch, pattern.get(), s);
  return truthy(m.get());
}

Ref re_split(const Context& ns, const StaticStr& pattern, PyObject* s) {
  Ref re = ns.lookup(Name::re);
  return call_method(re.get(), kSplit, pattern.get(), s);
}

}  // namespace pm

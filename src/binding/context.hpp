// The module namespace as the functions see it: every name is read at the moment of use.
#pragma once

#include "binding/names.hpp"
#include "binding/ref.hpp"

namespace pm {

// Functions of the original `re` and `Path` that the Python-level path calls;
// a native twin stands in for one only while it is still the original.
// `json.dumps` is watched too: the turn engine serialises external actions once
// per turn, where verify does it once per call.
enum class Member : int {
  re_sub, re_search, re_match, re_fullmatch, re_split, re_I, Path_home, json_dumps
};
inline constexpr int kMemberCount = static_cast<int>(Member::json_dumps) + 1;

// Owned by every function object of the module. Besides the namespace it keeps
// the objects that start-up bound, so that a fast path can tell whether a name
// still holds its original value.
struct Context {
  PyObject_HEAD
  PyObject* dict;
  PyObject* builtins;  // the dict of the interpreter's builtins module
  PyObject* originals[kNameCount];
  PyObject* member_originals[kMemberCount];

  // The value bound to `n` now: the namespace first, then the builtins, else NameError.
  Ref lookup(Name n) const;
  bool is_original(PyObject* obj, Name n) const {
    return obj == originals[static_cast<int>(n)];
  }
  // True when `n` is still bound to what start-up bound.
  bool still_original(Name n) const;
  void record_original(Name n, PyObject* obj);

  // True when `re` or `Path` is still the original and so is its member `m`
  // (for a class method: the same function bound to the same class).
  bool member_still_original(Member m) const;
  // Records the members now bound on the original `re`, `Path` and `json`.
  void record_members();
  // Every name and every member is still what start-up bound.
  bool everything_original() const;

  // `n(args...)`, through whatever `n` is bound to now.
  template <class... A>
  Ref call(Name n, A... args) const {
    Ref f = lookup(n);
    return pm::call(f.get(), args...);
  }
};

// A new context over a module's namespace dict, falling back to `builtins_module`.
Ref make_context(PyObject* module_dict, PyObject* builtins_module);

// The context of the verify module is also kept in the interpreter's own dict,
// out of reach of Python code, for the turn engine: another extension module,
// which checks claims by the same namespace. Publishing never fails the caller.
void publish_context(PyObject* ctx);
// The published context (borrowed), or nullptr when none of this layout is.
Context* published_context();

}  // namespace pm

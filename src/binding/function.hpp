// The module's own function type: exact argument binding, then a C++ body.
#pragma once

#include "binding/context.hpp"

namespace pm {

enum class ArgType { Str, List, Dict };

struct Param {
  const char* name;
  ArgType type;
  const char* annotation;
};

// A body receives its arguments bound and type-checked, in parameter order.
// It returns a new reference, or throws PyErrorSet with a Python error set.
using Body = Ref (*)(const Context& ns, PyObject* const* args);

struct FunctionSpec {
  Name name;
  int nparams;
  Param params[2];
  const char* returns;
  const char* doc;  // nullptr: no docstring
  Body body;
};

// A new function object of the module, bound to the namespace `ns`.
Ref make_function(const FunctionSpec& spec, PyObject* ns);

}  // namespace pm

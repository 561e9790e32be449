// The module-level phrase patterns, READ_TOOLS, and the additive-verb test.
#pragma once

#include "binding/function.hpp"

namespace pm {

struct PatternDef {
  Name name;
  const char* text;
  bool ignore_case;
};

// Compiled at start-up in this order, before the functions.
extern const PatternDef kModulePatterns[6];
// Compiled after the functions.
extern const PatternDef kPredicatePattern;

// A new set of the read-only tool names.
Ref make_read_tools();

extern const FunctionSpec kAdditiveSpec;

// Truth of `<pattern bound to n>.search(subject)` / `.match(subject)`.
bool pattern_search(const Context& ns, Name n, PyObject* subject);
bool pattern_match(const Context& ns, Name n, PyObject* subject);

}  // namespace pm

// The normal form of a text, and the variant forms of a literal: _norm, _variants.
#pragma once

#include "binding/function.hpp"

namespace pm {

extern const FunctionSpec kNormSpec;
extern const FunctionSpec kVariantsSpec;

// str(Path.home()), through the namespace's Path. _norm asks it anew on every
// call: the home directory may change between calls, and its failure must reach
// every normalisation.
Ref home_dir(const Context& ns);

}  // namespace pm

// The normal form of a text, and the variant forms of a literal: _norm, _variants.
#pragma once

#include "binding/function.hpp"

namespace pm {

extern const FunctionSpec kNormSpec;
extern const FunctionSpec kVariantsSpec;

}  // namespace pm

// Literal extraction and classification: _clean, _atoms, _kind_of.
#pragma once

#include "binding/function.hpp"

namespace pm {

extern const FunctionSpec kCleanSpec;
extern const FunctionSpec kAtomsSpec;
extern const FunctionSpec kKindOfSpec;

}  // namespace pm

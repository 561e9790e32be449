// Containment tests of a literal in a pool of texts: _in, _tokens, _words_in.
#pragma once

#include "binding/function.hpp"

namespace pm {

extern const FunctionSpec kInSpec;
extern const FunctionSpec kTokensSpec;
extern const FunctionSpec kWordsInSpec;

}  // namespace pm

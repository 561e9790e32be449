// verify: one Claim against one RunLog, answered as (verdict, evidence).
#pragma once

#include "binding/function.hpp"

namespace pm {

extern const FunctionSpec kVerifySpec;

}  // namespace pm

// verify: one Claim against one RunLog, answered as (verdict, evidence).
#include "engine/verify.hpp"

namespace pm {
namespace {

Ref verify(const Context&, PyObject* const*) {
  PyErr_SetString(PyExc_NotImplementedError, "verify");
  throw PyErrorSet{};
}

}  // namespace

const FunctionSpec kVerifySpec = {
    Name::verify,
    2,
    {{"claim", ArgType::Dict, "dict"}, {"L", ArgType::Dict, "dict"}},
    "tuple[str, str]",
    "(verdict, evidence). verdict \u2208 verified | unverified | pre-existing | contradicted | "
    "unchecked.\n"
    "\n"
    "    Sources by strength: what the agent WROTE (write payloads), what it RAN (commands + exit "
    "code),\n"
    "    what it SAW (tool outputs). \"pre-existing\" fires only for a path/key literal in an "
    "additive claim\n"
    "    that appears in read output and in no write and no command \u2014 the agent took credit "
    "for it.",
    verify,
};

}  // namespace pm

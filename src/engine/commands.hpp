// Command records: the successful-exit rule and the evidence drawn from
// "commands" only when the decision chain asks for it.
#pragma once

#include "binding/context.hpp"

namespace pm {

// The exit code equals None, 0 or "0", tried in that order with `==`.
bool exit_ok(PyObject* exit_code);

// record["exit_code"] is a successful exit.
bool ran_ok(PyObject* record);

// The "command" of every record with a successful exit, in log order.
Ref successful_command_texts(PyObject* run_log);

// Some grep, rg or find command printed nothing but whitespace.
bool empty_search(const Context& ns, PyObject* run_log);

}  // namespace pm

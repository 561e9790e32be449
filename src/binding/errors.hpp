// Small helpers for the exception that is pending in the interpreter.
#pragma once

#include "binding/ref.hpp"

namespace pm {

// Adds a traceback entry named `where` to the pending exception.
void add_traceback_entry(const char* where, const char* filename, int line, PyObject* globals);

}  // namespace pm

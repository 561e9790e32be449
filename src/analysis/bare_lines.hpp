// Command lines as the command-identity rule looks into them before parsing: case
// folded, without quotes, backslashes and slashes.
#pragma once

#include "binding/ref.hpp"

namespace pm {

// [line.casefold() without ' " \ and /, for line in lines]; a null Ref, with no error
// set, when a line is not an exact str (its own casefold is left to Python).
Ref bare_lines(PyObject* lines);

}  // namespace pm

// Command lines read as the product rules read them: the parts between the shell's
// operators, each the words from its program on.
#pragma once

#include "binding/ref.hpp"

namespace pm {

// The parts of `line`, a tuple of tuples of normalised words with the program first;
// a null Ref, with no error set, for a line left to the Python reader: one that is
// not an ASCII str.
Ref command_parts(PyObject* line);

// The same parts by program: {program: [words after it, ...]}, in order; a null Ref as
// for command_parts.
Ref command_programs(PyObject* line);

}  // namespace pm

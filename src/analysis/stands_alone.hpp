// Whether a word stands alone in a command line: between spaces, operators or the
// line's ends (or after a dot), as the command-identity rule looks before parsing.
#pragma once

#include "binding/ref.hpp"

namespace pm {

// The indices, among `candidates` (an iterable of int, in order), of the lines in
// `lines` (a list of str) that hold `word` standing alone; for a word that is empty or
// holds an operator, those that hold it at all. IndexError for an index out of range,
// TypeError for a line that is not a str.
Ref lines_holding(PyObject* word, PyObject* lines, PyObject* candidates);

}  // namespace pm

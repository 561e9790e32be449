// The lines of a turn indexed by the ends of their words, for looking up the lines
// that may hold a word without reading every line for every word looked up.
#pragma once

#include "binding/ref.hpp"

namespace pm {

// {end: [index, ...]} over `lines`, a list of str: for every word of a line (split at
// whitespace and `;&|()`), its last piece after a dot, or the word when it has none,
// and its last two pieces when the one before the last is not empty; each line's
// index once per end, in order. TypeError for a list that is not all str.
Ref word_ends_index(PyObject* lines);

}  // namespace pm

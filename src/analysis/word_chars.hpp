// The characters that end a word of a command line (whitespace and the shell's
// operators), and those that may begin one (those, and the dot of a `./`).
#pragma once

#include "binding/ref.hpp"

namespace pm {

inline bool ends_word(Py_UCS4 c) {
  switch (c) {
    case ' ': case '\t': case '\r': case '\n': case '\v': case '\f':
    case ';': case '&': case '|': case '(': case ')':
      return true;
    default:
      return false;
  }
}

inline bool begins_word(Py_UCS4 c) { return c == '.' || ends_word(c); }

}  // namespace pm

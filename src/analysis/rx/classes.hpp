// The character classes of `re` for str patterns, from the interpreter's own
// predicates, and how `re.I` compares a text character with a pattern letter.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace pm::rx {

// \w: str.isalnum() or the underscore.
inline bool is_word(Py_UCS4 c) {
  if (c < 128) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_';
  }
  return Py_UNICODE_ISALNUM(c);
}

// \d: str.isdecimal(), digits of every script.
inline bool is_digit(Py_UCS4 c) {
  if (c < 128) return c >= '0' && c <= '9';
  return Py_UNICODE_ISDECIMAL(c);
}

// \s: str.isspace(), which also holds for U+001C to U+001F and U+0085.
inline bool is_space(Py_UCS4 c) { return Py_UNICODE_ISSPACE(c); }

inline bool is_ascii_lower(Py_UCS4 c) { return c >= 'a' && c <= 'z'; }

// Under re.I a pattern letter matches every character whose simple lower-case
// form is that letter; `i` and `s` also match the dotless i (U+0131) and the
// long s (U+017F), which `re` adds as extra cases. `letter` is an ASCII
// lower-case letter.
inline bool fold_eq(Py_UCS4 c, char letter) {
  if (c < 128) return (c | 0x20) == static_cast<Py_UCS4>(letter);
  Py_UCS4 lower = Py_UNICODE_TOLOWER(c);
  if (lower == static_cast<Py_UCS4>(letter)) return true;
  return (letter == 'i' && lower == 0x131) || (letter == 's' && lower == 0x17F);
}

// A pattern character under re.I: letters fold, everything else is exact.
inline bool fold_char_eq(Py_UCS4 c, char pattern_char) {
  if (is_ascii_lower(static_cast<Py_UCS4>(pattern_char))) return fold_eq(c, pattern_char);
  return c == static_cast<Py_UCS4>(static_cast<unsigned char>(pattern_char));
}

}  // namespace pm::rx

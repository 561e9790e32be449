// Matchers for the number patterns: NUM_RE, the "x" after a final digit, the
// unit after a number, a letter before a leading digit, and approximate marks.
#pragma once

#include "analysis/rx/scan.hpp"

namespace pm::rx {

// NUM_RE.match(t) succeeds: ^[\d,]+(?:\.\d+)?$
template <class Ch>
bool num_match(Chars<Ch> t) {
  Py_ssize_t i = 0;
  while (i < t.n && (is_digit(t[i]) || t[i] == ',')) ++i;
  if (i == 0) return false;
  if (i < t.n && t[i] == '.') {
    Py_ssize_t j = i + 1;
    while (j < t.n && is_digit(t[j])) ++j;
    if (j > i + 1 && at_dollar(t, j)) return true;
  }
  return at_dollar(t, i);
}

// Position of the "x" that re.sub(r"(?<=\d)x$", "", t) removes, or -1.
template <class Ch>
Py_ssize_t final_x_after_digit(Chars<Ch> t) {
  Py_ssize_t x = dollar_end(t) - 1;
  if (x >= 1 && t[x] == 'x' && is_digit(t[x - 1])) return x;
  return -1;
}

// How many leading characters re.sub(r"^(?=\d)|^[a-z](?=\d)", "", t) removes:
// one ASCII lower-case letter directly before a digit, else none.
template <class Ch>
Py_ssize_t letter_before_digit(Chars<Ch> t) {
  return t.n >= 2 && is_ascii_lower(t[0]) && is_digit(t[1]) ? 1 : 0;
}

// re.sub(r"^([\d.,]+)\s*(px|fps|ms|s|%|mb|gb|kb|bytes?|chars?|rows?|layers?)$", r"\1", t,
// flags=re.I): when it matches, the number run ends at *number_end and the text
// after the unit starts at *rest; the result is t[:number_end] + t[rest:].
template <class Ch>
bool number_with_unit(Chars<Ch> t, Py_ssize_t* number_end, Py_ssize_t* rest) {
  static constexpr std::string_view kUnits[] = {
      "px", "fps", "ms", "s", "%", "mb", "gb", "kb", "bytes", "byte", "chars", "char",
      "rows", "row", "layers", "layer",
  };
  Py_ssize_t i = 0;
  while (i < t.n && (is_digit(t[i]) || t[i] == '.' || t[i] == ',')) ++i;
  if (i == 0) return false;
  Py_ssize_t u = i;
  while (u < t.n && is_space(t[u])) ++u;
  Py_ssize_t end = dollar_end(t);
  for (std::string_view unit : kUnits) {
    if (end - u == static_cast<Py_ssize_t>(unit.size()) && literal_at(t, u, unit, true)) {
      *number_end = i;
      *rest = end;
      return true;
    }
  }
  return false;
}

// The "≈" or "~" at `i` is deleted by re.sub(r"[≈~](?=\s*\d)", "", t).
template <class Ch>
bool approx_mark_at(Chars<Ch> t, Py_ssize_t i) {
  if (t[i] != '~' && t[i] != 0x2248) return false;
  Py_ssize_t j = i + 1;
  while (j < t.n && is_space(t[j])) ++j;
  return j < t.n && is_digit(t[j]);
}

}  // namespace pm::rx

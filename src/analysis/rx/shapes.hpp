// Matchers for the shape of a literal: key = value, a line-number suffix, a
// file extension, and the separators that make a target composite.
#pragma once

#include "analysis/rx/scan.hpp"

namespace pm::rx {

// re.fullmatch(r"[\w.-]+\s*=\s*.+", t) succeeds.
template <class Ch>
bool key_value_fullmatch(Chars<Ch> t) {
  Py_ssize_t i = 0;
  while (i < t.n && (is_word(t[i]) || t[i] == '.' || t[i] == '-')) ++i;
  if (i == 0) return false;
  while (i < t.n && is_space(t[i])) ++i;
  if (i == t.n || t[i] != '=') return false;
  // \s*.+ : whitespace may swallow newlines, `.` may not; so the value is
  // whitespace up to the last newline, then at least one more character.
  Py_ssize_t last_newline = i;
  for (Py_ssize_t j = i + 1; j < t.n; ++j) {
    if (t[j] == '\n') last_newline = j;
  }
  for (Py_ssize_t j = i + 1; j < last_newline; ++j) {
    if (!is_space(t[j])) return false;
  }
  return last_newline + 1 < t.n;
}

// re.sub(r"(\.\w{1,5}):\d+(?:-\d+)?$", r"\1", t): when it matches, the
// characters [*from, *to) go (the colon and the line numbers).
template <class Ch>
bool line_suffix(Chars<Ch> t, Py_ssize_t* from, Py_ssize_t* to) {
  Py_ssize_t end = dollar_end(t);
  Py_ssize_t digits = digit_run_start(t, end);
  if (digits == end) return false;
  if (digits > 0 && t[digits - 1] == '-') {
    Py_ssize_t first = digit_run_start(t, digits - 1);
    if (first == digits - 1) return false;
    digits = first;
  }
  Py_ssize_t colon = digits - 1;
  if (colon < 0 || t[colon] != ':') return false;
  Py_ssize_t word = word_run_start(t, colon);
  if (colon - word < 1 || colon - word > 5 || word == 0 || t[word - 1] != '.') return false;
  *from = colon;
  *to = end;
  return true;
}

// re.search(r"\.[a-z]{1,5}$", t) finds a match.
template <class Ch>
bool extension_search(Chars<Ch> t) {
  Py_ssize_t end = dollar_end(t);
  Py_ssize_t i = end;
  while (i > 0 && is_ascii_lower(t[i - 1])) --i;
  return end - i >= 1 && end - i <= 5 && i > 0 && t[i - 1] == '.';
}

// re.search(r"→|->| / |,| and |\.\.", t) finds a match.
template <class Ch>
bool composite_search(Chars<Ch> t) {
  for (Py_ssize_t i = 0; i < t.n; ++i) {
    switch (t[i]) {
      case 0x2192:
      case ',':
        return true;
      case '-':
        if (literal_at(t, i, "->", false)) return true;
        break;
      case '.':
        if (literal_at(t, i, "..", false)) return true;
        break;
      case ' ':
        if (literal_at(t, i, " / ", false) || literal_at(t, i, " and ", false)) return true;
        break;
      default:
        break;
    }
  }
  return false;
}

// Length of the separator of r"\s*(?:→|->|/|,|;|\band\b|\.\.|\bthen\b)\s*" that
// starts, after the whitespace, at `i`, or 0.
template <class Ch>
Py_ssize_t atom_separator_at(Chars<Ch> t, Py_ssize_t i) {
  if (i >= t.n) return 0;
  switch (t[i]) {
    case 0x2192:
    case '/':
    case ',':
    case ';':
      return 1;
    case '-':
      return literal_at(t, i, "->", false) ? 2 : 0;
    case '.':
      return literal_at(t, i, "..", false) ? 2 : 0;
    default:
      break;
  }
  for (std::string_view w : {std::string_view("and"), std::string_view("then")}) {
    Py_ssize_t e = i + static_cast<Py_ssize_t>(w.size());
    if (!word_before(t, i) && literal_at(t, i, w, false) && !word_after(t, e)) return e - i;
  }
  return 0;
}

// The pieces of re.split(r"\s*(?:→|->|/|,|;|\band\b|\.\.|\bthen\b)\s*", t), as
// f(start, end) calls in order; empty pieces included.
template <class Ch, class F>
void split_atoms(Chars<Ch> t, F&& f) {
  Py_ssize_t piece = 0;
  Py_ssize_t i = 0;
  while (i < t.n) {
    Py_ssize_t sep = i;
    while (sep < t.n && is_space(t[sep])) ++sep;
    Py_ssize_t len = atom_separator_at(t, sep);
    if (len == 0) {
      // No match can start inside this whitespace run, nor at its end.
      i = sep > i ? sep : i + 1;
      continue;
    }
    Py_ssize_t end = sep + len;
    while (end < t.n && is_space(t[end])) ++end;
    f(piece, i);
    piece = i = end;
  }
  f(piece, t.n);
}

}  // namespace pm::rx

// Positions and literals as `re` sees them: word boundaries, the two places
// where `$` holds, and pattern literals matched exactly or under re.I.
#pragma once

#include <string_view>

#include "analysis/rx/classes.hpp"
#include "analysis/text.hpp"

namespace pm::rx {

template <class Ch>
bool word_before(Chars<Ch> t, Py_ssize_t i) {
  return i > 0 && is_word(t[i - 1]);
}

template <class Ch>
bool word_after(Chars<Ch> t, Py_ssize_t i) {
  return i < t.n && is_word(t[i]);
}

// \b: a word character on exactly one side (never inside an empty text).
template <class Ch>
bool boundary(Chars<Ch> t, Py_ssize_t i) {
  return word_before(t, i) != word_after(t, i);
}

// `$` without MULTILINE: at the end, or just before a newline that ends the text.
template <class Ch>
bool at_dollar(Chars<Ch> t, Py_ssize_t i) {
  return i == t.n || (i == t.n - 1 && t[i] == '\n');
}

// Where a pattern that must end at `$` ends: before a final newline, if any.
// (Every pattern that uses it ends in a character that is not a newline.)
template <class Ch>
Py_ssize_t dollar_end(Chars<Ch> t) {
  return t.n > 0 && t[t.n - 1] == '\n' ? t.n - 1 : t.n;
}

// The pattern literal `lit` (ASCII) stands at `at`, character by character,
// exactly or under re.I.
template <class Ch>
bool literal_at(Chars<Ch> t, Py_ssize_t at, std::string_view lit, bool ignore_case) {
  if (at < 0 || t.n - at < static_cast<Py_ssize_t>(lit.size())) return false;
  for (size_t k = 0; k < lit.size(); ++k) {
    Py_UCS4 c = t[at + static_cast<Py_ssize_t>(k)];
    if (ignore_case ? !fold_char_eq(c, lit[k])
                    : c != static_cast<Py_UCS4>(static_cast<unsigned char>(lit[k]))) {
      return false;
    }
  }
  return true;
}

// End of the run of word characters that starts at `i`.
template <class Ch>
Py_ssize_t word_run_end(Chars<Ch> t, Py_ssize_t i) {
  while (i < t.n && is_word(t[i])) ++i;
  return i;
}

// Start of the run of word characters that ends at `i`.
template <class Ch>
Py_ssize_t word_run_start(Chars<Ch> t, Py_ssize_t i) {
  while (i > 0 && is_word(t[i - 1])) --i;
  return i;
}

template <class Ch>
Py_ssize_t space_run_start(Chars<Ch> t, Py_ssize_t i) {
  while (i > 0 && is_space(t[i - 1])) --i;
  return i;
}

template <class Ch>
Py_ssize_t digit_run_start(Chars<Ch> t, Py_ssize_t i) {
  while (i > 0 && is_digit(t[i - 1])) --i;
  return i;
}

// Calls f(start, end) for every maximal run of word characters, left to right,
// until f returns true; returns whether it did.
template <class Ch, class F>
bool any_word_run(Chars<Ch> t, F&& f) {
  Py_ssize_t i = 0;
  while (i < t.n) {
    if (!is_word(t[i])) {
      ++i;
      continue;
    }
    Py_ssize_t end = word_run_end(t, i);
    if (f(i, end)) return true;
    i = end;
  }
  return false;
}

// The word run [from, to) is one of `words`, exactly or under re.I.
template <class Ch, size_t N>
bool run_is_one_of(Chars<Ch> t, Py_ssize_t from, Py_ssize_t to,
                   const std::string_view (&words)[N], bool ignore_case) {
  for (std::string_view w : words) {
    if (static_cast<Py_ssize_t>(w.size()) == to - from && literal_at(t, from, w, ignore_case)) {
      return true;
    }
  }
  return false;
}

}  // namespace pm::rx

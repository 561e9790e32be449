// Rewrites of whitespace and quoting: re.sub(r"\s+", " ", t), the blanking of
// back-quoted spans, and the two strips (str.strip() and str.strip("`'\"")).
#pragma once

#include <vector>

#include "analysis/rx/scan.hpp"

namespace pm::rx {

// Appends re.sub(r"\s+", " ", t) to `out`.
template <class Ch, class Out>
void collapse_spaces(Chars<Ch> t, std::vector<Out>& out) {
  Py_ssize_t i = 0;
  while (i < t.n) {
    Py_UCS4 c = t[i];
    if (is_space(c)) {
      out.push_back(' ');
      while (++i < t.n && is_space(t[i])) {
      }
      continue;
    }
    out.push_back(static_cast<Out>(c));
    ++i;
  }
}

// Appends re.sub(r"`[^`]*`", " ", t) to `out`: every span from a back-quote to
// the next one becomes one space; an unpaired back-quote stays.
template <class Ch, class Out>
void blank_backtick_spans(Chars<Ch> t, std::vector<Out>& out) {
  Py_ssize_t i = 0;
  while (i < t.n) {
    if (t[i] == '`') {
      Py_ssize_t close = i + 1;
      while (close < t.n && t[close] != '`') ++close;
      if (close < t.n) {
        out.push_back(' ');
        i = close + 1;
        continue;
      }
    }
    out.push_back(static_cast<Out>(t[i]));
    ++i;
  }
}

// [from, to) of t.strip().
template <class Ch>
void strip_spaces(Chars<Ch> t, Py_ssize_t* from, Py_ssize_t* to) {
  Py_ssize_t a = 0, b = t.n;
  while (a < b && is_space(t[a])) ++a;
  while (b > a && is_space(t[b - 1])) --b;
  *from = a;
  *to = b;
}

inline bool is_quote(Py_UCS4 c) { return c == '`' || c == '\'' || c == '"'; }

// [from, to) of t.strip("`'\"").
template <class Ch>
void strip_quotes(Chars<Ch> t, Py_ssize_t* from, Py_ssize_t* to) {
  Py_ssize_t a = 0, b = t.n;
  while (a < b && is_quote(t[a])) ++a;
  while (b > a && is_quote(t[b - 1])) --b;
  *from = a;
  *to = b;
}

}  // namespace pm::rx

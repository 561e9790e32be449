// Matchers for the claim-wording patterns (all under re.I): EMPTY_RE,
// ADDITIVE_RE, NEGATED_RE and PREDICATE_RE, as the module uses them.
#pragma once

#include "analysis/rx/scan.hpp"

namespace pm::rx {

// EMPTY_RE.search(t) finds a match:
// \b(0 hits?|no (?:hits|matches|results)|nothing found|returns? (?:nothing|empty)|empty)\b
template <class Ch>
bool empty_search(Chars<Ch> t) {
  static constexpr std::string_view kPhrases[] = {
      "0 hits",          "0 hit",        "no hits",         "no matches",
      "no results",      "nothing found", "returns nothing", "returns empty",
      "return nothing",  "return empty",  "empty",
  };
  for (Py_ssize_t p = 0; p < t.n; ++p) {
    if (word_before(t, p)) continue;
    for (std::string_view phrase : kPhrases) {
      if (literal_at(t, p, phrase, true) &&
          !word_after(t, p + static_cast<Py_ssize_t>(phrase.size()))) {
        return true;
      }
    }
  }
  return false;
}

// Start of the first ADDITIVE_RE match at or after `from`, or -1; `end` gets
// its end, where finditer goes on.
// \b(add|added|adds|creat|new|introduc|set up|wrote|write|bump|enable|install)\w*
template <class Ch>
Py_ssize_t additive_next(Chars<Ch> t, Py_ssize_t from, Py_ssize_t* end) {
  // `added` and `adds` are reached through `add`: the \w* takes the rest.
  static constexpr std::string_view kStems[] = {
      "add", "creat", "new", "introduc", "set up", "wrote", "write", "bump", "enable", "install",
  };
  for (Py_ssize_t p = from; p < t.n; ++p) {
    if (word_before(t, p)) continue;
    for (std::string_view stem : kStems) {
      if (literal_at(t, p, stem, true)) {
        *end = word_run_end(t, p + static_cast<Py_ssize_t>(stem.size()));
        return p;
      }
    }
  }
  return -1;
}

// A negation word of NEGATED_RE ends at `e` and starts at a word boundary.
template <class Ch>
bool negation_ends_at(Chars<Ch> t, Py_ssize_t e) {
  static constexpr std::string_view kNegations[] = {
      "don't", "dont", "do not", "never", "not", "no", "without", "didn't", "didnt", "did not",
  };
  for (std::string_view w : kNegations) {
    Py_ssize_t p = e - static_cast<Py_ssize_t>(w.size());
    if (p >= 0 && !word_before(t, p) && literal_at(t, p, w, true)) return true;
  }
  return false;
}

// NEGATED_RE.search(t) finds a match:
// \b(don'?t|do not|never|not|no|without|didn'?t|did not)\s+(?:\w+\s+){0,2}$
// After the negation word the text must be whitespace, then at most two words
// each followed by whitespace, up to its end: read that tail from the end.
template <class Ch>
bool negated_search(Chars<Ch> t) {
  Py_ssize_t i = t.n;
  for (int words = 0;; ++words) {
    Py_ssize_t spaces = space_run_start(t, i);
    if (spaces == i) return false;
    if (negation_ends_at(t, spaces)) return true;
    if (words == 2) return false;
    Py_ssize_t word = word_run_start(t, spaces);
    if (word == spaces) return false;
    i = word;
  }
}

// PREDICATE_RE.search(t) finds a match: a whole word that is one of the verb
// forms, or that begins with `crash` or `match`.
template <class Ch>
bool predicate_search(Chars<Ch> t) {
  static constexpr std::string_view kVerbs[] = {
      "is",      "are",     "was",      "were",     "has",    "have",    "had",      "does",
      "did",     "do",      "show",     "shows",    "showed", "log",     "logs",     "logged",
      "return",  "returns", "returned", "throw",    "throws", "threw",   "work",     "works",
      "worked",  "equal",   "equals",   "read",     "reads",  "come",    "comes",    "came",
      "goes",    "went",    "get",      "gets",     "got",    "give",    "gives",    "gave",
      "contain", "contains", "include", "includes", "means",  "need",    "needs",    "take",
      "takes",   "took",    "use",      "uses",     "used",   "render",  "renders",  "report",
      "reports", "print",   "prints",   "says",     "said",   "look",    "looks",    "appear",
      "appears",
  };
  return any_word_run(t, [&](Py_ssize_t from, Py_ssize_t to) {
    return literal_at(t, from, "crash", true) || literal_at(t, from, "match", true) ||
           run_is_one_of(t, from, to, kVerbs, true);
  });
}

}  // namespace pm::rx

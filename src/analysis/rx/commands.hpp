// Matchers for the patterns that read commands and code (all case-sensitive):
// READ_CODE_RE, SHELL_WRITE_RE, the read-command prefix and the search command.
#pragma once

#include "analysis/rx/scan.hpp"

namespace pm::rx {

// READ_CODE_RE.search(t) finds a match:
// \b(read_file|search_files|grep|cat |ls |find |head|tail|sqlite3\.connect|select )
template <class Ch>
bool read_code_search(Chars<Ch> t) {
  static constexpr std::string_view kReads[] = {
      "read_file", "search_files", "grep", "cat ", "ls ", "find ", "head", "tail",
      "sqlite3.connect", "select ",
  };
  for (Py_ssize_t p = 0; p < t.n; ++p) {
    Py_UCS4 c = t[p];
    if (c > 't' || c < 'c' || word_before(t, p)) continue;
    for (std::string_view r : kReads) {
      if (literal_at(t, p, r, false)) return true;
    }
  }
  return false;
}

// SHELL_WRITE_RE.search(t) finds a match:
// \b(sed -i|tee|>>?|cp|scp|mv|rsync|ln|install|chmod|touch|mkdir|git (?:commit|push|mv|rm)|rm
//   |kill|pkill|systemctl|docker|pip|npm|apt)\b|<<
template <class Ch>
bool shell_write_search(Chars<Ch> t) {
  static constexpr std::string_view kWords[] = {
      "tee",   "cp",    "scp",   "mv",   "rsync", "ln",    "install", "chmod",
      "touch", "mkdir", "rm",    "kill", "pkill", "systemctl", "docker", "pip",
      "npm",   "apt",
  };
  static constexpr std::string_view kPhrases[] = {
      "sed -i", "git commit", "git push", "git mv", "git rm",
  };
  for (Py_ssize_t p = 0; p < t.n; ++p) {
    Py_UCS4 c = t[p];
    if (c == '<') {
      if (p + 1 < t.n && t[p + 1] == '<') return true;
      continue;
    }
    if (c == '>') {
      // A redirection counts only with word characters directly on both sides.
      if (!word_before(t, p)) continue;
      Py_ssize_t after = p + 1 < t.n && t[p + 1] == '>' ? p + 2 : p + 1;
      if (word_after(t, after)) return true;
      continue;
    }
    if (!is_word(c) || word_before(t, p)) continue;
    Py_ssize_t end = word_run_end(t, p);
    if (run_is_one_of(t, p, end, kWords, false)) return true;
    for (std::string_view phrase : kPhrases) {
      if (literal_at(t, p, phrase, false) &&
          !word_after(t, p + static_cast<Py_ssize_t>(phrase.size()))) {
        return true;
      }
    }
    p = end - 1;
  }
  return false;
}

// re.match(r"\s*(cat|sed -n|head|tail|grep|less|find|ls|rg)\b", t) succeeds.
template <class Ch>
bool read_command_match(Chars<Ch> t) {
  static constexpr std::string_view kReads[] = {
      "cat", "sed -n", "head", "tail", "grep", "less", "find", "ls", "rg",
  };
  Py_ssize_t p = 0;
  while (p < t.n && is_space(t[p])) ++p;
  for (std::string_view r : kReads) {
    if (literal_at(t, p, r, false) && !word_after(t, p + static_cast<Py_ssize_t>(r.size()))) {
      return true;
    }
  }
  return false;
}

// re.search(r"\b(grep|rg|find)\b", t) finds a match: one of the three is a whole word.
template <class Ch>
bool search_command_search(Chars<Ch> t) {
  static constexpr std::string_view kSearches[] = {"grep", "rg", "find"};
  return any_word_run(t, [&](Py_ssize_t from, Py_ssize_t to) {
    return run_is_one_of(t, from, to, kSearches, false);
  });
}

}  // namespace pm::rx

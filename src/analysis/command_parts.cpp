// The shell words of a line (POSIX quoting, `;&|()` as punctuation, no comments),
// cut into parts at the operators, each part's wrappers, settings and `cd DIR` left
// out: the Python reader's rules for ASCII lines, without its Python objects for
// every word and piece.
#include "analysis/command_parts.hpp"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pm {
namespace {

using Words = std::vector<std::string>;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_punctuation(char c) { return c == ';' || c == '&' || c == '|' || c == '(' || c == ')'; }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alnum(char c) { return is_digit(c) || is_lower(c) || (c >= 'A' && c <= 'Z'); }

bool is_one_of(std::string_view word, std::initializer_list<std::string_view> names) {
  for (std::string_view name : names) {
    if (word == name) return true;
  }
  return false;
}

// A backslash before a name's character is a Windows separator (.\gradlew), not an
// escape.
std::string with_windows_separators(std::string_view line) {
  std::string out(line);
  for (size_t i = 0; i + 1 < out.size(); ++i) {
    char next = out[i + 1];
    bool name_char = is_alnum(next) || next == '_' || next == '.' || next == '-';
    if (out[i] == '\\' && name_char) out[i] = '/';
  }
  return out;
}

// Appends the quoted piece at `at` (after its opening quote) to `word`; the index
// after its closing quote, or npos when it is left open.
size_t single_quoted(std::string_view s, size_t at, std::string& word) {
  size_t close = s.find('\'', at);
  if (close == std::string_view::npos) return close;
  word.append(s.substr(at, close - at));
  return close + 1;
}

// In double quotes a backslash escapes only `"` and itself.
size_t double_quoted(std::string_view s, size_t at, std::string& word) {
  while (at < s.size() && s[at] != '"') {
    if (s[at] == '\\') {
      if (at + 1 == s.size()) return std::string_view::npos;
      char escaped = s[at + 1];
      if (escaped != '"' && escaped != '\\') word += '\\';
      word += escaped;
      at += 2;
    } else {
      word += s[at++];
    }
  }
  return at < s.size() ? at + 1 : std::string_view::npos;
}

// The words and runs of punctuation of the line, quotes taken off; false for a
// quote or escape left open.
bool shell_words(std::string_view s, Words& words) {
  size_t at = 0;
  while (at < s.size()) {
    if (is_space(s[at])) {
      ++at;
    } else if (is_punctuation(s[at])) {
      size_t end = at;
      while (end < s.size() && is_punctuation(s[end])) ++end;
      words.emplace_back(s.substr(at, end - at));
      at = end;
    } else {
      std::string word;
      while (at < s.size() && !is_space(s[at]) && !is_punctuation(s[at])) {
        char c = s[at];
        if (c == '\\') {
          if (at + 1 == s.size()) return false;
          word += s[at + 1];
          at += 2;
        } else if (c == '\'' || c == '"') {
          at = c == '\'' ? single_quoted(s, at + 1, word) : double_quoted(s, at + 1, word);
          if (at == std::string_view::npos) return false;
        } else {
          word += c;
          ++at;
        }
      }
      words.push_back(std::move(word));
    }
  }
  return true;
}

// Python's whitespace, in ASCII.
bool is_python_space(char c) { return (c >= '\t' && c <= '\r') || (c >= '\x1c' && c <= ' '); }

// A line whose quotes are left open is read as it stands: its words between spaces and
// operators, quotes and all.
void split_at_operators(std::string_view s, Words& words) {
  std::string word;
  auto close_word = [&] {
    if (!word.empty()) words.push_back(std::move(word));
    word.clear();
  };
  for (size_t at = 0; at < s.size();) {
    char c = s[at];
    if (is_python_space(c)) {
      close_word();
      ++at;
    } else if ((c == '&' || c == '|') && at + 1 < s.size() && s[at + 1] == c) {
      close_word();
      words.emplace_back(s.substr(at, 2));
      at += 2;
    } else if (is_punctuation(c)) {
      close_word();
      words.emplace_back(s.substr(at, 1));
      ++at;
    } else {
      word += c;
      ++at;
    }
  }
  close_word();
}

bool is_separator(std::string_view word) {
  return is_one_of(word, {"&&", "||", ";", "|", "&", "|&", ";;", "(", ")"});
}

// Slashes for backslashes, lower case, no leading `./` or trailing slashes.
std::string normal(std::string word) {
  for (char& c : word) {
    if (c == '\\') c = '/';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (word.starts_with("./")) word.erase(0, 2);
  size_t end = word.find_last_not_of('/');
  return end == std::string::npos ? word : word.substr(0, end + 1);
}

bool is_assignment(std::string_view word) {
  if (word.empty() || !(is_alnum(word[0]) || word[0] == '_') || is_digit(word[0])) return false;
  for (char c : word.substr(1)) {
    if (c == '=') return true;
    if (!is_alnum(c) && c != '_') return false;
  }
  return false;
}

// `timeout`'s own arguments: a duration (`60`, `5s`, `--9.5m`) or an option (`-k`).
bool is_timeout_argument(std::string_view word) {
  if (word.size() >= 2 && word[0] == '-' && is_lower(word[1])) {
    bool letters = true;
    for (char c : word.substr(1)) letters = letters && is_lower(c);
    if (letters) return true;
  }
  size_t at = 0;
  while (at < 2 && at < word.size() && word[at] == '-') ++at;
  size_t digits = at;
  while (at < word.size() && (is_digit(word[at]) || word[at] == '.')) ++at;
  if (at == digits) return false;
  if (at < word.size() && is_one_of(word.substr(at, 1), {"s", "m", "h", "d"})) ++at;
  return at == word.size();
}

bool is_interpreter(std::string_view word) {
  if (word.starts_with("python")) {
    for (char c : word.substr(6)) {
      if (!is_digit(c) && c != '.') return false;
    }
    return true;
  }
  return is_one_of(word, {"py", "node", "bash", "sh", "zsh", "ruby", "perl", "deno", "bun"});
}

bool is_wrapper(std::string_view word) {
  return is_one_of(word, {"sudo", "env", "time", "nohup", "nice", "exec", "command", "builtin",
                          "xargs", "npx", "bunx", "pnpx"});
}

bool is_runner(std::string_view word) {
  return is_one_of(word, {"uv", "poetry", "pipenv", "pdm", "hatch", "rye", "conda", "bundle",
                          "pnpm", "yarn", "go", "cargo", "dotnet", "mix"});
}

// Where the program starts: after wrappers, settings, `cd DIR`, `timeout` and its
// arguments, an interpreter running a module or script, and `uv run` and the like.
size_t program_start(const Words& words) {
  size_t start = 0, size = words.size();
  while (start < size) {
    const std::string& word = words[start];
    if (is_assignment(word) || is_wrapper(word)) {
      start += 1;
    } else if (word == "cd") {
      start += 2;
    } else if (word == "timeout") {
      start += 1;
      while (start < size && is_timeout_argument(words[start])) ++start;
    } else if (is_interpreter(word)) {
      size_t after = start + 1;
      while (after < size && words[after].starts_with("-") && words[after] != "-m" &&
             words[after] != "-c") {
        ++after;
      }
      if (after < size && words[after] == "-m") {
        start = after + 1;
      } else if (after < size && words[after] != "-c") {
        start = after;
      } else {
        break;  // the interpreter alone, or code given inline: it is the program
      }
    } else if (is_runner(word) && start + 1 < size &&
               is_one_of(words[start + 1], {"run", "exec", "dlx"})) {
      start += 2;
    } else {
      break;
    }
  }
  return start;
}

Ref word_tuple(const Words& words, size_t start) {
  Ref tuple = require(PyTuple_New(static_cast<Py_ssize_t>(words.size() - start)));
  for (size_t i = start; i < words.size(); ++i) {
    PyObject* word =
        PyUnicode_FromStringAndSize(words[i].data(), static_cast<Py_ssize_t>(words[i].size()));
    if (!word) throw PyErrorSet{};
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i - start), word);
  }
  return tuple;
}

// The parts of an ASCII line, each its words from the program on; none for another line.
std::optional<std::vector<Words>> parts_of(PyObject* line) {
  if (!PyUnicode_CheckExact(line) || !PyUnicode_IS_ASCII(line)) return std::nullopt;
  std::string_view text(reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(line)),
                        static_cast<size_t>(PyUnicode_GET_LENGTH(line)));
  std::string line_text = with_windows_separators(text);
  Words tokens;
  if (!shell_words(line_text, tokens)) {
    tokens.clear();
    split_at_operators(line_text, tokens);
  }
  std::vector<Words> parts;
  Words current;
  auto close_part = [&] {
    size_t start = program_start(current);
    if (start < current.size()) parts.emplace_back(current.begin() + start, current.end());
    current.clear();
  };
  for (std::string& token : tokens) {
    if (is_separator(token)) {
      close_part();
    } else if (std::string word = normal(std::move(token)); !word.empty()) {
      current.push_back(std::move(word));
    }
  }
  close_part();
  return parts;
}

}  // namespace

Ref command_parts(PyObject* line) {
  std::optional<std::vector<Words>> parts = parts_of(line);
  if (!parts) return {};
  Ref tuple = require(PyTuple_New(static_cast<Py_ssize_t>(parts->size())));
  for (size_t i = 0; i < parts->size(); ++i) {
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), word_tuple((*parts)[i], 0).release());
  }
  return tuple;
}

Ref command_programs(PyObject* line) {
  std::optional<std::vector<Words>> parts = parts_of(line);
  if (!parts) return {};
  Ref programs = require(PyDict_New());
  for (const Words& part : *parts) {
    Ref program = require(PyUnicode_FromStringAndSize(part[0].data(),
                                                      static_cast<Py_ssize_t>(part[0].size())));
    PyObject* runs = PyDict_GetItemWithError(programs.get(), program.get());  // borrowed
    if (!runs) {
      if (PyErr_Occurred()) throw PyErrorSet{};
      Ref list = require(PyList_New(0));
      require_ok(PyDict_SetItem(programs.get(), program.get(), list.get()));
      runs = list.get();
    }
    require_ok(PyList_Append(runs, word_tuple(part, 1).get()));
  }
  return programs;
}

}  // namespace pm

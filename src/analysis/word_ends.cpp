// Indexing a turn's command lines by the ends of their words: the ends gathered in a
// C++ map, and a Python str and list made once for each distinct end, where building
// the index in Python costs a set and several string operations per word. The map keys
// ends as UTF-8 (lone surrogates passed through), which for the ASCII of nearly all
// command lines is a byte a character.
#include "analysis/word_ends.hpp"

#include <string>
#include <unordered_map>
#include <vector>

#include "analysis/word_chars.hpp"

namespace pm {
namespace {

// Each end as the UTF-8 of its text, and the lines that hold it, in order, each once.
using Ends = std::unordered_map<std::string, std::vector<Py_ssize_t>>;

void append_utf8(std::string& out, Py_UCS4 c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

class LineWords {
 public:
  explicit LineWords(PyObject* line)
      : kind_(PyUnicode_KIND(line)), data_(PyUnicode_DATA(line)) {}

  Py_UCS4 operator[](Py_ssize_t at) const { return PyUnicode_READ(kind_, data_, at); }

  std::string text(Py_ssize_t start, Py_ssize_t end) const {
    std::string out;
    out.reserve(static_cast<size_t>(end - start));
    for (Py_ssize_t at = start; at < end; ++at) append_utf8(out, (*this)[at]);
    return out;
  }

 private:
  int kind_;
  const void* data_;
};

void add(Ends& ends, std::string key, Py_ssize_t index) {
  std::vector<Py_ssize_t>& lines = ends[std::move(key)];
  if (lines.empty() || lines.back() != index) lines.push_back(index);
}

// The ends of the word [start, end) of a line.
void add_word(Ends& ends, const LineWords& line, Py_ssize_t start, Py_ssize_t end,
              Py_ssize_t index) {
  Py_ssize_t last_dot = -1, dot_before = -1;
  for (Py_ssize_t at = start; at < end; ++at) {
    if (line[at] == '.') {
      dot_before = last_dot;
      last_dot = at;
    }
  }
  if (last_dot < 0) {
    add(ends, line.text(start, end), index);
    return;
  }
  add(ends, line.text(last_dot + 1, end), index);
  Py_ssize_t before = dot_before < 0 ? start : dot_before + 1;
  if (before < last_dot) add(ends, line.text(before, end), index);
}

// The index as a dict, each entry of the map let go once it is in it, and one int
// object a line, shared by the lists that name it.
Ref as_dict(Ends& ends, Py_ssize_t line_count) {
  Ref index_of = require(PyDict_New());
  std::vector<Ref> numbers(static_cast<size_t>(line_count));
  for (auto entry = ends.begin(); entry != ends.end(); entry = ends.erase(entry)) {
    const auto& [text, lines] = *entry;
    Ref key = require(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                           "surrogatepass"));
    Ref list = require(PyList_New(static_cast<Py_ssize_t>(lines.size())));
    for (size_t i = 0; i < lines.size(); ++i) {
      Ref& number = numbers[static_cast<size_t>(lines[i])];
      if (!number) number = require(PyLong_FromSsize_t(lines[i]));
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(number.get()));
    }
    require_ok(PyDict_SetItem(index_of.get(), key.get(), list.get()));
  }
  return index_of;
}

}  // namespace

Ref word_ends_index(PyObject* lines) {
  if (!PyList_CheckExact(lines)) {
    PyErr_SetString(PyExc_TypeError, "word_ends_index() argument must be a list of str");
    throw PyErrorSet{};
  }
  Ends ends;
  // No Python code runs below: the list's items are read in place.
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(lines); ++i) {
    PyObject* item = PyList_GET_ITEM(lines, i);
    if (!PyUnicode_Check(item)) {
      PyErr_SetString(PyExc_TypeError, "word_ends_index() argument must be a list of str");
      throw PyErrorSet{};
    }
    LineWords line(item);
    Py_ssize_t length = PyUnicode_GET_LENGTH(item), start = 0;
    // The words as a split at runs of separators gives them, the empty ones included.
    for (Py_ssize_t at = 0; at <= length; ++at) {
      if (at < length && !ends_word(line[at])) continue;
      if (at == length || at == 0 || !ends_word(line[at - 1])) add_word(ends, line, start, at, i);
      start = at + 1;
    }
  }
  return as_dict(ends, PyList_GET_SIZE(lines));
}

}  // namespace pm

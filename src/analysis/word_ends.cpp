// Indexing a turn's command lines by the ends of their words: the ends gathered in a
// C++ map, and a Python str and list made once for each distinct end, where building
// the index in Python costs a set and several string operations per word.
#include "analysis/word_ends.hpp"

#include <string>
#include <unordered_map>
#include <vector>

#include "analysis/word_chars.hpp"

namespace pm {
namespace {

// Each end as the code points of its text (any width of character), and the lines
// that hold it, in order, each once.
using Ends = std::unordered_map<std::u32string, std::vector<Py_ssize_t>>;

class LineWords {
 public:
  explicit LineWords(PyObject* line)
      : kind_(PyUnicode_KIND(line)), data_(PyUnicode_DATA(line)) {}

  Py_UCS4 operator[](Py_ssize_t at) const { return PyUnicode_READ(kind_, data_, at); }

  std::u32string text(Py_ssize_t start, Py_ssize_t end) const {
    std::u32string out;
    out.reserve(static_cast<size_t>(end - start));
    for (Py_ssize_t at = start; at < end; ++at) out.push_back((*this)[at]);
    return out;
  }

 private:
  int kind_;
  const void* data_;
};

void add(Ends& ends, std::u32string key, Py_ssize_t index) {
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

Ref as_dict(const Ends& ends) {
  Ref index_of = require(PyDict_New());
  for (const auto& [text, lines] : ends) {
    Ref key = require(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text.data(),
                                                static_cast<Py_ssize_t>(text.size())));
    Ref list = require(PyList_New(static_cast<Py_ssize_t>(lines.size())));
    for (size_t i = 0; i < lines.size(); ++i) {
      Ref number = require(PyLong_FromSsize_t(lines[i]));
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), number.release());
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
  return as_dict(ends);
}

}  // namespace pm

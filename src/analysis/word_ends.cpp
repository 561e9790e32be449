// Indexing a turn's command lines by the ends of their words: a dict of short lists
// built in one pass, where building it in Python costs a set and several string
// operations per word.
#include "analysis/word_ends.hpp"

#include "analysis/word_chars.hpp"

namespace pm {
namespace {

// Adds `index` to the list of the line's text [start, end), unless it is there already.
void add(PyObject* index_of, PyObject* line, Py_ssize_t start, Py_ssize_t end, PyObject* index) {
  Ref key = require(PyUnicode_Substring(line, start, end));
  PyObject* found = PyDict_GetItemWithError(index_of, key.get());  // borrowed
  if (!found) {
    if (PyErr_Occurred()) throw PyErrorSet{};
    Ref list = require(PyList_New(0));
    require_ok(PyDict_SetItem(index_of, key.get(), list.get()));
    found = list.get();
  }
  Py_ssize_t size = PyList_GET_SIZE(found);
  if (size == 0 || PyList_GET_ITEM(found, size - 1) != index) require_ok(PyList_Append(found, index));
}

// The ends of the word [start, end) of `line`.
void add_word(PyObject* index_of, PyObject* line, int kind, const void* data, Py_ssize_t start,
              Py_ssize_t end, PyObject* index) {
  Py_ssize_t last_dot = -1, dot_before = -1;
  for (Py_ssize_t at = start; at < end; ++at) {
    if (PyUnicode_READ(kind, data, at) == '.') {
      dot_before = last_dot;
      last_dot = at;
    }
  }
  if (last_dot < 0) {
    add(index_of, line, start, end, index);
    return;
  }
  add(index_of, line, last_dot + 1, end, index);
  Py_ssize_t before = dot_before < 0 ? start : dot_before + 1;
  if (before < last_dot) add(index_of, line, before, end, index);
}

}  // namespace

Ref word_ends_index(PyObject* lines) {
  if (!PyList_CheckExact(lines)) {
    PyErr_SetString(PyExc_TypeError, "word_ends_index() argument must be a list of str");
    throw PyErrorSet{};
  }
  Ref index_of = require(PyDict_New());
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(lines); ++i) {
    Ref line = Ref::borrow(PyList_GET_ITEM(lines, i));
    if (!PyUnicode_Check(line.get())) {
      PyErr_SetString(PyExc_TypeError, "word_ends_index() argument must be a list of str");
      throw PyErrorSet{};
    }
    Ref index = require(PyLong_FromSsize_t(i));
    int kind = PyUnicode_KIND(line.get());
    const void* data = PyUnicode_DATA(line.get());
    Py_ssize_t length = PyUnicode_GET_LENGTH(line.get()), start = 0;
    // The words as a split at runs of separators gives them, the empty ones included.
    for (Py_ssize_t at = 0; at <= length; ++at) {
      if (at < length && !ends_word(PyUnicode_READ(kind, data, at))) continue;
      if (at == length || at == 0 || !ends_word(PyUnicode_READ(kind, data, at - 1))) {
        add_word(index_of.get(), line.get(), kind, data, start, at, index.get());
      }
      start = at + 1;
    }
  }
  return index_of;
}

}  // namespace pm

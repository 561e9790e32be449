// Looking for a word in many lines at once, each occurrence of it checked for the
// characters around it, where Python would check each occurrence in turn.
#include "analysis/stands_alone.hpp"

#include "analysis/word_chars.hpp"

namespace pm {
namespace {

bool holds_operator(PyObject* word) {
  int kind = PyUnicode_KIND(word);
  const void* data = PyUnicode_DATA(word);
  for (Py_ssize_t at = 0; at < PyUnicode_GET_LENGTH(word); ++at) {
    Py_UCS4 c = PyUnicode_READ(kind, data, at);
    if (c == ';' || c == '&' || c == '|' || c == '(' || c == ')') return true;
  }
  return false;
}

Py_ssize_t find(PyObject* line, PyObject* word, Py_ssize_t from) {
  Py_ssize_t at = PyUnicode_Find(line, word, from, PyUnicode_GET_LENGTH(line), 1);
  if (at == -2) throw PyErrorSet{};
  return at;
}

bool stands_alone(PyObject* word, PyObject* line, bool anywhere) {
  Py_ssize_t at = find(line, word, 0);
  if (anywhere) return at >= 0;
  Py_ssize_t size = PyUnicode_GET_LENGTH(word), length = PyUnicode_GET_LENGTH(line);
  int kind = PyUnicode_KIND(line);
  const void* data = PyUnicode_DATA(line);
  for (; at >= 0; at = find(line, word, at + 1)) {
    Py_ssize_t end = at + size;
    if ((at == 0 || begins_word(PyUnicode_READ(kind, data, at - 1))) &&
        (end == length || ends_word(PyUnicode_READ(kind, data, end)))) {
      return true;
    }
  }
  return false;
}

}  // namespace

Ref lines_holding(PyObject* word, PyObject* lines, PyObject* candidates) {
  if (!PyUnicode_Check(word) || !PyList_Check(lines)) {
    PyErr_SetString(PyExc_TypeError, "lines_holding() takes a str and a list of str");
    throw PyErrorSet{};
  }
  bool anywhere = PyUnicode_GET_LENGTH(word) == 0 || holds_operator(word);
  Ref found = require(PyList_New(0));
  Ref iterator = require(PyObject_GetIter(candidates));
  while (Ref index = Ref::steal(PyIter_Next(iterator.get()))) {
    Py_ssize_t at = PyNumber_AsSsize_t(index.get(), PyExc_IndexError);
    if (at == -1 && PyErr_Occurred()) throw PyErrorSet{};
    // The iterator may have run Python code: the list is read afresh each time.
    if (at < 0 || at >= PyList_GET_SIZE(lines)) {
      PyErr_SetString(PyExc_IndexError, "lines_holding() index out of range");
      throw PyErrorSet{};
    }
    Ref line = Ref::borrow(PyList_GET_ITEM(lines, at));
    if (!PyUnicode_Check(line.get())) {
      PyErr_SetString(PyExc_TypeError, "lines_holding() takes a str and a list of str");
      throw PyErrorSet{};
    }
    if (stands_alone(word, line.get(), anywhere)) {
      require_ok(PyList_Append(found.get(), index.get()));
    }
  }
  if (PyErr_Occurred()) throw PyErrorSet{};
  return found;
}

}  // namespace pm

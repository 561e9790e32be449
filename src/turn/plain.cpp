// A walk over a decoded JSON value that looks only at exact types.
#include "turn/plain.hpp"

namespace pm {
namespace {

// Deeper values go to verify claim by claim, whose recursion limits then apply.
constexpr int kMaxDepth = 200;

bool is_plain_scalar(PyObject* o) {
  return o == Py_None || PyUnicode_CheckExact(o) || PyLong_CheckExact(o) || PyBool_Check(o) ||
         PyFloat_CheckExact(o);
}

bool plain_at(PyObject* o, int depth) {
  if (is_plain_scalar(o)) return true;
  if (depth == kMaxDepth) return false;
  if (PyList_CheckExact(o)) {
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(o); ++i) {
      if (!plain_at(PyList_GET_ITEM(o, i), depth + 1)) return false;
    }
    return true;
  }
  if (PyDict_CheckExact(o)) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(o, &pos, &key, &value)) {
      if (!PyUnicode_CheckExact(key) || !plain_at(value, depth + 1)) return false;
    }
    return true;
  }
  return false;
}

}  // namespace

bool is_plain_json(PyObject* o) { return plain_at(o, 0); }

}  // namespace pm

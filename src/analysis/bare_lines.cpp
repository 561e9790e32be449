// The bare form of every command line of a turn in one call: ASCII lines lowered and
// filtered in one pass; others case folded by Python's own casefold, then filtered.
#include "analysis/bare_lines.hpp"

#include <vector>

namespace pm {
namespace {

const StaticStr kCasefold("casefold");

bool is_dropped(Py_UCS4 c) { return c == '\'' || c == '"' || c == '\\' || c == '/'; }

Ref bare_ascii(PyObject* line) {
  const Py_UCS1* text = PyUnicode_1BYTE_DATA(line);
  Py_ssize_t length = PyUnicode_GET_LENGTH(line), kept = 0;
  for (Py_ssize_t at = 0; at < length; ++at) kept += !is_dropped(text[at]);
  Ref bare = require(PyUnicode_New(kept, 127));
  Py_UCS1* out = PyUnicode_1BYTE_DATA(bare.get());
  for (Py_ssize_t at = 0; at < length; ++at) {
    Py_UCS1 c = text[at];
    if (is_dropped(c)) continue;
    *out++ = c >= 'A' && c <= 'Z' ? static_cast<Py_UCS1>(c - 'A' + 'a') : c;
  }
  return bare;
}

Ref bare_other(PyObject* line) {
  Ref folded = call_method(line, kCasefold);
  int kind = PyUnicode_KIND(folded.get());
  const void* data = PyUnicode_DATA(folded.get());
  std::vector<Py_UCS4> kept;
  kept.reserve(static_cast<size_t>(PyUnicode_GET_LENGTH(folded.get())));
  for (Py_ssize_t at = 0; at < PyUnicode_GET_LENGTH(folded.get()); ++at) {
    Py_UCS4 c = PyUnicode_READ(kind, data, at);
    if (!is_dropped(c)) kept.push_back(c);
  }
  return require(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, kept.data(),
                                           static_cast<Py_ssize_t>(kept.size())));
}

}  // namespace

Ref bare_lines(PyObject* lines) {
  if (!PyList_CheckExact(lines)) {
    PyErr_SetString(PyExc_TypeError, "bare_lines() argument must be a list");
    throw PyErrorSet{};
  }
  Ref bare = require(PyList_New(0));
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(lines); ++i) {
    Ref line = Ref::borrow(PyList_GET_ITEM(lines, i));
    if (!PyUnicode_CheckExact(line.get())) return {};  // its own casefold may differ
    Ref found = PyUnicode_IS_ASCII(line.get()) ? bare_ascii(line.get()) : bare_other(line.get());
    require_ok(PyList_Append(bare.get(), found.get()));
  }
  return bare;
}

}  // namespace pm

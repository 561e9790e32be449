// Small value helpers of the engine: equality with a constant, sizes, lists.
#pragma once

#include "binding/ref.hpp"

namespace pm {

// Claim kinds and literal kinds as the engine compares them.
namespace word {
inline const StaticStr kOther("other"), kExternalAction("external_action"), kMention("mention"),
    kCommandRan("command_ran"), kFileChanged("file_changed");
inline const StaticStr kPath("path"), kKey("key"), kNumber("number"), kPhrase("phrase");
inline const StaticStr kTerminal("terminal"), kExecuteCode("execute_code");
}  // namespace word

// `value == text`, through the interpreter's comparison (a kind may be any object).
inline bool equals(PyObject* value, const StaticStr& text) {
  return require_ok(PyObject_RichCompareBool(value, text.get(), Py_EQ)) != 0;
}

// `len(o)`.
inline Py_ssize_t size_of(PyObject* o) {
  Py_ssize_t n = PyObject_Size(o);
  if (n < 0) throw PyErrorSet{};
  return n;
}

inline Ref new_list() { return require(PyList_New(0)); }

inline void append(PyObject* list, PyObject* entry) { require_ok(PyList_Append(list, entry)); }

inline bool is_empty(PyObject* list) { return PyList_GET_SIZE(list) == 0; }

}  // namespace pm

// Evidence texts: every literal is shown between two back-quotes, rendered as
// an f-string renders it (format(value, "")).
#pragma once

#include <initializer_list>

#include "binding/ref.hpp"

namespace pm {
namespace entry {

Ref ran_but_failed(PyObject* a, PyObject* exit_code);
Ref in_write(PyObject* a);
Ref in_command(PyObject* a);
Ref in_external(PyObject* a);
Ref in_output(PyObject* a);
Ref words_in_command(PyObject* a);
Ref words_in_output(PyObject* a);
Ref empty_search();

// The literals of `lists`, each back-quoted, joined by ", ".
Ref literal_list(std::initializer_list<PyObject*> lists);

// The texts of `list` joined by `separator`.
Ref joined(const char* separator, PyObject* list);

}  // namespace entry
}  // namespace pm

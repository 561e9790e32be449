// Helpers over the pending exception, for the interpreters we build against.
#include "binding/errors.hpp"

#include <frameobject.h>

namespace pm {
namespace {

// The pending exception as one normalised object, taken out of the interpreter.
PyObject* take_pending() {
#if PY_VERSION_HEX >= 0x030C0000
  return PyErr_GetRaisedException();
#else
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  if (tb && value) PyException_SetTraceback(value, tb);
  Py_XDECREF(type);
  Py_XDECREF(tb);
  return value;
#endif
}

void put_pending(PyObject* exc) {
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(exc);
#else
  PyObject* tb = PyException_GetTraceback(exc);
  PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc))), exc, tb);
#endif
}

}  // namespace

void add_traceback_entry(const char* where, const char* filename, int line, PyObject* globals) {
  PyObject* exc = take_pending();
  if (!exc) return;
  PyCodeObject* code = PyCode_NewEmpty(filename, where, line);
  PyFrameObject* frame = nullptr;
  if (code) frame = PyFrame_New(PyThreadState_Get(), code, globals, nullptr);
  if (!frame) {
    // Keep the original error rather than one about the traceback entry.
    PyErr_Clear();
    Py_XDECREF(code);
    put_pending(exc);
    return;
  }
  put_pending(exc);
  PyTraceBack_Here(frame);
  Py_DECREF(frame);
  Py_DECREF(code);
}

}  // namespace pm

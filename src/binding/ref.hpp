// Owned references, and the bridge between pending Python errors and C++ exceptions.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace pm {

// Thrown when a Python exception is pending. The binding boundary turns it back
// into a NULL return, so C++ exceptions never cross into the interpreter.
struct PyErrorSet {};

// A strong reference, released when the Ref goes out of scope.
class Ref {
 public:
  Ref() noexcept = default;
  static Ref steal(PyObject* o) noexcept {
    Ref r;
    r.p_ = o;
    return r;
  }
  static Ref borrow(PyObject* o) noexcept { return steal(Py_XNewRef(o)); }

  Ref(const Ref& o) noexcept : p_(Py_XNewRef(o.p_)) {}
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const noexcept { return p_; }
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

// Takes ownership of a C-API result; a NULL result means a Python error is set.
inline Ref require(PyObject* o) {
  if (!o) throw PyErrorSet{};
  return Ref::steal(o);
}

// For C-API calls that report failure with a negative int.
inline int require_ok(int status) {
  if (status < 0) throw PyErrorSet{};
  return status;
}

// Truth value of an object, as `bool(o)` gives it.
inline bool truthy(PyObject* o) { return require_ok(PyObject_IsTrue(o)) != 0; }

// An immortal, interned str made on first use: the constants of the module.
class StaticStr {
 public:
  constexpr explicit StaticStr(const char* utf8) : utf8_(utf8) {}
  PyObject* get() const {
    if (!obj_) obj_ = require(PyUnicode_InternFromString(utf8_)).release();
    return obj_;
  }

 private:
  const char* utf8_;
  mutable PyObject* obj_ = nullptr;
};

// Calls `obj(args...)` and owns the result.
template <class... A>
Ref call(PyObject* callable, A... args) {
  PyObject* argv[] = {nullptr, args...};
  return require(PyObject_Vectorcall(callable, argv + 1,
                                     sizeof...(A) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// Calls `obj.name(args...)` and owns the result.
template <class... A>
Ref call_method(PyObject* obj, const StaticStr& name, A... args) {
  PyObject* argv[] = {obj, args...};
  return require(PyObject_VectorcallMethod(name.get(), argv,
                                           (1 + sizeof...(A)) | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                           nullptr));
}

inline Ref getattr(PyObject* obj, const StaticStr& name) {
  return require(PyObject_GetAttr(obj, name.get()));
}

}  // namespace pm

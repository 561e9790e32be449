// A str's own storage seen in place (1, 2 or 4 bytes per character), and the
// dispatch that runs one matcher template over whichever width a str has.
#pragma once

#include <cstdint>

#include "binding/ref.hpp"

namespace pm {

// A run of characters of one width; `Ch` is Py_UCS1, Py_UCS2 or Py_UCS4.
template <class Ch>
struct Chars {
  const Ch* p;
  Py_ssize_t n;

  Py_UCS4 operator[](Py_ssize_t i) const { return p[i]; }
  Chars sub(Py_ssize_t from, Py_ssize_t to) const { return {p + from, to - from}; }
};

// The storage of a str: valid while the str is alive and unchanged (strs are
// immutable, so holding a reference is enough).
struct TextView {
  const void* data;
  Py_ssize_t length;
  int kind;
};

// `s` must be a str.
inline TextView view_of(PyObject* s) {
#if PY_VERSION_HEX < 0x030C0000
  // Before 3.12 a str made through the legacy API may lack its canonical form.
  require_ok(PyUnicode_READY(s));
#endif
  return {PyUnicode_DATA(s), PyUnicode_GET_LENGTH(s), static_cast<int>(PyUnicode_KIND(s))};
}

// f(Chars<Ch>) for the width of `t`.
template <class F>
decltype(auto) with_chars(TextView t, F&& f) {
  switch (t.kind) {
    case PyUnicode_1BYTE_KIND:
      return f(Chars<Py_UCS1>{static_cast<const Py_UCS1*>(t.data), t.length});
    case PyUnicode_2BYTE_KIND:
      return f(Chars<Py_UCS2>{static_cast<const Py_UCS2*>(t.data), t.length});
    default:
      return f(Chars<Py_UCS4>{static_cast<const Py_UCS4*>(t.data), t.length});
  }
}

}  // namespace pm

// The exact wording of the evidence entries and lists.
#include "engine/entries.hpp"

#include "engine/values.hpp"
#include "engine/walk.hpp"

namespace pm::entry {
namespace {

const StaticStr kNoSpec(""), kEmptySearch("empty search result matches claim");

Ref shown(PyObject* value) { return require(PyObject_Format(value, kNoSpec.get())); }

Ref about(const char* format, PyObject* a) {
  Ref text = shown(a);
  return require(PyUnicode_FromFormat(format, text.get()));
}

}  // namespace

Ref ran_but_failed(PyObject* a, PyObject* exit_code) {
  Ref text = shown(a);
  Ref code = shown(exit_code);
  return require(PyUnicode_FromFormat("`%U` ran but FAILED (exit %U)", text.get(), code.get()));
}

Ref in_write(PyObject* a) { return about("`%U` in write", a); }
Ref in_command(PyObject* a) { return about("`%U` in command (exit ok)", a); }
Ref in_external(PyObject* a) { return about("`%U` in external action", a); }
Ref in_output(PyObject* a) { return about("`%U` in output", a); }
Ref words_in_command(PyObject* a) { return about("words of `%U` in command (exit ok)", a); }
Ref words_in_output(PyObject* a) { return about("words of `%U` in output", a); }
Ref empty_search() { return Ref::borrow(kEmptySearch.get()); }

Ref literal_list(std::initializer_list<PyObject*> lists) {
  Ref quoted = new_list();
  for (PyObject* list : lists) {
    walk(list, [&](PyObject* a) { append(quoted.get(), about("`%U`", a).get()); });
  }
  return joined(", ", quoted.get());
}

Ref joined(const char* separator, PyObject* list) {
  Ref sep = require(PyUnicode_FromString(separator));
  return require(PyUnicode_Join(sep.get(), list));
}

}  // namespace pm::entry

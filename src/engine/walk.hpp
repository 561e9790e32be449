// Walking a collection as a `for` loop does. Lists and tuples go by index with
// the size read again at every step, since a callback may grow or shrink the
// list; anything else goes through the iteration protocol. Callers hold their
// own reference to the collection for the whole walk.
#pragma once

#include "binding/ref.hpp"

namespace pm {

// Calls visit(item) in order until it returns true; tells whether it did.
template <class Visit>
bool walk_until(PyObject* collection, Visit&& visit) {
  if (PyList_CheckExact(collection)) {
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(collection); ++i) {
      Ref entry = Ref::borrow(PyList_GET_ITEM(collection, i));
      if (visit(entry.get())) return true;
    }
    return false;
  }
  if (PyTuple_CheckExact(collection)) {
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(collection); ++i) {
      Ref entry = Ref::borrow(PyTuple_GET_ITEM(collection, i));
      if (visit(entry.get())) return true;
    }
    return false;
  }
  Ref it = require(PyObject_GetIter(collection));
  while (Ref entry = Ref::steal(PyIter_Next(it.get()))) {
    if (visit(entry.get())) return true;
  }
  if (PyErr_Occurred()) throw PyErrorSet{};
  return false;
}

template <class Visit>
void walk(PyObject* collection, Visit&& visit) {
  walk_until(collection, [&](PyObject* entry) {
    visit(entry);
    return false;
  });
}

}  // namespace pm

// Subscription of records, and pattern calls whose subject is a record field.
#include "engine/records.hpp"

namespace pm {
namespace {

const StaticStr kSearch("search");

}  // namespace

Ref item(PyObject* record, const StaticStr& key) {
  if (!PyDict_CheckExact(record)) return require(PyObject_GetItem(record, key.get()));
  PyObject* value = PyDict_GetItemWithError(record, key.get());
  if (value) return Ref::borrow(value);
  if (!PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, key.get());
  throw PyErrorSet{};
}

Ref get_or(PyObject* dict, const StaticStr& key, PyObject* fallback) {
  PyObject* value = PyDict_GetItemWithError(dict, key.get());
  if (value) return Ref::borrow(value);
  if (PyErr_Occurred()) throw PyErrorSet{};
  return Ref::borrow(fallback);
}

bool search_field(const Context& ns, Name pattern, PyObject* record, const StaticStr& key) {
  Ref compiled = ns.lookup(pattern);
  Ref search = getattr(compiled.get(), kSearch);
  Ref subject = item(record, key);
  return truthy(call(search.get(), subject.get()).get());
}

bool re_on_field(const Context& ns, const StaticStr& op, const StaticStr& pattern_text,
                 PyObject* record, const StaticStr& key) {
  Ref re = ns.lookup(Name::re);
  Ref fn = getattr(re.get(), op);
  Ref subject = item(record, key);
  return truthy(call(fn.get(), pattern_text.get(), subject.get()).get());
}

}  // namespace pm

// Subscription of records, and pattern calls whose subject is a record field.
#include "engine/records.hpp"

namespace pm {
namespace {

const StaticStr kSearch("search"), kMatch("match");

const StaticStr& member_name(Member op) { return op == Member::re_match ? kMatch : kSearch; }

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
  NativeTest twin = native_search(pattern);
  if (twin && PyUnicode_CheckExact(subject.get()) && ns.is_original(compiled.get(), pattern)) {
    return twin(view_of(subject.get()));
  }
  return truthy(call(search.get(), subject.get()).get());
}

bool re_on_field(const Context& ns, Member op, const StaticStr& pattern_text, PyObject* record,
                 const StaticStr& key, NativeTest twin) {
  Ref re = ns.lookup(Name::re);
  Ref fn = getattr(re.get(), member_name(op));
  bool native = ns.member_still_original(op);
  Ref subject = item(record, key);
  if (native && PyUnicode_CheckExact(subject.get())) return twin(view_of(subject.get()));
  return truthy(call(fn.get(), pattern_text.get(), subject.get()).get());
}

}  // namespace pm

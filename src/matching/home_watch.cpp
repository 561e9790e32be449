// Identity checks on os.path.expanduser and os.environ's HOME entry.
#include "matching/home_watch.hpp"

namespace pm {
namespace {

const StaticStr kOs("os"), kPath("path"), kExpanduser("expanduser"), kEnviron("environ"),
    kData("_data");

// getattr(o, name), or nothing (and no error) when it is missing. An attribute of
// a plain module is read straight from its dict: this runs before every native
// containment test, and the module type has no descriptor of these names.
Ref attribute(PyObject* o, const StaticStr& name) {
  if (!o) return Ref();
  if (PyModule_CheckExact(o)) {
    PyObject* found = PyDict_GetItemWithError(PyModule_GetDict(o), name.get());
    if (found) return Ref::borrow(found);
    if (PyErr_Occurred()) throw PyErrorSet{};
  }
  Ref v = Ref::steal(PyObject_GetAttr(o, name.get()));
  if (!v) PyErr_Clear();
  return v;
}

// os.environ keeps its entries, encoded, in the dict `_data`; HOME's key there is
// b"HOME" on POSIX hosts.
Ref home_entry(PyObject* data) {
  static PyObject* key = nullptr;  // kept for the life of the process, like StaticStr
  if (!key) key = require(PyBytes_FromString("HOME")).release();
  return Ref::borrow(PyDict_GetItemWithError(data, key));
}

}  // namespace

bool HomeWatch::unchanged() {
  Ref os = Ref::steal(PyImport_GetModule(kOs.get()));
  if (PyErr_Occurred()) throw PyErrorSet{};
  Ref expanduser = attribute(attribute(os.get(), kPath).get(), kExpanduser);
  Ref data = attribute(attribute(os.get(), kEnviron).get(), kData);
  if (!expanduser || !data || !PyDict_CheckExact(data.get())) {
    seen_ = false;
    return false;
  }
  Ref entry = home_entry(data.get());
  if (!entry && PyErr_Occurred()) throw PyErrorSet{};
  bool same = seen_ && expanduser.get() == expanduser_.get() &&
              data.get() == environ_data_.get() && entry.get() == home_entry_.get();
  expanduser_ = std::move(expanduser);
  environ_data_ = std::move(data);
  home_entry_ = std::move(entry);
  seen_ = true;
  return same;
}

}  // namespace pm

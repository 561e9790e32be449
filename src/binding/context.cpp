// The namespace object shared by the function objects of one module.
#include "binding/context.hpp"

#include <cstddef>
#include <cstring>

namespace pm {
namespace {

int context_traverse(PyObject* self, visitproc visit, void* arg) {
  auto* c = reinterpret_cast<Context*>(self);
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(c->dict);
  Py_VISIT(c->builtins);
  for (PyObject* o : c->originals) Py_VISIT(o);
  for (PyObject* o : c->member_originals) Py_VISIT(o);
  return 0;
}

int context_clear(PyObject* self) {
  auto* c = reinterpret_cast<Context*>(self);
  Py_CLEAR(c->dict);
  Py_CLEAR(c->builtins);
  for (PyObject*& o : c->originals) Py_CLEAR(o);
  for (PyObject*& o : c->member_originals) Py_CLEAR(o);
  return 0;
}

void context_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  context_clear(self);
  tp->tp_free(self);
  Py_DECREF(tp);
}

PyType_Slot kSlots[] = {
    {Py_tp_traverse, reinterpret_cast<void*>(context_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(context_clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(context_dealloc)},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "proofmark_core.verify.namespace",
    sizeof(Context),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE |
        Py_TPFLAGS_DISALLOW_INSTANTIATION,
    kSlots,
};

// One type for the life of the process: the module is never torn down.
PyTypeObject* context_type() {
  static PyObject* type = nullptr;
  if (!type) type = require(PyType_FromSpec(&kSpec)).release();
  return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace

Ref Context::lookup(Name n) const {
  PyObject* key = name_str(n);
  PyObject* v = PyDict_GetItemWithError(dict, key);
  if (v) return Ref::borrow(v);
  if (PyErr_Occurred()) throw PyErrorSet{};
  // The interpreter's builtins, not those of whichever frame happens to call us.
  v = PyDict_GetItemWithError(builtins, key);
  if (v) return Ref::borrow(v);
  if (PyErr_Occurred()) throw PyErrorSet{};
  PyErr_Format(PyExc_NameError, "name '%U' is not defined", key);
  throw PyErrorSet{};
}

bool Context::still_original(Name n) const {
  PyObject* v = PyDict_GetItemWithError(dict, name_str(n));
  if (!v && PyErr_Occurred()) throw PyErrorSet{};
  return v && v == originals[static_cast<int>(n)];
}

void Context::record_original(Name n, PyObject* obj) {
  PyObject*& slot = originals[static_cast<int>(n)];
  Py_XSETREF(slot, Py_NewRef(obj));
}

namespace {

struct MemberDef {
  Name owner;
  StaticStr attr;
};

const MemberDef kMembers[kMemberCount] = {
    {Name::re, StaticStr("sub")},       {Name::re, StaticStr("search")},
    {Name::re, StaticStr("match")},     {Name::re, StaticStr("fullmatch")},
    {Name::re, StaticStr("split")},     {Name::re, StaticStr("I")},
    {Name::Path, StaticStr("home")},   {Name::json, StaticStr("dumps")},
};

// A class method is bound anew at every read: its function identifies it.
PyObject* identity_of(PyObject* v) { return PyMethod_Check(v) ? PyMethod_GET_FUNCTION(v) : v; }

// The member as the original owner holds it now, or nothing when it has none
// (then the Python-level path meets the error itself).
Ref member_now(PyObject* owner, const StaticStr& attr) {
  Ref v = Ref::steal(PyObject_GetAttr(owner, attr.get()));
  if (!v) PyErr_Clear();
  return v;
}

}  // namespace

bool Context::member_still_original(Member m) const {
  const MemberDef& d = kMembers[static_cast<int>(m)];
  if (!still_original(d.owner)) return false;
  PyObject* owner = originals[static_cast<int>(d.owner)];
  Ref v = member_now(owner, d.attr);
  if (!v) return false;
  if (PyMethod_Check(v.get()) && PyMethod_GET_SELF(v.get()) != owner) return false;
  PyObject* original = member_originals[static_cast<int>(m)];
  return original && identity_of(v.get()) == original;
}

void Context::record_members() {
  for (int i = 0; i < kMemberCount; ++i) {
    Ref v = member_now(originals[static_cast<int>(kMembers[i].owner)], kMembers[i].attr);
    if (v) Py_XSETREF(member_originals[i], Py_NewRef(identity_of(v.get())));
  }
}

bool Context::everything_original() const {
  for (int n = 0; n < kNameCount; ++n) {
    if (!still_original(static_cast<Name>(n))) return false;
  }
  for (int m = 0; m < kMemberCount; ++m) {
    if (!member_still_original(static_cast<Member>(m))) return false;
  }
  return true;
}

Ref make_context(PyObject* module_dict, PyObject* builtins_module) {
  PyObject* builtins = PyModule_GetDict(builtins_module);
  if (!builtins) throw PyErrorSet{};
  PyTypeObject* tp = context_type();
  auto* c = PyObject_GC_New(Context, tp);
  if (!c) throw PyErrorSet{};
  c->dict = Py_NewRef(module_dict);
  c->builtins = Py_NewRef(builtins);
  for (PyObject*& o : c->originals) o = nullptr;
  for (PyObject*& o : c->member_originals) o = nullptr;
  PyObject_GC_Track(c);
  return Ref::steal(reinterpret_cast<PyObject*>(c));
}

namespace {

const StaticStr kPublishedKey("proofmark_core.verify namespace");

}  // namespace

// The interpreter's dict for extension modules, or nullptr (and no error) when it has none.
PyObject* interpreter_dict() { return PyInterpreterState_GetDict(PyInterpreterState_Get()); }

void publish_context(PyObject* ctx) {
  PyObject* dict = interpreter_dict();
  try {
    if (dict) require_ok(PyDict_SetItem(dict, kPublishedKey.get(), ctx));
  } catch (const PyErrorSet&) {
    PyErr_Clear();
  }
}

Context* published_context() {
  PyObject* dict = interpreter_dict();
  PyObject* ctx = nullptr;
  try {
    if (dict) ctx = PyDict_GetItemWithError(dict, kPublishedKey.get());
  } catch (const PyErrorSet&) {
  }
  if (!ctx) {
    PyErr_Clear();
    return nullptr;
  }
  // Another build of the verify module may have published a context of another layout.
  PyTypeObject* tp = Py_TYPE(ctx);
  if (strcmp(tp->tp_name, kSpec.name) != 0 || tp->tp_basicsize != sizeof(Context)) return nullptr;
  return reinterpret_cast<Context*>(ctx);
}

}  // namespace pm

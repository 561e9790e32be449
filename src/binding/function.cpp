// Function objects: argument binding with the interpreter's own messages,
// introspection attributes, and the boundary where C++ exceptions stop.
#include "binding/function.hpp"

#include <cstddef>
#include <new>

#include "binding/errors.hpp"

#if PY_VERSION_HEX < 0x030C0000
#include <structmember.h>
#define Py_T_PYSSIZET T_PYSSIZET
#define Py_READONLY READONLY
#endif

namespace pm {
namespace {

struct FunctionObject {
  PyObject_HEAD
  vectorcallfunc vectorcall;
  const FunctionSpec* spec;
  PyObject* ns;  // the Context
  PyObject* name;
  PyObject* doc;
  PyObject* annotations;
  PyObject* weakrefs;
};

FunctionObject* as_function(PyObject* o) { return reinterpret_cast<FunctionObject*>(o); }

const char* spec_name(const FunctionSpec& s) { return name_text(s.name); }

PyTypeObject* expected_type(ArgType t) {
  switch (t) {
    case ArgType::Str: return &PyUnicode_Type;
    case ArgType::List: return &PyList_Type;
    case ArgType::Dict: return &PyDict_Type;
  }
  return nullptr;
}

PyObject* arity_error(const FunctionSpec& s, Py_ssize_t given) {
  PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
               spec_name(s), "exactly", static_cast<Py_ssize_t>(s.nparams),
               s.nparams == 2 ? "s" : "", given);
  return nullptr;
}

PyObject* type_error(const Param& p, PyObject* obj) {
  static const char kFormat[] = "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)";
  PyTypeObject* expected = expected_type(p.type);
  const char* got = Py_TYPE(obj)->tp_name;
  if (!PyObject_TypeCheck(obj, expected)) {
    PyErr_Format(PyExc_TypeError, kFormat, p.name, expected->tp_name, got);
    return nullptr;
  }
  // A subclass instance: the same error, with one note telling why.
  try {
    static const StaticStr kAddNote("add_note");
    Ref message = require(PyUnicode_FromFormat(kFormat, p.name, expected->tp_name, got));
    Ref exc = call(PyExc_TypeError, message.get());
    Ref note = require(PyUnicode_FromFormat(
        "subclasses of built-in types are rejected: pass an exact '%s' for '%s'",
        expected->tp_name, p.name));
    call_method(exc.get(), kAddNote, note.get());
    PyErr_SetObject(PyExc_TypeError, exc.get());
  } catch (const PyErrorSet&) {
  }
  return nullptr;
}

int param_index(const FunctionSpec& s, PyObject* key) {
  for (int i = 0; i < s.nparams; ++i) {
    if (PyUnicode_CompareWithASCIIString(key, s.params[i].name) == 0) return i;
  }
  return -1;
}

// Fills `bound` from a vectorcall; returns false with a TypeError set.
bool bind(const FunctionSpec& s, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** bound) {
  Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  if (nkw == 0 ? nargs != s.nparams : nargs > s.nparams) {
    arity_error(s, nargs);
    return false;
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) bound[i] = args[i];
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    if (!PyUnicode_Check(key)) {
      PyErr_SetString(PyExc_TypeError, "keywords must be strings");
      return false;
    }
    int i = param_index(s, key);
    if (i < 0) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", spec_name(s),
                   key);
      return false;
    }
    if (bound[i]) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                   spec_name(s), key);
      return false;
    }
    bound[i] = args[nargs + k];
  }
  for (int i = 0; i < s.nparams; ++i) {
    if (!bound[i]) {
      arity_error(s, i);
      return false;
    }
  }
  for (int i = 0; i < s.nparams; ++i) {
    if (Py_TYPE(bound[i]) != expected_type(s.params[i].type)) {
      type_error(s.params[i], bound[i]);
      return false;
    }
  }
  return true;
}

PyObject* run_body(FunctionObject* f, PyObject* const* bound) {
  try {
    Ref result = f->spec->body(*reinterpret_cast<Context*>(f->ns), bound);
    return result.release();
  } catch (const PyErrorSet&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

PyObject* function_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) {
  FunctionObject* f = as_function(self);
  PyObject* bound[2] = {nullptr, nullptr};
  if (!bind(*f->spec, args, PyVectorcall_NARGS(nargsf), kwnames, bound)) return nullptr;
  // Bodies call each other and user callbacks through the interpreter.
  if (Py_EnterRecursiveCall(" while calling a proofmark_core function")) return nullptr;
  PyObject* result = run_body(f, bound);
  Py_LeaveRecursiveCall();
  return result;
}

int function_traverse(PyObject* self, visitproc visit, void* arg) {
  FunctionObject* f = as_function(self);
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(f->ns);
  Py_VISIT(f->annotations);
  return 0;
}

int function_clear(PyObject* self) {
  FunctionObject* f = as_function(self);
  Py_CLEAR(f->ns);
  Py_CLEAR(f->annotations);
  return 0;
}

void function_dealloc(PyObject* self) {
  FunctionObject* f = as_function(self);
  PyTypeObject* tp = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  if (f->weakrefs) PyObject_ClearWeakRefs(self);
  function_clear(self);
  Py_CLEAR(f->name);
  Py_CLEAR(f->doc);
  tp->tp_free(self);
  Py_DECREF(tp);
}

// "name(p: ann, ...) -> ret", shared by the repr.
PyObject* signature_text(const FunctionSpec& s) {
  if (s.nparams == 1) {
    return PyUnicode_FromFormat("%s(%s: %s) -> %s", spec_name(s), s.params[0].name,
                                s.params[0].annotation, s.returns);
  }
  return PyUnicode_FromFormat("%s(%s: %s, %s: %s) -> %s", spec_name(s), s.params[0].name,
                              s.params[0].annotation, s.params[1].name, s.params[1].annotation,
                              s.returns);
}

PyObject* function_repr(PyObject* self) {
  PyObject* sig = signature_text(*as_function(self)->spec);
  if (!sig) return nullptr;
  PyObject* r = PyUnicode_FromFormat("<function %U>", sig);
  Py_DECREF(sig);
  return r;
}

PyObject* get_name(PyObject* self, void*) { return Py_NewRef(as_function(self)->name); }
PyObject* get_doc(PyObject* self, void*) { return Py_NewRef(as_function(self)->doc); }
PyObject* get_annotations(PyObject* self, void*) {
  return Py_NewRef(as_function(self)->annotations);
}
PyObject* get_none(PyObject*, void*) { Py_RETURN_NONE; }

// inspect.signature() finds the real parameters here.
PyObject* get_signature(PyObject* self, void*) {
  const FunctionSpec& s = *as_function(self)->spec;
  try {
    Ref inspect = require(PyImport_ImportModule("inspect"));
    static const StaticStr kParameter("Parameter"), kSignature("Signature"),
        kKind("POSITIONAL_OR_KEYWORD"), kAnnotation("annotation"),
        kReturn("return_annotation");
    Ref parameter = getattr(inspect.get(), kParameter);
    Ref kind = getattr(parameter.get(), kKind);
    Ref params = require(PyList_New(0));
    for (int i = 0; i < s.nparams; ++i) {
      Ref name = require(PyUnicode_FromString(s.params[i].name));
      Ref ann = require(PyUnicode_FromString(s.params[i].annotation));
      Ref kwnames = require(PyTuple_Pack(1, kAnnotation.get()));
      PyObject* argv[] = {nullptr, name.get(), kind.get(), ann.get()};
      Ref p = require(PyObject_Vectorcall(parameter.get(), argv + 1,
                                          2 | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames.get()));
      require_ok(PyList_Append(params.get(), p.get()));
    }
    Ref ret = require(PyUnicode_FromString(s.returns));
    Ref kwnames = require(PyTuple_Pack(1, kReturn.get()));
    Ref signature = getattr(inspect.get(), kSignature);
    PyObject* argv[] = {nullptr, params.get(), ret.get()};
    return PyObject_Vectorcall(signature.get(), argv + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                               kwnames.get());
  } catch (const PyErrorSet&) {
    return nullptr;
  }
}

// Pickling and copying go by name, as for any module-level function.
PyObject* function_reduce(PyObject* self, PyObject*) {
  return Py_NewRef(as_function(self)->name);
}

PyGetSetDef kGetSet[] = {
    {"__name__", get_name, nullptr, nullptr, nullptr},
    {"__qualname__", get_name, nullptr, nullptr, nullptr},
    {"__doc__", get_doc, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, nullptr, nullptr, nullptr},
    {"__defaults__", get_none, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_none, nullptr, nullptr, nullptr},
    {"__signature__", get_signature, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef kMethods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef kMembers[] = {
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(FunctionObject, vectorcall), Py_READONLY,
     nullptr},
    {"__weaklistoffset__", Py_T_PYSSIZET, offsetof(FunctionObject, weakrefs), Py_READONLY,
     nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_getset, kGetSet},
    {Py_tp_methods, kMethods},
    {Py_tp_members, kMembers},
    {0, nullptr},
};

PyType_Spec kSpec = {
    "proofmark_core.verify.function",
    sizeof(FunctionObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
        Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    kSlots,
};

PyTypeObject* function_type() {
  static PyObject* type = nullptr;
  if (!type) type = require(PyType_FromSpec(&kSpec)).release();
  return reinterpret_cast<PyTypeObject*>(type);
}

Ref make_annotations(const FunctionSpec& s) {
  Ref d = require(PyDict_New());
  for (int i = 0; i < s.nparams; ++i) {
    Ref v = require(PyUnicode_FromString(s.params[i].annotation));
    require_ok(PyDict_SetItemString(d.get(), s.params[i].name, v.get()));
  }
  Ref r = require(PyUnicode_FromString(s.returns));
  require_ok(PyDict_SetItemString(d.get(), "return", r.get()));
  return d;
}

}  // namespace

Ref make_function(const FunctionSpec& spec, PyObject* ns) {
  Ref annotations = make_annotations(spec);
  Ref doc = spec.doc ? require(PyUnicode_FromString(spec.doc)) : Ref::borrow(Py_None);
  auto* f = PyObject_GC_New(FunctionObject, function_type());
  if (!f) throw PyErrorSet{};
  f->vectorcall = function_vectorcall;
  f->spec = &spec;
  f->ns = Py_NewRef(ns);
  f->name = Py_NewRef(name_str(spec.name));
  f->doc = doc.release();
  f->annotations = annotations.release();
  f->weakrefs = nullptr;
  PyObject_GC_Track(f);
  return Ref::steal(reinterpret_cast<PyObject*>(f));
}

}  // namespace pm

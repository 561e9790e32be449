// Module start-up: the definition record, the creation and execution steps,
// and the namespace bound in its fixed order.
#include <cstdint>
#include <new>

#include "analysis/literals.hpp"
#include "analysis/patterns.hpp"
#include "binding/context.hpp"
#include "binding/errors.hpp"
#include "binding/function.hpp"
#include "engine/verify.hpp"
#include "matching/containment.hpp"
#include "matching/normal_form.hpp"

namespace pm {
namespace {

// A test build may record another version, to exercise the mismatch warning.
#ifndef PROOFMARK_BUILD_MAJOR
#define PROOFMARK_BUILD_MAJOR PY_MAJOR_VERSION
#define PROOFMARK_BUILD_MINOR PY_MINOR_VERSION
#endif

constexpr const char* kQualifiedName = "proofmark_core.verify";
constexpr int kBuildMajor = PROOFMARK_BUILD_MAJOR;
constexpr int kBuildMinor = PROOFMARK_BUILD_MINOR;

const StaticStr kQualifiedNameStr(kQualifiedName), kBuiltinsName("builtins"), kJsonName("json"),
    kReName("re"), kPathlibName("pathlib"), kSiblingName("proofmark_core.extract"),
    kSiblingShortName("extract");

// Process-wide records: the module lives in one interpreter and is never torn down.
int64_t g_interpreter_id = -1;
PyObject* g_module = nullptr;

// The nine underscore functions, in the order they are bound.
const FunctionSpec* const kHelpers[] = {
    &kAdditiveSpec, &kCleanSpec,    &kAtomsSpec,  &kKindOfSpec,  &kNormSpec,
    &kVariantsSpec, &kInSpec,       &kTokensSpec, &kWordsInSpec,
};

// --- creation step ---------------------------------------------------------

bool check_single_interpreter() {
  int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1 && PyErr_Occurred()) return false;
  if (g_interpreter_id == -1) {
    g_interpreter_id = id;
  } else if (id != g_interpreter_id) {
    PyErr_SetString(PyExc_ImportError,
                    "Interpreter change detected - this module can only be loaded into one "
                    "interpreter per process.");
    return false;
  }
  return true;
}

// Copies spec.<from> into the namespace as <to>; a missing attribute is skipped.
bool copy_spec_attr(PyObject* spec, PyObject* dict, const char* from, const char* to,
                    bool skip_none) {
  PyObject* value = PyObject_GetAttrString(spec, from);
  if (!value) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    return true;
  }
  int status = 0;
  if (!(skip_none && value == Py_None)) status = PyDict_SetItemString(dict, to, value);
  Py_DECREF(value);
  return status == 0;
}

PyObject* create_module(PyObject* spec, PyModuleDef*) {
  if (!check_single_interpreter()) return nullptr;
  if (g_module) return Py_NewRef(g_module);
  PyObject* name = PyObject_GetAttrString(spec, "name");
  if (!name) return nullptr;
  PyObject* module = PyModule_NewObject(name);
  Py_DECREF(name);
  if (!module) return nullptr;
  PyObject* dict = PyModule_GetDict(module);
  if (!copy_spec_attr(spec, dict, "loader", "__loader__", false) ||
      !copy_spec_attr(spec, dict, "origin", "__file__", false) ||
      !copy_spec_attr(spec, dict, "parent", "__package__", false) ||
      !copy_spec_attr(spec, dict, "submodule_search_locations", "__path__", true)) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}

// --- execution step --------------------------------------------------------

void check_runtime_version() {
  int major = static_cast<int>((Py_Version >> 24) & 0xFF);
  int minor = static_cast<int>((Py_Version >> 16) & 0xFF);
  if (major == kBuildMajor && minor == kBuildMinor) return;
  char message[200];
  PyOS_snprintf(message, sizeof message,
                "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                kBuildMajor, kBuildMinor, kQualifiedName, "does not match", major, minor);
  require_ok(PyErr_WarnEx(nullptr, message, 1));
}

void register_in_sys_modules(PyObject* module) {
  PyObject* modules = PyImport_GetModuleDict();
  int present = require_ok(PyDict_Contains(modules, kQualifiedNameStr.get()));
  if (!present) require_ok(PyDict_SetItem(modules, kQualifiedNameStr.get(), module));
}

// `import <name>` at level 0, reusing a module that is already loaded.
Ref import_module(const StaticStr& name) {
  Ref loaded = Ref::steal(PyImport_GetModule(name.get()));
  if (loaded && loaded.get() != Py_None) return loaded;
  if (PyErr_Occurred()) throw PyErrorSet{};
  return require(PyImport_ImportModuleLevelObject(name.get(), nullptr, nullptr, nullptr, 0));
}

// getattr(module, name), with the ImportError of `from module import name`.
Ref import_from(PyObject* module, PyObject* name) {
  PyObject* v = PyObject_GetAttr(module, name);
  if (v) return Ref::steal(v);
  if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
    PyErr_Clear();
    PyErr_Format(PyExc_ImportError, "cannot import name %S", name);
  }
  throw PyErrorSet{};
}

// `from .extract import WORK_VERB_RE`, taking an already loaded sibling directly.
Ref import_work_verb_re(PyObject* globals) {
  PyObject* attr = name_str(Name::WORK_VERB_RE);
  Ref sibling = Ref::steal(PyImport_GetModule(kSiblingName.get()));
  if (PyErr_Occurred()) throw PyErrorSet{};
  if (sibling && sibling.get() != Py_None) {
    PyObject* v = PyObject_GetAttr(sibling.get(), attr);
    if (v) return Ref::steal(v);
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PyErrorSet{};
    PyErr_Clear();
  }
  Ref fromlist = require(PyTuple_Pack(1, attr));
  Ref module = require(PyImport_ImportModuleLevelObject(kSiblingShortName.get(), globals,
                                                        nullptr, fromlist.get(), 1));
  return import_from(module.get(), attr);
}

void bind(Context& ns, Name n, const Ref& value) {
  require_ok(PyDict_SetItem(ns.dict, name_str(n), value.get()));
  ns.record_original(n, value.get());
}

// re.compile(text) or re.compile(text, re.I), through the namespace's `re`.
Ref compile_pattern(const Context& ns, const PatternDef& def) {
  Ref re = ns.lookup(Name::re);
  static const StaticStr kCompile("compile"), kIgnoreCase("I");
  Ref text = require(PyUnicode_FromString(def.text));
  if (!def.ignore_case) return call_method(re.get(), kCompile, text.get());
  Ref flag = getattr(re.get(), kIgnoreCase);
  return call_method(re.get(), kCompile, text.get(), flag.get());
}

// Binds the namespace; returns the context the functions share.
Ref run_body(PyObject* module, PyObject* builtins) {
  PyObject* dict = PyModule_GetDict(module);
  Ref ctx_ref = make_context(dict, builtins);
  Context& ns = *reinterpret_cast<Context*>(ctx_ref.get());

  bind(ns, Name::json, import_module(kJsonName));
  bind(ns, Name::re, import_module(kReName));
  Ref pathlib = import_module(kPathlibName);
  bind(ns, Name::Path, import_from(pathlib.get(), name_str(Name::Path)));
  ns.record_members();
  bind(ns, Name::WORK_VERB_RE, import_work_verb_re(dict));
  bind(ns, Name::READ_TOOLS, make_read_tools());
  for (const PatternDef& def : kModulePatterns) bind(ns, def.name, compile_pattern(ns, def));
  for (const FunctionSpec* spec : kHelpers) bind(ns, spec->name, make_function(*spec, ctx_ref.get()));
  bind(ns, Name::PREDICATE_RE, compile_pattern(ns, kPredicatePattern));
  bind(ns, Name::verify, make_function(kVerifySpec, ctx_ref.get()));
  Ref test = require(PyDict_New());
  require_ok(PyDict_SetItemString(dict, "__test__", test.get()));
  return ctx_ref;
}

void exec_steps(PyObject* module) {
  Ref builtins = import_module(kBuiltinsName);
  require_ok(PyObject_SetAttrString(module, "__builtins__", builtins.get()));
  check_runtime_version();
  register_in_sys_modules(module);
  Ref ctx = run_body(module, builtins.get());
  publish_context(ctx.get());
}

int exec_module(PyObject* module) {
  if (g_module) {
    if (g_module == module) return 0;
    PyErr_SetString(PyExc_RuntimeError,
                    "Module 'verify' has already been imported. Re-initialisation is not "
                    "supported.");
    return -1;
  }
  g_module = Py_NewRef(module);
  try {
    exec_steps(module);
    return 0;
  } catch (const PyErrorSet&) {
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  }
  add_traceback_entry("init proofmark_core.verify", "src/modules/verify_module.cpp", 1,
                      PyModule_GetDict(module));
  Py_CLEAR(g_module);
  return -1;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create_module)},
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "verify",
    "Verdicts: each claim's literals against what the run wrote, ran and saw. Pure code, no "
    "model.",
    0,
    nullptr,
    kSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace pm

PyMODINIT_FUNC PyInit_verify(void) { return PyModuleDef_Init(&pm::kModuleDef); }

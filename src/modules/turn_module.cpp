// Start-up of proofmark_core._turn, the turn engine: it imports the verify module,
// whose namespace and functions it judges by, and defines check_claims.
#include <new>

#include "binding/ref.hpp"
#include "turn/check_claims.hpp"
#include "turn/sound_record.hpp"

namespace pm {
namespace {

struct State {
  PyObject* verify_module;
};

State* state_of(PyObject* module) { return static_cast<State*>(PyModule_GetState(module)); }

PyObject* check_claims_entry(PyObject* module, PyObject* args, PyObject* kwargs) {
  static const char* kParams[] = {"claims", "run_log", nullptr};
  PyObject *claims, *run_log;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:check_claims", const_cast<char**>(kParams),
                                   &claims, &run_log)) {
    return nullptr;
  }
  try {
    return check_claims(state_of(module)->verify_module, claims, run_log).release();
  } catch (const PyErrorSet&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

PyObject* plainly_sound_entry(PyObject*, PyObject* record) {
  try {
    return PyBool_FromLong(plainly_sound_record(record));
  } catch (const PyErrorSet&) {
    return nullptr;
  }
}

int exec_module(PyObject* module) {
  PyObject* verify = PyImport_ImportModule("proofmark_core.verify");
  if (!verify) return -1;
  state_of(module)->verify_module = verify;
  return 0;
}

int traverse(PyObject* module, visitproc visit, void* arg) {
  State* s = state_of(module);
  if (s) Py_VISIT(s->verify_module);
  return 0;
}

int clear(PyObject* module) {
  State* s = state_of(module);
  if (s) Py_CLEAR(s->verify_module);
  return 0;
}

PyMethodDef kMethods[] = {
    {"check_claims", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(check_claims_entry)),
     METH_VARARGS | METH_KEYWORDS,
     "check_claims(claims, run_log)\n--\n\n"
     "[verify(claim, run_log) for claim in claims], with the RunLog read once for all of them."},
    {"plainly_sound", plainly_sound_entry, METH_O,
     "plainly_sound(record)\n--\n\n"
     "Whether a turn record of the exact types JSON decodes to has every field the engine\n"
     "reads, with the types it reads them as. False only means: look closer."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "_turn",
    "Every claim of a turn at once, for the price of one pass over its log.",
    sizeof(State),
    kMethods,
    kSlots,
    traverse,
    clear,
    nullptr,
};

}  // namespace
}  // namespace pm

PyMODINIT_FUNC PyInit__turn(void) { return PyModuleDef_Init(&pm::kModuleDef); }

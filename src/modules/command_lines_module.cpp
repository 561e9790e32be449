// Start-up of proofmark_core._command_lines: command lines cut into their parts and
// indexed by their words for the product rules, the native side of the Python code
// they are compared with.
#include <new>

#include "analysis/bare_lines.hpp"
#include "analysis/command_parts.hpp"
#include "analysis/stands_alone.hpp"
#include "analysis/word_ends.hpp"
#include "binding/ref.hpp"

namespace pm {
namespace {

// The result of an entry's body, its C++ exceptions turned back into Python's; a null
// Ref with no error set is None (a line left to the Python reader).
template <class Body>
PyObject* answer(Body body) {
  try {
    Ref result = body();
    return result ? result.release() : PyErr_Occurred() ? nullptr : Py_NewRef(Py_None);
  } catch (const PyErrorSet&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

PyObject* command_parts_entry(PyObject*, PyObject* line) {
  return answer([&] { return command_parts(line); });
}

PyObject* command_programs_entry(PyObject*, PyObject* line) {
  return answer([&] { return command_programs(line); });
}

PyObject* bare_lines_entry(PyObject*, PyObject* lines) {
  return answer([&] { return bare_lines(lines); });
}

PyObject* word_ends_index_entry(PyObject*, PyObject* lines) {
  return answer([&] { return word_ends_index(lines); });
}

PyObject* lines_holding_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 3) {
    return PyErr_Format(PyExc_TypeError, "lines_holding expected 3 arguments, got %zd", nargs);
  }
  return answer([&] { return lines_holding(args[0], args[1], args[2]); });
}

PyMethodDef kMethods[] = {
    {"command_parts", command_parts_entry, METH_O,
     "command_parts(line)\n--\n\n"
     "The parts of a command line between its operators, each a tuple of its words from\n"
     "the program on, normalised; None for a line left to the Python reader (not ASCII)."},
    {"command_programs", command_programs_entry, METH_O,
     "command_programs(line)\n--\n\n"
     "The parts of command_parts(line) by program: {program: [words after it, ...]}, in\n"
     "order; None for a line left to the Python reader."},
    {"bare_lines", bare_lines_entry, METH_O,
     "bare_lines(lines)\n--\n\n"
     "Each line case folded, without quotes, backslashes and slashes; None when a line is\n"
     "not an exact str."},
    {"word_ends_index", word_ends_index_entry, METH_O,
     "word_ends_index(lines)\n--\n\n"
     "{end: [index, ...]}: the lines by the ends of their words (split at whitespace and\n"
     "operators): the last piece after a dot, and the last two when the one before the\n"
     "last is not empty."},
    {"lines_holding",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(lines_holding_entry)),
     METH_FASTCALL,
     "lines_holding(word, lines, candidates)\n--\n\n"
     "The indices among candidates of the lines holding the word between whitespace,\n"
     "operators or the line's ends (or after a dot); for a word that is empty or holds\n"
     "an operator, of the lines holding it at all."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot kSlots[] = {
    {0, nullptr},
};

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "_command_lines",
    "Command lines cut into their parts and indexed, as the product rules read them.",
    0,
    kMethods,
    kSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace pm

PyMODINIT_FUNC PyInit__command_lines(void) { return PyModuleDef_Init(&pm::kModuleDef); }

// Literal extraction and classification: _clean, _atoms, _kind_of.
#include "analysis/literals.hpp"

namespace pm {
namespace {

Ref clean(const Context&, PyObject* const*) {
  PyErr_SetString(PyExc_NotImplementedError, "_clean");
  throw PyErrorSet{};
}

Ref atoms(const Context&, PyObject* const*) {
  PyErr_SetString(PyExc_NotImplementedError, "_atoms");
  throw PyErrorSet{};
}

Ref kind_of(const Context&, PyObject* const*) {
  PyErr_SetString(PyExc_NotImplementedError, "_kind_of");
  throw PyErrorSet{};
}

}  // namespace

const FunctionSpec kCleanSpec = {
    Name::_clean, 1, {{"t", ArgType::Str, "str"}}, "str", nullptr, clean,
};

const FunctionSpec kAtomsSpec = {
    Name::_atoms, 1, {{"t", ArgType::Str, "str"}}, "list[str]",
    "Split a composite target into literals a log could contain.", atoms,
};

const FunctionSpec kKindOfSpec = {
    Name::_kind_of, 1, {{"lit", ArgType::Str, "str"}}, "str", nullptr, kind_of,
};

}  // namespace pm

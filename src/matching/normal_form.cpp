// The normal form of a text, and the variant forms of a literal: _norm, _variants.
#include "matching/normal_form.hpp"

namespace pm {
namespace {

Ref norm(const Context&, PyObject* const*) {
  PyErr_SetString(PyExc_NotImplementedError, "_norm");
  throw PyErrorSet{};
}

Ref variants(const Context&, PyObject* const*) {
  PyErr_SetString(PyExc_NotImplementedError, "_variants");
  throw PyErrorSet{};
}

}  // namespace

const FunctionSpec kNormSpec = {
    Name::_norm, 1, {{"s", ArgType::Str, "str"}}, "str", nullptr, norm,
};

const FunctionSpec kVariantsSpec = {
    Name::_variants, 1, {{"lit", ArgType::Str, "str"}}, "list[str]", nullptr, variants,
};

}  // namespace pm

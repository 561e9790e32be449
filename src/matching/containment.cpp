// Containment tests of a literal in a pool of texts: _in, _tokens, _words_in.
#include "matching/containment.hpp"

namespace pm {
namespace {

Ref in(const Context&, PyObject* const*) {
  PyErr_SetString(PyExc_NotImplementedError, "_in");
  throw PyErrorSet{};
}

Ref tokens(const Context&, PyObject* const*) {
  PyErr_SetString(PyExc_NotImplementedError, "_tokens");
  throw PyErrorSet{};
}

Ref words_in(const Context&, PyObject* const*) {
  PyErr_SetString(PyExc_NotImplementedError, "_words_in");
  throw PyErrorSet{};
}

}  // namespace

const FunctionSpec kInSpec = {
    Name::_in, 2, {{"lit", ArgType::Str, "str"}, {"texts", ArgType::List, "list[str]"}}, "bool",
    nullptr, in,
};

const FunctionSpec kTokensSpec = {
    Name::_tokens, 1, {{"lit", ArgType::Str, "str"}}, "list[str]", nullptr, tokens,
};

const FunctionSpec kWordsInSpec = {
    Name::_words_in, 2, {{"lit", ArgType::Str, "str"}, {"texts", ArgType::List, "list[str]"}},
    "bool",
    "Weaker match: every word of a multi-word literal appears in ONE text\n"
    "    (`markdown.parse()` vs `mod = import_module(\"markdown\")` ... `mod.parse(md)`, "
    "or an error message quoted loosely).",
    words_in,
};

}  // namespace pm

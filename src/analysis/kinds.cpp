// Literal classification: _kind_of names the kind of a literal, which decides
// where the engine looks for it and how much a find counts.
#include "analysis/inline_re.hpp"
#include "analysis/literals.hpp"
#include "analysis/patterns.hpp"

namespace pm {
namespace {

// A file extension at the end: lower-case ASCII letters only, so `3.14` and
// `README.MD` are not paths.
const StaticStr kExtensionPattern(R"(\.[a-z]{1,5}$)");

const StaticStr kPath("path"), kKey("key"), kNumber("number"), kPhrase("phrase");

bool contains(PyObject* s, Py_UCS4 c) {
  Py_ssize_t at = PyUnicode_FindChar(s, c, 0, PyUnicode_GET_LENGTH(s), 1);
  if (at == -2) throw PyErrorSet{};
  return at >= 0;
}

bool looks_like_path(const Context& ns, PyObject* lit) {
  return contains(lit, '/') || re_search(ns, kExtensionPattern, lit, twin::extension);
}

// A setting or flag is one joined word; only U+0020 breaks it, as claims write it.
bool looks_like_key(PyObject* lit) {
  bool joined = contains(lit, '=') || contains(lit, '_') || contains(lit, '-');
  return joined && !contains(lit, ' ');
}

Ref kind_of(const Context& ns, PyObject* const* args) {
  PyObject* lit = args[0];
  if (looks_like_path(ns, lit)) return Ref::borrow(kPath.get());
  if (looks_like_key(lit)) return Ref::borrow(kKey.get());
  if (pattern_match(ns, Name::NUM_RE, lit)) return Ref::borrow(kNumber.get());
  return Ref::borrow(kPhrase.get());
}

}  // namespace

const FunctionSpec kKindOfSpec = {
    Name::_kind_of, 1, {{"lit", ArgType::Str, "str"}}, "str", nullptr, kind_of,
};

}  // namespace pm

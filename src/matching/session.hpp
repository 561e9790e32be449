// Native containment for one call: normal forms made at most once per text
// object and home directory (and shared by every pool that holds the object), the
// home directory asked again only when what it comes from has changed, and a
// literal's variants or words searched for in one pass.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "binding/context.hpp"
#include "matching/home_watch.hpp"
#include "matching/native_norm.hpp"
#include "matching/variant_search.hpp"

namespace pm {

class MatchSession {
 public:
  explicit MatchSession(const Context& ns) : ns_(ns) {}
  MatchSession(const MatchSession&) = delete;
  MatchSession& operator=(const MatchSession&) = delete;

  // Whether a body may run natively: everything it calls, by name or through
  // `re` and `Path`, is still the original.
  bool norm_native() const;
  bool variants_native() const;
  bool tokens_native() const;
  bool in_native() const;
  bool words_in_native() const;
  // `_norm` is the original and its body may run natively.
  bool calls_norm_native() const;

  // _norm(s) for an exact str `s`, natively, as a new str.
  Ref form_str(PyObject* s);
  // _variants(lit) and _tokens(lit), natively, as new lists.
  Ref variants_list(PyObject* lit);
  Ref tokens_list(PyObject* lit);

  // _in(lit, texts) and _words_in(lit, texts) for a list `texts`, natively.
  bool in(PyObject* lit, PyObject* texts);
  bool words_in(PyObject* lit, PyObject* texts);
  // _in(lit, [text]).
  bool in_one(PyObject* lit, PyObject* text);
  // `part in _norm(s)` for exact strs.
  bool holds(PyObject* s, PyObject* part);

 private:
  struct Forms {
    Ref text;  // keeps the object, and so its address, alive
    Utf8 utf8;
  };
  struct Needles {
    Ref lit;
    std::vector<std::string> forms;  // UTF-8
    VariantSearch search;
  };
  struct Words {
    Ref lit;
    std::vector<std::string> forms;  // UTF-8
  };

  // Each operation above asks the home directory first, as _norm would.
  void ask_home();
  std::string_view form(PyObject* s);
  const Needles& variants(PyObject* lit);
  const Words& tokens(PyObject* lit);

  const Context& ns_;
  HomeWatch watch_;
  Ref home_;
  std::unordered_map<PyObject*, Forms> forms_;
  std::unordered_map<PyObject*, Needles> variants_;
  std::unordered_map<PyObject*, Words> tokens_;
};

}  // namespace pm

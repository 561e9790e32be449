// Containment over normal forms kept for the whole call. The Python-level
// bodies of _in and _words_in stay the oracle: same walk over the pool, same
// errors at the same entries, same answers.
#include "matching/session.hpp"

#include <algorithm>

#include "analysis/text.hpp"
#include "matching/find.hpp"
#include "matching/forms.hpp"
#include "matching/normal_form.hpp"

namespace pm {
namespace {

Ref list_of(const std::vector<std::string>& forms) {
  Ref out = require(PyList_New(0));
  for (const std::string& f : forms) require_ok(PyList_Append(out.get(), str_of_utf8(f).get()));
  return out;
}

bool holds_all(std::string_view text, const std::vector<std::string>& needles) {
  return std::all_of(needles.begin(), needles.end(),
                     [&](const std::string& n) { return contains_bytes(text, n); });
}

// The entry at `i` is worth normalising: None and empty strs are passed over,
// anything but an exact str is refused, as the pool walk of _in refuses it.
bool worth_normalising(PyObject* entry) {
  if (entry == Py_None) return false;
  if (!PyUnicode_CheckExact(entry)) {
    PyErr_Format(PyExc_TypeError, "Expected %.42s, got %.200s", "str", Py_TYPE(entry)->tp_name);
    throw PyErrorSet{};
  }
  return PyUnicode_GET_LENGTH(entry) > 0;
}

// Calls f(entry) for the entries worth normalising until it returns true.
template <class F>
bool any_entry(PyObject* texts, F&& f) {
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(texts); ++i) {
    Ref entry = Ref::borrow(PyList_GET_ITEM(texts, i));
    if (worth_normalising(entry.get()) && f(entry.get())) return true;
  }
  return false;
}

}  // namespace

bool MatchSession::norm_native() const {
  return ns_.still_original(Name::NUM_RE) && ns_.member_still_original(Member::re_sub) &&
         ns_.member_still_original(Member::Path_home);
}

bool MatchSession::calls_norm_native() const {
  return ns_.still_original(Name::_norm) && norm_native();
}

bool MatchSession::variants_native() const {
  return ns_.member_still_original(Member::re_fullmatch) && calls_norm_native();
}

bool MatchSession::tokens_native() const {
  return ns_.member_still_original(Member::re_split) && calls_norm_native();
}

bool MatchSession::in_native() const {
  return ns_.still_original(Name::_variants) && variants_native();
}

bool MatchSession::words_in_native() const {
  return ns_.still_original(Name::_tokens) && tokens_native();
}

// str(Path.home()), as _norm asks it. No Python code runs within one operation,
// so the home cannot change there; between two a callback may change it, or make
// it fail, and then it is asked again. Forms made under another home go.
void MatchSession::ask_home() {
  if (watch_.unchanged() && home_) return;
  Ref text = home_dir(ns_);
  if (home_ && !require_ok(PyObject_RichCompareBool(home_.get(), text.get(), Py_EQ))) {
    forms_.clear();
    variants_.clear();
    tokens_.clear();
  }
  home_ = std::move(text);
}

std::string_view MatchSession::form(PyObject* s) {
  auto it = forms_.find(s);
  if (it == forms_.end()) {
    Utf8 utf8 = native_norm(s, home_.get());
    it = forms_.emplace(s, Forms{Ref::borrow(s), std::move(utf8)}).first;
  }
  return it->second.utf8.view();
}

Ref MatchSession::form_str(PyObject* s) {
  ask_home();
  return str_of_utf8(form(s));
}

const MatchSession::Needles& MatchSession::variants(PyObject* lit) {
  auto it = variants_.find(lit);
  if (it != variants_.end()) return it->second;
  std::vector<std::string> forms = variant_forms(decode(form(lit)));
  VariantSearch search(forms);
  return variants_.emplace(lit, Needles{Ref::borrow(lit), std::move(forms), std::move(search)})
      .first->second;
}

const MatchSession::Words& MatchSession::tokens(PyObject* lit) {
  auto it = tokens_.find(lit);
  if (it != tokens_.end()) return it->second;
  std::vector<std::string> forms = token_forms(decode(form(lit)));
  return tokens_.emplace(lit, Words{Ref::borrow(lit), std::move(forms)}).first->second;
}

Ref MatchSession::variants_list(PyObject* lit) {
  ask_home();
  return list_of(variants(lit).forms);
}

Ref MatchSession::tokens_list(PyObject* lit) {
  ask_home();
  return list_of(tokens(lit).forms);
}

bool MatchSession::in(PyObject* lit, PyObject* texts) {
  ask_home();
  const Needles& v = variants(lit);
  return any_entry(texts, [&](PyObject* entry) {
    return !v.forms.empty() && v.search.found_in(form(entry));
  });
}

bool MatchSession::in_one(PyObject* lit, PyObject* text) {
  ask_home();
  const Needles& v = variants(lit);
  return worth_normalising(text) && !v.forms.empty() && v.search.found_in(form(text));
}

bool MatchSession::holds(PyObject* s, PyObject* part) {
  ask_home();
  std::string_view text = form(s);
  std::string needle = with_chars(view_of(part), [](auto c) {
    return encode(Points(c.p, c.p + c.n));
  });
  return contains_bytes(text, needle);
}

bool MatchSession::words_in(PyObject* lit, PyObject* texts) {
  ask_home();
  const Words& t = tokens(lit);
  if (t.forms.size() < 2) return false;
  return any_entry(texts, [&](PyObject* entry) { return holds_all(form(entry), t.forms); });
}

}  // namespace pm

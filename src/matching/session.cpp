// Containment over normal forms kept for the whole call. The Python-level
// bodies of _in and _words_in stay the oracle: same walk over the pool, same
// errors at the same entries, same answers.
#include "matching/session.hpp"

#include <string.h>

#include <algorithm>

#include "analysis/rx/shapes.hpp"
#include "analysis/rx/spacing.hpp"
#include "matching/find.hpp"
#include "matching/utf8.hpp"

namespace pm {
namespace {

const StaticStr kHome("home");

using Points = std::vector<Py_UCS4>;

Points decode(std::string_view v) {
  Points cps;
  for (size_t i = 0; i < v.size();) cps.push_back(next_utf8(v, i));
  return cps;
}

std::string encode(const Points& cps) {
  std::string out(cps.size() * 4, '\0');
  char* end = out.data();
  for (Py_UCS4 c : cps) end = put_utf8(end, c);
  out.resize(static_cast<size_t>(end - out.data()));
  return out;
}

Points points(const char* ascii) { return Points(ascii, ascii + strlen(ascii)); }

bool stands_at(const Points& s, size_t i, const Points& part) {
  return i + part.size() <= s.size() &&
         std::equal(part.begin(), part.end(), s.begin() + static_cast<long>(i));
}

// str.replace(old, new) for a non-empty `old`: every occurrence, left to right.
Points replaced(const Points& s, const Points& old, const Points& with) {
  Points out;
  for (size_t i = 0; i < s.size();) {
    if (stands_at(s, i, old)) {
      out.insert(out.end(), with.begin(), with.end());
      i += old.size();
    } else {
      out.push_back(s[i++]);
    }
  }
  return out;
}

// str.strip()
Points stripped(const Points& s) {
  Py_ssize_t a, b;
  rx::strip_spaces(Chars<Py_UCS4>{s.data(), static_cast<Py_ssize_t>(s.size())}, &a, &b);
  return Points(s.begin() + a, s.begin() + b);
}

Points joined(std::initializer_list<const Points*> parts) {
  Points out;
  for (const Points* p : parts) out.insert(out.end(), p->begin(), p->end());
  return out;
}

// The forms of _variants in the order it makes them, duplicates dropped, and
// only those of at least two characters.
std::vector<std::string> variant_forms(const Points& s) {
  const Points eq = points("="), spaced_eq = points(" = "), space = points(" "), none;
  std::vector<Points> forms = {s, replaced(s, spaced_eq, eq), replaced(s, eq, spaced_eq),
                               replaced(s, space, none)};
  if (rx::key_value_fullmatch(Chars<Py_UCS4>{s.data(), static_cast<Py_ssize_t>(s.size())})) {
    auto at = std::find(s.begin(), s.end(), static_cast<Py_UCS4>('='));
    Points k = stripped(Points(s.begin(), at)), v = stripped(Points(at + 1, s.end()));
    const Points colon = points(": "), quote = points("\""), apos = points("'");
    const Points qcolon = points("\": "), colon_apos = points(": '"), colon_quote = points(": \"");
    const Points qcolon_quote = points("\": \"");
    forms.push_back(joined({&k, &colon, &v}));
    forms.push_back(joined({&quote, &k, &qcolon, &v}));
    forms.push_back(joined({&k, &colon_apos, &v, &apos}));
    forms.push_back(joined({&k, &colon_quote, &v, &quote}));
    forms.push_back(joined({&quote, &k, &qcolon_quote, &v, &quote}));
  }
  std::vector<Points> seen;
  std::vector<std::string> kept;
  for (const Points& f : forms) {
    if (std::find(seen.begin(), seen.end(), f) != seen.end()) continue;
    seen.push_back(f);
    if (f.size() > 1) kept.push_back(encode(f));
  }
  return kept;
}

bool all_digits(const Points& s, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (!Py_UNICODE_ISDIGIT(s[i])) return false;
  }
  return true;
}

// The word runs of _tokens: at least 3 characters, and not digits only.
std::vector<std::string> token_forms(const Points& s) {
  std::vector<std::string> kept;
  for (size_t i = 0; i < s.size();) {
    if (!rx::is_word(s[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < s.size() && rx::is_word(s[end])) ++end;
    if (end - i > 2 && !all_digits(s, i, end)) {
      kept.push_back(encode(Points(s.begin() + static_cast<long>(i),
                                   s.begin() + static_cast<long>(end))));
    }
    i = end;
  }
  return kept;
}

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
  Ref path = ns_.lookup(Name::Path);
  Ref home = call_method(path.get(), kHome);
  Ref text = require(PyObject_Str(home.get()));
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

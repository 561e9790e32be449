// Variant forms and word tokens of a literal's normal form, built on code points
// as the Python-level bodies build them on str.
#include "matching/forms.hpp"

#include <string.h>

#include <algorithm>

#include "analysis/rx/shapes.hpp"
#include "analysis/rx/spacing.hpp"
#include "analysis/text.hpp"
#include "matching/utf8.hpp"

namespace pm {
namespace {

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

bool all_digits(const Points& s, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) {
    if (!Py_UNICODE_ISDIGIT(s[i])) return false;
  }
  return true;
}

}  // namespace

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

}  // namespace pm

// The normal form in one pass over the characters: strip, strip quotes, one
// space per whitespace run and lower-casing together, then the two number rules.
#include "matching/native_norm.hpp"

#include <array>
#include <cstring>
#include <vector>

#include "analysis/rx/numbers.hpp"
#include "analysis/rx/spacing.hpp"
#include "matching/utf8.hpp"

namespace pm {

void Utf8::grow(size_t n, size_t capacity) {
  if (capacity <= cap_) return;
  std::unique_ptr<char[]> p(new char[capacity]);
  if (n) std::memcpy(p.get(), p_.get(), n);
  p_ = std::move(p);
  cap_ = capacity;
}

namespace {

constexpr Py_UCS4 kDottedCapitalI = 0x130;  // lower-cases to "i" and U+0307
constexpr Py_UCS4 kCombiningDot = 0x307;
constexpr Py_UCS4 kCapitalSigma = 0x3A3;    // final or not, by its neighbours

const StaticStr kLower("lower");

// ASCII lower-case, with every ASCII whitespace character as a space.
constexpr std::array<char, 128> make_ascii_fold() {
  std::array<char, 128> t{};
  for (int c = 0; c < 128; ++c) {
    bool space = (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20);
    t[c] = static_cast<char>(space ? ' ' : (c >= 'A' && c <= 'Z') ? c + 32 : c);
  }
  return t;
}
constexpr std::array<char, 128> kAsciiFold = make_ascii_fold();

// Bytes one character may need: its own width's worst case in UTF-8.
template <class Ch>
constexpr size_t worst_bytes() {
  return sizeof(Ch) == 1 ? 2 : sizeof(Ch) == 2 ? 3 : 4;
}

// Strips, collapses whitespace and lower-cases `t` into `out`. Returns false
// when `t` holds a capital sigma: then str.lower must decide.
template <class Ch>
bool fold(Chars<Ch> t, Utf8& out) {
  Py_ssize_t a, b;
  rx::strip_spaces(t, &a, &b);
  t = t.sub(a, b);
  rx::strip_quotes(t, &a, &b);
  t = t.sub(a, b);
  out.grow(0, static_cast<size_t>(t.n) * worst_bytes<Ch>() + 8);
  char* o = out.begin();
  char* limit = o + out.capacity() - 8;
  bool in_space = false;
  for (Py_ssize_t i = 0; i < t.n; ++i) {
    Py_UCS4 c = t[i];
    if (c < 128) {
      // Branch-free: a space is written always and kept only after a non-space.
      char m = kAsciiFold[c];
      bool space = m == ' ';
      *o = m;
      o += !(space && in_space);
      in_space = space;
      continue;
    }
    if (rx::is_space(c)) {
      if (!in_space) *o++ = ' ';
      in_space = true;
      continue;
    }
    in_space = false;
    if (c == kCapitalSigma) return false;
    if (o > limit) {
      size_t used = static_cast<size_t>(o - out.begin());
      out.grow(used, out.capacity() * 2);
      o = out.begin() + used;
      limit = out.begin() + out.capacity() - 8;
    }
    if (c == kDottedCapitalI) {
      *o++ = 'i';
      o = put_utf8(o, kCombiningDot);
    } else {
      o = put_utf8(o, Py_UNICODE_TOLOWER(c));
    }
  }
  out.set_size(static_cast<size_t>(o - out.begin()));
  return true;
}

template <class Ch>
void encode(Chars<Ch> t, Utf8& out) {
  out.grow(0, static_cast<size_t>(t.n) * 4 + 8);
  char* o = out.begin();
  for (Py_ssize_t i = 0; i < t.n; ++i) o = put_utf8(o, t[i]);
  out.set_size(static_cast<size_t>(o - out.begin()));
}

// Steps before lower-casing, for str.lower to finish: strip, strip quotes, collapse.
template <class Ch>
Ref unfolded_str(Chars<Ch> t) {
  Py_ssize_t a, b;
  rx::strip_spaces(t, &a, &b);
  t = t.sub(a, b);
  rx::strip_quotes(t, &a, &b);
  std::vector<Py_UCS4> out;
  rx::collapse_spaces(t.sub(a, b), out);
  return require(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, out.data(),
                                           static_cast<Py_ssize_t>(out.size())));
}

std::vector<Py_UCS4> decode(std::string_view v) {
  std::vector<Py_UCS4> cps;
  for (size_t i = 0; i < v.size();) cps.push_back(next_utf8(v, i));
  return cps;
}

Chars<Py_UCS4> chars_of(const std::vector<Py_UCS4>& v) {
  return {v.data(), static_cast<Py_ssize_t>(v.size())};
}

// NUM_RE.match over the normal form; most texts fail on their first character.
bool is_plain_number(std::string_view v) {
  std::vector<Py_UCS4> cps;
  for (size_t i = 0; i < v.size();) {
    Py_UCS4 c = next_utf8(v, i);
    if (!rx::is_digit(c) && c != ',' && c != '.' && c != '\n') return false;
    cps.push_back(c);
  }
  return rx::num_match(chars_of(cps));
}

// Steps 7 and 8 of the normal form: commas out of a plain number, then an "x"
// after a final digit.
void number_rules(Utf8& out) {
  std::string_view v = out.view();
  if (is_plain_number(v)) {
    char* o = out.begin();
    size_t n = 0;
    for (char c : v) {
      if (c != ',') o[n++] = c;
    }
    out.set_size(n);
    v = out.view();
  }
  // The pattern looks at most at the last three characters.
  size_t tail = v.size();
  for (int k = 0; k < 3 && tail > 0; ++k) tail = prev_utf8(v, tail);
  std::vector<Py_UCS4> last = decode(v.substr(tail));
  Py_ssize_t x = rx::final_x_after_digit(chars_of(last));
  if (x < 0) return;
  // Only ASCII may follow the "x": at most a newline.
  size_t at = v.size() - static_cast<size_t>(static_cast<Py_ssize_t>(last.size()) - x);
  std::memmove(out.begin() + at, out.begin() + at + 1, v.size() - at - 1);
  out.set_size(v.size() - 1);
}

template <class Ch>
Utf8 norm_chars(Chars<Ch> t) {
  Utf8 out;
  if (!fold(t, out)) {
    Ref lowered = call_method(unfolded_str(t).get(), kLower);
    with_chars(view_of(lowered.get()), [&](auto l) { encode(l, out); });
  }
  number_rules(out);
  return out;
}

// s.replace("~", home), as code points.
std::vector<Py_UCS4> with_home(TextView s, TextView home) {
  std::vector<Py_UCS4> h;
  with_chars(home, [&](auto hc) {
    for (Py_ssize_t i = 0; i < hc.n; ++i) h.push_back(hc[i]);
  });
  std::vector<Py_UCS4> out;
  with_chars(s, [&](auto sc) {
    out.reserve(static_cast<size_t>(sc.n));
    for (Py_ssize_t i = 0; i < sc.n; ++i) {
      if (sc[i] == '~') {
        out.insert(out.end(), h.begin(), h.end());
      } else {
        out.push_back(sc[i]);
      }
    }
  });
  return out;
}

}  // namespace

Utf8 native_norm(PyObject* s, PyObject* home) {
  TextView v = view_of(s);
  Py_ssize_t tilde = PyUnicode_FindChar(s, '~', 0, v.length, 1);
  if (tilde == -2) throw PyErrorSet{};
  if (tilde == -1) {
    return with_chars(v, [](auto t) { return norm_chars(t); });
  }
  std::vector<Py_UCS4> t = with_home(v, view_of(home));
  return norm_chars(chars_of(t));
}

Ref str_of_utf8(std::string_view utf8) {
  return require(PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()),
                                      "surrogatepass"));
}

std::optional<std::string_view> ascii_unfolded_form(PyObject* s) {
  if (!PyUnicode_IS_ASCII(s)) return std::nullopt;
  const auto* p = static_cast<const Py_UCS1*>(PyUnicode_DATA(s));
  const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
  if (std::memchr(p, '~', static_cast<size_t>(n))) return std::nullopt;
  Chars<Py_UCS1> t{p, n};
  Py_ssize_t a, b;
  rx::strip_spaces(t, &a, &b);
  t = t.sub(a, b);
  rx::strip_quotes(t, &a, &b);
  t = t.sub(a, b);
  // Digits, commas and points alone may make a plain number, whose commas go.
  bool number_like = true;
  for (Py_ssize_t i = 0; i < t.n && number_like; ++i) {
    number_like = rx::is_digit(t[i]) || t[i] == ',' || t[i] == '.';
  }
  if (number_like) return std::nullopt;
  // A final "x" after a digit goes; a whitespace run before it would be a space.
  if (t.n >= 2 && (t[t.n - 1] | 0x20) == 'x' && rx::is_digit(t[t.n - 2])) t.n -= 1;
  return std::string_view(reinterpret_cast<const char*>(t.p), static_cast<size_t>(t.n));
}

}  // namespace pm

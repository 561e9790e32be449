// The normal form of _norm computed over a str's own storage, as UTF-8 bytes
// for substring search, and back as a str when a caller needs one.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

#include "binding/ref.hpp"

namespace pm {

// An owned byte buffer; no zero-filling, since normal forms of whole logs are large.
class Utf8 {
 public:
  Utf8() = default;

  std::string_view view() const { return {p_.get(), n_}; }
  char* begin() { return p_.get(); }
  size_t capacity() const { return cap_; }
  void set_size(size_t n) { n_ = n; }
  // Keeps the first `n` bytes and makes room for at least `capacity`.
  void grow(size_t n, size_t capacity);

 private:
  std::unique_ptr<char[]> p_;
  size_t n_ = 0;
  size_t cap_ = 0;
};

// _norm(s) given `home`, the text of Path.home(); both exact strs.
// A capital sigma leaves its lower-case form to str.lower, which may raise.
Utf8 native_norm(PyObject* s, PyObject* home);

// The str whose normal form bytes these are.
Ref str_of_utf8(std::string_view utf8);

// The normal form of most texts is the text itself lower-cased, with every run of
// whitespace made one space, between two ends that the strips and the final "x"
// rule set: so it is for an ASCII text without "~" that is not a plain number.
// For such a text, returns its bytes between those ends; for any other, nothing.
std::optional<std::string_view> ascii_unfolded_form(PyObject* s);

}  // namespace pm

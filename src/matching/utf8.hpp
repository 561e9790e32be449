// UTF-8 of code points as the normal forms are searched: every code point,
// lone surrogates included, in its own 1 to 4 bytes, so that containment of
// byte strings is containment of texts.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <string_view>

namespace pm {

// Writes `c` at `out` and returns the position after it (at most 4 bytes).
inline char* put_utf8(char* out, Py_UCS4 c) {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (c >> 18));
    *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// The code point that starts at `i` of `s`, which put_utf8 wrote; `i` moves past it.
inline Py_UCS4 next_utf8(std::string_view s, size_t& i) {
  auto b = [&](size_t k) { return static_cast<Py_UCS4>(static_cast<unsigned char>(s[k])); };
  Py_UCS4 c = b(i);
  if (c < 0x80) {
    i += 1;
    return c;
  }
  if (c < 0xE0) {
    c = ((c & 0x1F) << 6) | (b(i + 1) & 0x3F);
    i += 2;
    return c;
  }
  if (c < 0xF0) {
    c = ((c & 0x0F) << 12) | ((b(i + 1) & 0x3F) << 6) | (b(i + 2) & 0x3F);
    i += 3;
    return c;
  }
  c = ((c & 0x07) << 18) | ((b(i + 1) & 0x3F) << 12) | ((b(i + 2) & 0x3F) << 6) | (b(i + 3) & 0x3F);
  i += 4;
  return c;
}

// Start of the code point that ends at `end` (> 0).
inline size_t prev_utf8(std::string_view s, size_t end) {
  size_t i = end - 1;
  while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
  return i;
}

}  // namespace pm

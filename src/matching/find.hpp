// Substring search without per-call set-up, for the many short texts of a pool:
// the first and last byte of the needle are compared at 16 positions at once,
// and only where both agree is the rest compared.
#pragma once

#include <string.h>

#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pm {

// Needles longer than this go to the C library's memmem where it is the GNU one:
// its two-way search is linear in the text, where comparing at each candidate
// position may cost the needle's length every time ("a…ab…a" in "a…a").
constexpr size_t kLongNeedle = 256;

// Position of the first occurrence of `needle` at or after `from`, or npos.
inline size_t find_bytes(std::string_view text, size_t from, std::string_view needle) {
  const size_t n = text.size(), k = needle.size();
  if (k == 0) return from <= n ? from : std::string_view::npos;
  const char* s = text.data();
  const char* w = needle.data();
#if defined(__GLIBC__)
  if (k > kLongNeedle) {
    if (from > n) return std::string_view::npos;
    const void* at = memmem(s + from, n - from, w, k);
    return at ? static_cast<size_t>(static_cast<const char*>(at) - s) : std::string_view::npos;
  }
#endif
  size_t i = from;
#if defined(__SSE2__)
  if (k > 1) {
    const __m128i first = _mm_set1_epi8(w[0]);
    const __m128i last = _mm_set1_epi8(w[k - 1]);
    for (; i + k - 1 + 16 <= n; i += 16) {
      __m128i at_first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
      __m128i at_last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + k - 1));
      unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(
          _mm_and_si128(_mm_cmpeq_epi8(first, at_first), _mm_cmpeq_epi8(last, at_last))));
      while (mask) {
        size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
        if (memcmp(s + at + 1, w + 1, k - 2) == 0) return at;
        mask &= mask - 1;
      }
    }
  }
#endif
  for (; i + k <= n; ++i) {
    if (s[i] == w[0] && s[i + k - 1] == w[k - 1] && memcmp(s + i + 1, w + 1, k - 1) == 0) {
      return i;
    }
  }
  return std::string_view::npos;
}

inline bool contains_bytes(std::string_view text, std::string_view needle) {
  return find_bytes(text, 0, needle) != std::string_view::npos;
}

}  // namespace pm

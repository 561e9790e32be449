// Native twins of the pattern calls: each gives, for an exact str, what the
// `re` call beside which it is named gives. Callers use one only while `re`
// (or the compiled pattern) is still the original.
#pragma once

#include "analysis/text.hpp"
#include "binding/names.hpp"
#include "binding/ref.hpp"

namespace pm {

// Truth of a search, match or fullmatch.
using NativeTest = bool (*)(TextView);
// The new str of a sub, or the list of a split.
using NativeRewrite = Ref (*)(PyObject*);

// Twins of `<compiled pattern>.search` and `.match` for the module's patterns;
// nullptr where there is none.
NativeTest native_search(Name pattern);
NativeTest native_match(Name pattern);

namespace twin {

// re.sub(r"\s+", " ", s)
Ref collapse_spaces(PyObject* s);
// re.sub(r"(?<=\d)x$", "", s)
Ref drop_final_x(PyObject* s);
// re.fullmatch(r"[\w.-]+\s*=\s*.+", s)
bool key_value(TextView s);
// re.split(r"[^\w]+", s)
Ref split_non_word(PyObject* s);
// re.sub(r"`[^`]*`", " ", s)
Ref blank_backtick_spans(PyObject* s);
// re.match(r"\s*(cat|sed -n|head|tail|grep|less|find|ls|rg)\b", s)
bool read_command(TextView s);
// re.search(r"\b(grep|rg|find)\b", s)
bool search_command(TextView s);
// re.sub(r"[≈~](?=\s*\d)", "", s)
Ref drop_approx_marks(PyObject* s);
// re.sub(r"(\.\w{1,5}):\d+(?:-\d+)?$", r"\1", s)
Ref drop_line_suffix(PyObject* s);
// re.search(r"→|->| / |,| and |\.\.", s)
bool composite(TextView s);
// re.split(r"\s*(?:→|->|/|,|;|\band\b|\.\.|\bthen\b)\s*", s)
Ref split_atoms(PyObject* s);
// re.sub(r"^(?=\d)|^[a-z](?=\d)", "", s)
Ref drop_letter_before_digit(PyObject* s);
// re.sub(r"^([\d.,]+)\s*(px|fps|ms|s|%|mb|gb|kb|bytes?|chars?|rows?|layers?)$", r"\1", s,
// flags=re.I)
Ref drop_unit(PyObject* s);
// re.search(r"\.[a-z]{1,5}$", s)
bool extension(TextView s);

}  // namespace twin
}  // namespace pm

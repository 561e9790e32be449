// The needles of a literal, as UTF-8 of code points: the forms _variants makes of
// its normal form, and the words _tokens finds in it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <string_view>
#include <vector>

namespace pm {

using Points = std::vector<Py_UCS4>;

Points decode(std::string_view utf8);
std::string encode(const Points& cps);

// The forms of _variants in the order it makes them, duplicates dropped, and
// only those of at least two characters. `s` is a normal form.
std::vector<std::string> variant_forms(const Points& s);

// The word runs of _tokens: at least 3 characters, and not digits only, in order
// and with repeats. `s` is a normal form.
std::vector<std::string> token_forms(const Points& s);

}  // namespace pm

// Plain JSON values: what a turn record decoded from JSON is made of.
#pragma once

#include "binding/ref.hpp"

namespace pm {

// `o` is an exact dict with exact str keys, list, str, int, float, bool or None,
// and so is everything in it, nested no deeper than a JSON document sensibly is.
// No Python code runs when such a value is read, compared, hashed or serialised,
// so checking many claims against it at once cannot differ from one at a time.
bool is_plain_json(PyObject* o);

}  // namespace pm

namespace pm {

// Thrown where a turn is not one the turn engine answers for (a pool entry that is
// not text, a record of another shape): verify then judges claim by claim.
struct Unindexable {};

}  // namespace pm

// The module-level names that the functions look up at each use.
#pragma once

#include "binding/ref.hpp"

namespace pm {

// In the order the module binds them.
enum class Name : int {
  json,
  re,
  Path,
  WORK_VERB_RE,
  READ_TOOLS,
  NUM_RE,
  EMPTY_RE,
  ADDITIVE_RE,
  READ_CODE_RE,
  SHELL_WRITE_RE,
  NEGATED_RE,
  _additive,
  _clean,
  _atoms,
  _kind_of,
  _norm,
  _variants,
  _in,
  _tokens,
  _words_in,
  PREDICATE_RE,
  verify,
};
inline constexpr int kNameCount = static_cast<int>(Name::verify) + 1;

const char* name_text(Name n);
// The interned str of a name, usable as a dict key.
PyObject* name_str(Name n);

}  // namespace pm

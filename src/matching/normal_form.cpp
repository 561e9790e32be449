// The normal form of a text, and the variant forms of a literal: _norm, _variants.
#include "matching/normal_form.hpp"

#include "analysis/patterns.hpp"
#include "analysis/inline_re.hpp"
#include "matching/session.hpp"

namespace pm {
namespace {

// Inline patterns, handed to the namespace's `re` as text on every call.
const StaticStr kWhitespaceRunPattern(R"(\s+)");
const StaticStr kTrailingTimesPattern(R"((?<=\d)x$)");
const StaticStr kKeyValuePattern(R"([\w.-]+\s*=\s*.+)");

const StaticStr kHome("home"), kStrip("strip"), kLower("lower"), kReplace("replace"),
    kSplit("split");
const StaticStr kTilde("~"), kQuotes("`'\""), kSpace(" "), kEmpty(""), kComma(","),
    kEquals("="), kSpacedEquals(" = ");

Ref norm(const Context& ns, PyObject* const* args) {
  MatchSession session(ns);
  if (session.norm_native()) return session.form_str(args[0]);
  Ref home = home_dir(ns);
  Ref s = require(PyUnicode_Replace(args[0], kTilde.get(), home.get(), -1));
  s = call_method(s.get(), kStrip);
  s = call_method(s.get(), kStrip, kQuotes.get());
  s = re_sub(ns, kWhitespaceRunPattern, kSpace, s.get(), twin::collapse_spaces);
  s = call_method(s.get(), kLower);
  // Decided before the trailing "x" goes: "1,000x" keeps its comma.
  if (pattern_match(ns, Name::NUM_RE, s.get())) {
    s = call_method(s.get(), kReplace, kComma.get(), kEmpty.get());
  }
  return re_sub(ns, kTrailingTimesPattern, kEmpty, s.get(), twin::drop_final_x);
}

// Distinct forms in the order they were first made, so that the variant list
// comes out the same on every run.
class FormSet {
 public:
  FormSet() : seen_(require(PySet_New(nullptr))), forms_(require(PyList_New(0))) {}

  void add(const Ref& form) {
    if (require_ok(PySet_Contains(seen_.get(), form.get()))) return;
    require_ok(PySet_Add(seen_.get(), form.get()));
    require_ok(PyList_Append(forms_.get(), form.get()));
  }

  // The members of at least two characters, as a new list.
  Ref long_enough() const {
    Ref kept = require(PyList_New(0));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(forms_.get()); ++i) {
      PyObject* form = PyList_GET_ITEM(forms_.get(), i);
      Py_ssize_t len = PyObject_Size(form);
      if (len < 0) throw PyErrorSet{};
      if (len > 1) require_ok(PyList_Append(kept.get(), form));
    }
    return kept;
  }

 private:
  Ref seen_;
  Ref forms_;
};

void add_plain_forms(FormSet& forms, const Ref& s) {
  forms.add(s);
  forms.add(call_method(s.get(), kReplace, kSpacedEquals.get(), kEquals.get()));
  forms.add(call_method(s.get(), kReplace, kEquals.get(), kSpacedEquals.get()));
  forms.add(call_method(s.get(), kReplace, kSpace.get(), kEmpty.get()));
}

// The interpreter's errors for unpacking `parts` into two names.
[[noreturn]] void not_iterable(PyObject* parts) {
  if (PyErr_ExceptionMatches(PyExc_TypeError) && !Py_TYPE(parts)->tp_iter &&
      !PySequence_Check(parts)) {
    PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object",
                 Py_TYPE(parts)->tp_name);
  }
  throw PyErrorSet{};
}

// From 3.14 on the message counts the parts of an exact list, tuple or dict.
[[noreturn]] void too_many_values([[maybe_unused]] PyObject* parts) {
#if PY_VERSION_HEX >= 0x030E0000
  if (PyList_CheckExact(parts) || PyTuple_CheckExact(parts) || PyDict_CheckExact(parts)) {
    PyErr_Format(PyExc_ValueError, "too many values to unpack (expected 2, got %zd)",
                 PyObject_Size(parts));
    throw PyErrorSet{};
  }
#endif
  PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
  throw PyErrorSet{};
}

Ref next_part(const Ref& it, int taken) {
  Ref part = Ref::steal(PyIter_Next(it.get()));
  if (part) return part;
  if (!PyErr_Occurred()) {
    PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %d)", taken);
  }
  throw PyErrorSet{};
}

// `k, v = parts`, as the interpreter unpacks: one part at a time, and a third
// one ends it, so that an endless iterable is not read to its end. Only a
// rebound `re` or `_norm` can make the split come out otherwise than a pair.
void unpack_pair(PyObject* parts, Ref& first, Ref& second) {
  Ref it = Ref::steal(PyObject_GetIter(parts));
  if (!it) not_iterable(parts);
  first = next_part(it, 0);
  second = next_part(it, 1);
  Ref extra = Ref::steal(PyIter_Next(it.get()));
  if (extra) too_many_values(parts);
  if (PyErr_Occurred()) throw PyErrorSet{};
}

// The text of `o` as an f-string replacement field gives it.
Ref formatted(const Ref& o) { return require(PyObject_Format(o.get(), kEmpty.get())); }

// The five colon forms of "k = v", split at the first "=" only.
void add_key_value_forms(FormSet& forms, const Ref& s) {
  Ref one = require(PyLong_FromLong(1));
  Ref parts = call_method(s.get(), kSplit, kEquals.get(), one.get());
  Ref key, value;
  unpack_pair(parts.get(), key, value);
  Ref k = formatted(call_method(key.get(), kStrip));
  Ref v = formatted(call_method(value.get(), kStrip));
  for (const char* form : {"%U: %U", "\"%U\": %U", "%U: '%U'", "%U: \"%U\"", "\"%U\": \"%U\""}) {
    forms.add(require(PyUnicode_FromFormat(form, k.get(), v.get())));
  }
}

Ref variants(const Context& ns, PyObject* const* args) {
  MatchSession session(ns);
  if (session.variants_native()) return session.variants_list(args[0]);
  Ref s = ns.call(Name::_norm, args[0]);
  FormSet forms;
  add_plain_forms(forms, s);
  if (re_fullmatch(ns, kKeyValuePattern, s.get(), twin::key_value)) add_key_value_forms(forms, s);
  return forms.long_enough();
}

}  // namespace

Ref home_dir(const Context& ns) {
  Ref path = ns.lookup(Name::Path);
  Ref home = call_method(path.get(), kHome);
  return require(PyObject_Str(home.get()));
}

const FunctionSpec kNormSpec = {
    Name::_norm, 1, {{"s", ArgType::Str, "str"}}, "str", nullptr, norm,
};

const FunctionSpec kVariantsSpec = {
    Name::_variants, 1, {{"lit", ArgType::Str, "str"}}, "list[str]", nullptr, variants,
};

}  // namespace pm

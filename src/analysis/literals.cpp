// Literal extraction: _clean tidies the typography of a target, _atoms cuts it
// into the literals a run log could contain.
#include "analysis/literals.hpp"

#include "analysis/inline_re.hpp"

namespace pm {
namespace {

// An approximation mark before a number: `~5`, `≈ 200`.
const StaticStr kApproxMarkPattern(R"([≈~](?=\s*\d))");
// A line-number suffix after a file extension, only at the very end: `app.py:10-20`.
const StaticStr kLineSuffixPattern(R"((\.\w{1,5}):\d+(?:-\d+)?$)");
const StaticStr kWhitespaceRunPattern(R"(\s+)");
// Narrower than the separators: a bare "/", ";" or `then` alone leaves a target whole.
const StaticStr kCompositePattern(R"(→|->| / |,| and |\.\.)");
const StaticStr kSeparatorPattern(R"(\s*(?:→|->|/|,|;|\band\b|\.\.|\bthen\b)\s*)");
// One lower-case letter before a leading digit: `v2.1`, `x86`.
const StaticStr kLetterBeforeDigitPattern(R"(^(?=\d)|^[a-z](?=\d))");
// A number followed by its unit and nothing else; used with re.I.
const StaticStr kUnitPattern(
    R"(^([\d.,]+)\s*(px|fps|ms|s|%|mb|gb|kb|bytes?|chars?|rows?|layers?)$)");

const StaticStr kEmpty(""), kSpace(" "), kFirstGroup(R"(\1)");
const StaticStr kEnDash("–"), kEmDash("—"), kHyphen("-");
const StaticStr kQuoteMarks("`'\""), kParentheses("()");
const StaticStr kReplace("replace"), kStrip("strip"), kRstrip("rstrip");

// The values below come back from `re`, which a caller may have rebound, so str
// operations go through the methods as a Python caller's would.

Ref dashes_to_hyphens(PyObject* s) {
  Ref r = call_method(s, kReplace, kEnDash.get(), kHyphen.get());
  return call_method(r.get(), kReplace, kEmDash.get(), kHyphen.get());
}

// Whitespace first, then quote marks; whitespace inside the quotes stays.
Ref strip_whitespace_then_quotes(PyObject* s) {
  Ref r = call_method(s, kStrip);
  return call_method(r.get(), kStrip, kQuoteMarks.get());
}

Ref clean(const Context& ns, PyObject* const* args) {
  Ref s = re_sub(ns, kApproxMarkPattern, kEmpty, args[0], twin::drop_approx_marks);
  s = dashes_to_hyphens(s.get());
  s = strip_whitespace_then_quotes(s.get());
  s = re_sub(ns, kLineSuffixPattern, kFirstGroup, s.get(), twin::drop_line_suffix);
  return re_sub(ns, kWhitespaceRunPattern, kSpace, s.get(), twin::collapse_spaces);
}

// A composite target splits at every separator, empty pieces included; any
// other target is its own only piece.
Ref pieces_of(const Context& ns, PyObject* t) {
  if (re_search(ns, kCompositePattern, t, twin::composite)) {
    return re_split(ns, kSeparatorPattern, t, twin::split_atoms);
  }
  return require(PyTuple_Pack(1, t));
}

// Drops what a log would not repeat: surrounding whitespace, a version or
// architecture letter before the number, and a unit after it.
Ref trim_piece(const Context& ns, PyObject* piece) {
  Ref p = call_method(piece, kStrip);
  p = re_sub(ns, kLetterBeforeDigitPattern, kEmpty, p.get(), twin::drop_letter_before_digit);
  return re_sub_ignore_case(ns, kUnitPattern, kFirstGroup, p.get(), twin::drop_unit);
}

bool shorter_than_two(PyObject* p) {
  Py_ssize_t n = PyObject_Size(p);
  if (n < 0) throw PyErrorSet{};
  return n < 2;
}

Ref atoms(const Context& ns, PyObject* const* args) {
  Ref t = ns.call(Name::_clean, args[0]);
  Ref pieces = pieces_of(ns, t.get());
  Ref it = require(PyObject_GetIter(pieces.get()));
  Ref out = require(PyList_New(0));
  while (Ref piece = Ref::steal(PyIter_Next(it.get()))) {
    Ref p = trim_piece(ns, piece.get());
    // Trailing parentheses go after the length test, so `a(` still yields `a`.
    if (shorter_than_two(p.get())) continue;
    Ref literal = call_method(p.get(), kRstrip, kParentheses.get());
    require_ok(PyList_Append(out.get(), literal.get()));
  }
  if (PyErr_Occurred()) throw PyErrorSet{};
  return out;
}

}  // namespace

const FunctionSpec kCleanSpec = {
    Name::_clean, 1, {{"t", ArgType::Str, "str"}}, "str", nullptr, clean,
};

const FunctionSpec kAtomsSpec = {
    Name::_atoms, 1, {{"t", ArgType::Str, "str"}}, "list[str]",
    "Split a composite target into literals a log could contain.", atoms,
};

}  // namespace pm

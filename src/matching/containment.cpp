// Containment tests of a literal in a pool of texts: _in, _tokens, _words_in.
#include "matching/containment.hpp"

#include "analysis/inline_re.hpp"
#include "matching/session.hpp"

namespace pm {
namespace {

// Inline pattern, handed to the namespace's `re` as text on every call.
const StaticStr kNonWordRunPattern(R"([^\w]+)");

const StaticStr kIsdigit("isdigit");

// Walks a pool in list order and yields the entries worth normalising: None and
// empty texts are passed over, anything else but an exact str is refused when
// the walk reaches it. Normalising calls into Python, which may change the list:
// its size is read anew at each step and each entry is held while in use.
class PoolWalk {
 public:
  explicit PoolWalk(PyObject* texts) : texts_(texts) {}

  Ref next() {
    while (i_ < PyList_GET_SIZE(texts_)) {
      Ref entry = Ref::borrow(PyList_GET_ITEM(texts_, i_++));
      if (entry.get() == Py_None) continue;
      if (!PyUnicode_CheckExact(entry.get())) {
        PyErr_Format(PyExc_TypeError, "Expected %.42s, got %.200s", "str",
                     Py_TYPE(entry.get())->tp_name);
        throw PyErrorSet{};
      }
      if (PyUnicode_GET_LENGTH(entry.get()) == 0) continue;
      return entry;
    }
    return Ref();
  }

 private:
  PyObject* texts_;
  Py_ssize_t i_ = 0;
};

// The normal form of one entry, made when first asked for and then kept for
// the rest of the call: no entry is normalised twice, nor before a needle needs it.
class EntryNorm {
 public:
  EntryNorm(const Context& ns, const Ref& text) : ns_(ns), text_(text) {}

  bool holds(PyObject* needle) {
    if (!norm_) norm_ = ns_.call(Name::_norm, text_.get());
    return require_ok(PySequence_Contains(norm_.get(), needle)) != 0;
  }

 private:
  const Context& ns_;
  const Ref& text_;
  Ref norm_;
};

// Whether some needle (Any) or every needle (All) must stand in an entry.
enum class Quantifier { Any, All };

// Needles are taken in order; the first one that settles the answer ends the test.
bool needles_in(EntryNorm& entry, PyObject* needles, Quantifier q) {
  const bool decisive = q == Quantifier::Any;
  Ref it = require(PyObject_GetIter(needles));
  while (Ref needle = Ref::steal(PyIter_Next(it.get()))) {
    if (entry.holds(needle.get()) == decisive) return decisive;
  }
  if (PyErr_Occurred()) throw PyErrorSet{};
  return !decisive;
}

// The first entry of the pool that the needles satisfy decides.
bool pool_has(const Context& ns, PyObject* texts, PyObject* needles, Quantifier q) {
  PoolWalk pool(texts);
  while (Ref text = pool.next()) {
    EntryNorm entry(ns, text);
    if (needles_in(entry, needles, q)) return true;
  }
  return false;
}

Ref boolean(bool b) { return Ref::borrow(b ? Py_True : Py_False); }

Ref in(const Context& ns, PyObject* const* args) {
  MatchSession session(ns);
  if (session.in_native()) return boolean(session.in(args[0], args[1]));
  Ref variants = ns.call(Name::_variants, args[0]);
  return boolean(pool_has(ns, args[1], variants.get(), Quantifier::Any));
}

bool is_word(PyObject* piece) {
  Py_ssize_t len = PyObject_Size(piece);
  if (len < 0) throw PyErrorSet{};
  if (len <= 2) return false;
  Ref digits = call_method(piece, kIsdigit);
  return !truthy(digits.get());
}

Ref tokens(const Context& ns, PyObject* const* args) {
  MatchSession session(ns);
  if (session.tokens_native()) return session.tokens_list(args[0]);
  Ref n = ns.call(Name::_norm, args[0]);
  Ref pieces = re_split(ns, kNonWordRunPattern, n.get(), twin::split_non_word);
  Ref words = require(PyList_New(0));
  Ref it = require(PyObject_GetIter(pieces.get()));
  while (Ref piece = Ref::steal(PyIter_Next(it.get()))) {
    if (is_word(piece.get())) require_ok(PyList_Append(words.get(), piece.get()));
  }
  if (PyErr_Occurred()) throw PyErrorSet{};
  return words;
}

Ref words_in(const Context& ns, PyObject* const* args) {
  MatchSession session(ns);
  if (session.words_in_native()) return boolean(session.words_in(args[0], args[1]));
  Ref toks = ns.call(Name::_tokens, args[0]);
  Py_ssize_t count = PyObject_Size(toks.get());
  if (count < 0) throw PyErrorSet{};
  if (count < 2) return boolean(false);
  return boolean(pool_has(ns, args[1], toks.get(), Quantifier::All));
}

}  // namespace

const FunctionSpec kInSpec = {
    Name::_in, 2, {{"lit", ArgType::Str, "str"}, {"texts", ArgType::List, "list[str]"}}, "bool",
    nullptr, in,
};

const FunctionSpec kTokensSpec = {
    Name::_tokens, 1, {{"lit", ArgType::Str, "str"}}, "list[str]", nullptr, tokens,
};

const FunctionSpec kWordsInSpec = {
    Name::_words_in, 2, {{"lit", ArgType::Str, "str"}, {"texts", ArgType::List, "list[str]"}},
    "bool",
    "Weaker match: every word of a multi-word literal appears in ONE text\n"
    "    (`markdown.parse()` vs `mod = import_module(\"markdown\")` ... `mod.parse(md)`, "
    "or an error message quoted loosely).",
    words_in,
};

}  // namespace pm

// Pattern texts of the module-level patterns, and _additive over them.
#include "analysis/patterns.hpp"

#include "analysis/rx/phrases.hpp"
#include "analysis/twins.hpp"

namespace pm {

const PatternDef kModulePatterns[6] = {
    {Name::NUM_RE, R"(^[\d,]+(?:\.\d+)?$)", false},
    {Name::EMPTY_RE,
     R"(\b(0 hits?|no (?:hits|matches|results)|nothing found|returns? (?:nothing|empty)|empty)\b)",
     true},
    {Name::ADDITIVE_RE,
     R"(\b(add|added|adds|creat|new|introduc|set up|wrote|write|bump|enable|install)\w*)", true},
    {Name::READ_CODE_RE,
     R"(\b(read_file|search_files|grep|cat |ls |find |head|tail|sqlite3\.connect|select ))",
     false},
    {Name::SHELL_WRITE_RE,
     R"(\b(sed -i|tee|>>?|cp|scp|mv|rsync|ln|install|chmod|touch|mkdir|git (?:commit|push|mv|rm)|rm|kill|pkill|systemctl|docker|pip|npm|apt)\b|<<)",
     false},
    {Name::NEGATED_RE,
     R"(\b(don'?t|do not|never|not|no|without|didn'?t|did not)\s+(?:\w+\s+){0,2}$)", true},
};

const PatternDef kPredicatePattern = {
    Name::PREDICATE_RE,
    R"(\b(is|are|was|were|has|have|had|does|did|do|shows?|showed|logs?|logged|returns?|returned|throws?|threw|crash\w*|works?|worked|match\w*|equals?|reads?|comes?|came|goes|went|gets?|got|gives?|gave|contains?|includes?|means|needs?|takes?|took|uses?|used|renders?|reports?|prints?|says|said|looks?|appears?)\b)",
    true,
};

Ref make_read_tools() {
  Ref tools = require(PySet_New(nullptr));
  for (const char* name : {"read_file", "search_files", "skill_view"}) {
    Ref s = require(PyUnicode_FromString(name));
    require_ok(PySet_Add(tools.get(), s.get()));
  }
  return tools;
}

namespace {

const StaticStr kSearch("search"), kMatch("match"), kFinditer("finditer"), kStart("start");

// The native twin stands in while the name holds the pattern start-up compiled.
bool call_pattern(const Context& ns, Name n, const StaticStr& op, PyObject* subject,
                  NativeTest twin) {
  Ref pattern = ns.lookup(n);
  if (twin && PyUnicode_CheckExact(subject) && ns.is_original(pattern.get(), n)) {
    return twin(view_of(subject));
  }
  Ref m = call_method(pattern.get(), op, subject);
  return truthy(m.get());
}

// NEGATED_RE.search(text[:end]), without making the prefix while the pattern is
// the original.
bool negated_before(const Context& ns, PyObject* text, Py_ssize_t end) {
  Ref negated = ns.lookup(Name::NEGATED_RE);
  if (ns.is_original(negated.get(), Name::NEGATED_RE)) {
    return with_chars(view_of(text), [&](auto c) { return rx::negated_search(c.sub(0, end)); });
  }
  Ref prefix = require(PyUnicode_Substring(text, 0, end));
  Ref m = call_method(negated.get(), kSearch, prefix.get());
  return truthy(m.get());
}

// The matches of the original ADDITIVE_RE, found natively, in finditer's order.
Ref additive_native(const Context& ns, PyObject* text) {
  Py_ssize_t from = 0;
  for (;;) {
    Py_ssize_t end = 0;
    Py_ssize_t start = with_chars(view_of(text), [&](auto c) {
      return rx::additive_next(c, from, &end);
    });
    if (start < 0) return Ref::borrow(Py_False);
    if (!negated_before(ns, text, start)) return Ref::borrow(Py_True);
    from = end;
  }
}

// True when some match of ADDITIVE_RE has no negation directly before it.
Ref additive(const Context& ns, PyObject* const* args) {
  PyObject* text = args[0];
  Ref additive_re = ns.lookup(Name::ADDITIVE_RE);
  if (ns.is_original(additive_re.get(), Name::ADDITIVE_RE)) return additive_native(ns, text);
  Ref matches = call_method(additive_re.get(), kFinditer, text);
  Ref it = require(PyObject_GetIter(matches.get()));
  while (Ref m = Ref::steal(PyIter_Next(it.get()))) {
    // text[:m.start()], with the slicing rules of the interpreter.
    Ref start = call_method(m.get(), kStart);
    Ref upto = require(PySlice_New(nullptr, start.get(), nullptr));
    Ref prefix = require(PyObject_GetItem(text, upto.get()));
    if (!pattern_search(ns, Name::NEGATED_RE, prefix.get())) return Ref::borrow(Py_True);
  }
  if (PyErr_Occurred()) throw PyErrorSet{};
  return Ref::borrow(Py_False);
}

}  // namespace

bool pattern_search(const Context& ns, Name n, PyObject* subject) {
  return call_pattern(ns, n, kSearch, subject, native_search(n));
}

bool pattern_match(const Context& ns, Name n, PyObject* subject) {
  return call_pattern(ns, n, kMatch, subject, native_match(n));
}

const FunctionSpec kAdditiveSpec = {
    Name::_additive,
    1,
    {{"text", ArgType::Str, "str"}},
    "bool",
    "An additive verb that is not negated (\"don't add it\" takes no credit).",
    additive,
};

}  // namespace pm

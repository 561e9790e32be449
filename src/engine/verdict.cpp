// Precedence, strongest first: contradicted, verified, pre-existing, a mere
// mention (unchecked), seen only in read output, found nowhere.
#include "engine/verdict.hpp"

#include "engine/entries.hpp"
#include "engine/values.hpp"

namespace pm {
namespace {

const StaticStr kContradicted("contradicted"), kVerified("verified"),
    kPreExisting("pre-existing"), kUnchecked("unchecked"), kUnverified("unverified");

Ref concat(PyObject* a, PyObject* b) { return require(PyUnicode_Concat(a, b)); }

Ref concat(PyObject* a, const char* b) {
  Ref tail = require(PyUnicode_FromString(b));
  return concat(a, tail.get());
}

Ref concat(const char* a, PyObject* b) {
  Ref head = require(PyUnicode_FromString(a));
  return concat(head.get(), b);
}

// The found entries, then the literals left unchecked, read-only ones first.
Ref verified_note(const Findings& f) {
  Ref note = entry::joined("; ", f.found.get());
  if (is_empty(f.read_only.get()) && is_empty(f.missing.get())) return note;
  Ref rest = entry::literal_list({f.read_only.get(), f.missing.get()});
  return concat(concat(note.get(), " \u00b7 unchecked: ").get(), rest.get());
}

// Only a file-change claim in additive wording takes credit for what it read.
bool took_credit(const Context& ns, const Claim& claim) {
  return truthy(ns.call(Name::_additive, claim.text.get()).get()) &&
         equals(claim.kind.get(), word::kFileChanged);
}

}  // namespace

Ref answer(const StaticStr& verdict, PyObject* evidence) {
  return require(PyTuple_Pack(2, verdict.get(), evidence));
}

Ref compose_verdict(const Context& ns, const Claim& claim, MentionTest& is_mention,
                    const Findings& f) {
  if (!is_empty(f.failed.get())) {
    return answer(kContradicted, entry::joined("; ", f.failed.get()).get());
  }
  if (!is_empty(f.found.get())) return answer(kVerified, verified_note(f).get());
  bool read_only = !is_empty(f.read_only.get());
  if (read_only && took_credit(ns, claim)) {
    Ref names = entry::literal_list({f.read_only.get()});
    return answer(kPreExisting,
                  concat(names.get(),
                         " appears only in content the agent read; never in anything it wrote "
                         "or ran")
                      .get());
  }
  if (is_mention()) {
    Ref names = entry::literal_list({f.read_only.get(), f.missing.get()});
    Ref line = concat("a mention, not a claim of work: ", names.get());
    return answer(kUnchecked, concat(line.get(), " not in this turn's log").get());
  }
  if (read_only) {
    Ref names = entry::literal_list({f.read_only.get()});
    return answer(kUnverified,
                  concat(names.get(), " seen only in read output; no write or command touched it")
                      .get());
  }
  Ref names = entry::literal_list({f.missing.get()});
  return answer(kUnverified,
                concat(names.get(), " not found in any write, command or output").get());
}

}  // namespace pm

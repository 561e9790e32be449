// Reading a Claim with dict.get defaults, and turning its targets into literals.
#include "engine/claim.hpp"

#include "engine/records.hpp"
#include "engine/values.hpp"
#include "engine/walk.hpp"

namespace pm {
namespace {

const StaticStr kEmptyText("");

// _atoms(str(t)), appended to `literals`.
void add_target_literals(const Context& ns, PyObject* literals, PyObject* target) {
  Ref atoms = ns.lookup(Name::_atoms);
  Ref text = require(PyObject_Str(target));
  Ref found = call(atoms.get(), text.get());
  walk(found.get(), [&](PyObject* literal) { append(literals, literal); });
}

// A phrase needs at least 4 characters to be worth looking for.
bool is_short_phrase(const Context& ns, PyObject* literal) {
  Ref kind = ns.call(Name::_kind_of, literal);
  return equals(kind.get(), word::kPhrase) && size_of(literal) <= 3;
}

}  // namespace

Claim read_claim(PyObject* claim) {
  Claim c;
  c.kind = get_or(claim, key::kKind, word::kOther.get());
  c.text = get_or(claim, key::kText, kEmptyText.get());
  Ref no_targets = new_list();
  c.targets = get_or(claim, key::kTargets, no_targets.get());
  return c;
}

Ref claim_literals(const Context& ns, PyObject* targets) {
  Ref literals = new_list();
  walk(targets, [&](PyObject* target) {
    if (truthy(target)) add_target_literals(ns, literals.get(), target);
  });
  Ref kept = new_list();
  walk(literals.get(), [&](PyObject* literal) {
    if (!is_short_phrase(ns, literal)) append(kept.get(), literal);
  });
  return kept;
}

}  // namespace pm

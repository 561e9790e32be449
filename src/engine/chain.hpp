// The decision chain: each literal lands in exactly one of four lists.
#pragma once

#include "engine/claim.hpp"
#include "engine/evidence.hpp"

namespace pm {

struct Findings {
  Ref found;      // evidence entries
  Ref failed;     // evidence entries of literals only in failed commands
  Ref read_only;  // literals seen only in read-only output
  Ref missing;    // literals found nowhere
};

Findings empty_findings();

// Applies the first rule that holds to the literal `a` of kind `k`.
void file_literal(const Context& ns, Evidence& evidence, const Claim& claim, PyObject* a,
                  PyObject* k, const Facts& facts, Findings& findings);

}  // namespace pm

// Interned texts of the module-level names.
#include "binding/names.hpp"

namespace pm {
namespace {

constexpr const char* kTexts[kNameCount] = {
    "json",        "re",           "Path",         "WORK_VERB_RE", "READ_TOOLS",
    "NUM_RE",      "EMPTY_RE",     "ADDITIVE_RE",  "READ_CODE_RE", "SHELL_WRITE_RE",
    "NEGATED_RE",  "_additive",    "_clean",       "_atoms",       "_kind_of",
    "_norm",       "_variants",    "_in",          "_tokens",      "_words_in",
    "PREDICATE_RE", "verify",
};

StaticStr kStrs[kNameCount] = {
    StaticStr(kTexts[0]),  StaticStr(kTexts[1]),  StaticStr(kTexts[2]),  StaticStr(kTexts[3]),
    StaticStr(kTexts[4]),  StaticStr(kTexts[5]),  StaticStr(kTexts[6]),  StaticStr(kTexts[7]),
    StaticStr(kTexts[8]),  StaticStr(kTexts[9]),  StaticStr(kTexts[10]), StaticStr(kTexts[11]),
    StaticStr(kTexts[12]), StaticStr(kTexts[13]), StaticStr(kTexts[14]), StaticStr(kTexts[15]),
    StaticStr(kTexts[16]), StaticStr(kTexts[17]), StaticStr(kTexts[18]), StaticStr(kTexts[19]),
    StaticStr(kTexts[20]), StaticStr(kTexts[21]),
};

}  // namespace

const char* name_text(Name n) { return kTexts[static_cast<int>(n)]; }
PyObject* name_str(Name n) { return kStrs[static_cast<int>(n)].get(); }

}  // namespace pm

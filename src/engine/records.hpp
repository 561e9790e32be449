// Reading Claim and RunLog records the way subscription reads them: a key is
// read at the moment it is needed, and a missing key raises KeyError with it.
#pragma once

#include "analysis/twins.hpp"
#include "binding/context.hpp"

namespace pm {

namespace key {
inline const StaticStr kKind("kind"), kText("text"), kTargets("targets");
inline const StaticStr kEvents("events"), kExternal("external"), kWritten("written"),
    kCommands("commands");
inline const StaticStr kWrote("wrote"), kPayload("payload"), kTool("tool"), kCommand("command"),
    kOutput("output"), kArgs("args"), kExitCode("exit_code");
}  // namespace key

// record[key]: an exact dict is read directly, anything else through its own
// subscription (a user mapping's __getitem__ runs here).
Ref item(PyObject* record, const StaticStr& key);

// dict.get(key, fallback) on an exact dict; a present None is kept.
Ref get_or(PyObject* dict, const StaticStr& key, PyObject* fallback);

// `<pattern bound to n>.search(record[key])`. As Python evaluates such a call,
// the pattern and its method are looked up before the field is read.
bool search_field(const Context& ns, Name pattern, PyObject* record, const StaticStr& key);

// `re.<op>(pattern_text, record[key])`, in the same order; `twin` stands in while
// `re.<op>` is the original and the field an exact str.
bool re_on_field(const Context& ns, Member op, const StaticStr& pattern_text, PyObject* record,
                 const StaticStr& key, NativeTest twin);

}  // namespace pm

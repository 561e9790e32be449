// Pools in the order of strength: what the agent wrote, what it read, what it
// saw, and what it passed to external actions.
#include "engine/pools.hpp"

#include "engine/records.hpp"
#include "engine/values.hpp"
#include "engine/walk.hpp"

namespace pm {
namespace {

const StaticStr kDumps("dumps");
// A terminal command line that begins with a reading command.
const StaticStr kReadCommand(R"(\s*(cat|sed -n|head|tail|grep|less|find|ls|rg)\b)");

bool tool_is_read_tool(const Context& ns, PyObject* event) {
  Ref tool = item(event, key::kTool);
  Ref read_tools = ns.lookup(Name::READ_TOOLS);
  return require_ok(PySequence_Contains(read_tools.get(), tool.get())) != 0;
}

bool tool_is(PyObject* event, const StaticStr& name) {
  Ref tool = item(event, key::kTool);
  return equals(tool.get(), name);
}

// Each test reads "tool" afresh; "command" is read only when the tool asks for it.
bool is_read_only(const Context& ns, PyObject* event) {
  if (tool_is_read_tool(ns, event)) return true;
  if (tool_is(event, word::kTerminal) &&
      re_on_field(ns, Member::re_match, kReadCommand, event, key::kCommand, twin::read_command)) {
    return true;
  }
  return tool_is(event, word::kExecuteCode) &&
         search_field(ns, Name::READ_CODE_RE, event, key::kCommand) &&
         !search_field(ns, Name::SHELL_WRITE_RE, event, key::kCommand);
}

Ref gather_writes(PyObject* events) {
  Ref writes = new_list();
  walk(events, [&](PyObject* event) {
    Ref wrote = item(event, key::kWrote);
    if (truthy(wrote.get())) append(writes.get(), item(event, key::kPayload).get());
  });
  return writes;
}

Ref gather_read_outs(const Context& ns, PyObject* events) {
  Ref outs = new_list();
  walk(events, [&](PyObject* event) {
    if (is_read_only(ns, event)) append(outs.get(), item(event, key::kOutput).get());
  });
  return outs;
}

Ref gather_all_outs(PyObject* events) {
  Ref outs = new_list();
  walk(events, [&](PyObject* event) { append(outs.get(), item(event, key::kOutput).get()); });
  return outs;
}

// json.dumps(x["args"]) with every default, for each external action.
Ref gather_ext_args(const Context& ns, PyObject* external) {
  Ref texts = new_list();
  walk(external, [&](PyObject* action) {
    Ref json = ns.lookup(Name::json);
    Ref dumps = getattr(json.get(), kDumps);
    Ref args = item(action, key::kArgs);
    append(texts.get(), call(dumps.get(), args.get()).get());
  });
  return texts;
}

}  // namespace

Pools gather_pools(const Context& ns, PyObject* run_log) {
  Pools pools;
  Ref events = item(run_log, key::kEvents);
  pools.writes = gather_writes(events.get());
  pools.read_outs = gather_read_outs(ns, events.get());
  pools.all_outs = gather_all_outs(events.get());
  Ref external = item(run_log, key::kExternal);
  pools.ext_args = gather_ext_args(ns, external.get());
  return pools;
}

}  // namespace pm

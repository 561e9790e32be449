// Exit codes and the on-demand walks over "commands".
#include "engine/commands.hpp"

#include "engine/records.hpp"
#include "engine/values.hpp"
#include "engine/walk.hpp"

namespace pm {
namespace {

const StaticStr kStrip("strip"), kZeroText("0");
// A command line that runs a search tool.
const StaticStr kSearchCommand(R"(\b(grep|rg|find)\b)");

bool equal(PyObject* a, PyObject* b) {
  return require_ok(PyObject_RichCompareBool(a, b, Py_EQ)) != 0;
}

bool printed_nothing(PyObject* record) {
  Ref output = item(record, key::kOutput);
  Ref stripped = call_method(output.get(), kStrip);
  return !truthy(stripped.get());
}

}  // namespace

bool exit_ok(PyObject* exit_code) {
  Ref zero = require(PyLong_FromLong(0));
  return equal(exit_code, Py_None) || equal(exit_code, zero.get()) ||
         equal(exit_code, kZeroText.get());
}

bool ran_ok(PyObject* record) {
  Ref code = item(record, key::kExitCode);
  return exit_ok(code.get());
}

Ref successful_command_texts(PyObject* run_log) {
  Ref texts = new_list();
  Ref commands = item(run_log, key::kCommands);
  walk(commands.get(), [&](PyObject* record) {
    if (ran_ok(record)) append(texts.get(), item(record, key::kCommand).get());
  });
  return texts;
}

bool empty_search(const Context& ns, PyObject* run_log) {
  Ref commands = item(run_log, key::kCommands);
  return walk_until(commands.get(), [&](PyObject* record) {
    return re_on_field(ns, Member::re_search, kSearchCommand, record, key::kCommand,
                       twin::search_command) &&
           printed_nothing(record);
  });
}

}  // namespace pm

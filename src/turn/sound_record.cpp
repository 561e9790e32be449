// The same questions as the shape checks of turn records, asked of exact types only.
#include "turn/sound_record.hpp"

namespace pm {
namespace {

const StaticStr kRunLog("run_log"), kClaims("claims"), kEvents("events"), kExternal("external"),
    kWritten("written"), kCommands("commands"), kWrote("wrote"), kTool("tool"),
    kOutput("output"), kPayload("payload"), kCommand("command"), kArgs("args"),
    kExitCode("exit_code");

bool is_string_or_none(PyObject* o) { return o == Py_None || PyUnicode_CheckExact(o); }

// An exact dict whose keys are all exact str: looking a name up in it runs no code.
bool plain_fields(PyObject* o) {
  if (!PyDict_CheckExact(o)) return false;
  Py_ssize_t pos = 0;
  PyObject *key, *value;
  while (PyDict_Next(o, &pos, &key, &value)) {
    if (!PyUnicode_CheckExact(key)) return false;
  }
  return true;
}

// The value under `name` (borrowed; null when absent) of a dict of plain fields.
PyObject* field(PyObject* fields, const StaticStr& name) {
  PyObject* value = PyDict_GetItemWithError(fields, name.get());
  if (!value && PyErr_Occurred()) throw PyErrorSet{};
  return value;
}

bool is_command_tool(PyObject* tool) {
  return PyUnicode_CompareWithASCIIString(tool, "terminal") == 0 ||
         PyUnicode_CompareWithASCIIString(tool, "execute_code") == 0;
}

bool sound_event(PyObject* event) {
  if (!plain_fields(event)) return false;
  PyObject* wrote = field(event, kWrote);
  PyObject* tool = field(event, kTool);
  PyObject* output = field(event, kOutput);
  if (!wrote || !PyBool_Check(wrote) || !tool || !PyUnicode_CheckExact(tool)) return false;
  if (!output || !is_string_or_none(output)) return false;
  if (wrote == Py_True) {
    PyObject* payload = field(event, kPayload);
    if (!payload || !is_string_or_none(payload)) return false;
  }
  if (!is_command_tool(tool)) return true;
  PyObject* command = field(event, kCommand);
  return command && PyUnicode_CheckExact(command);
}

bool sound_external(PyObject* action) {
  return plain_fields(action) && field(action, kArgs) != nullptr;
}

bool sound_written(PyObject* path) { return PyUnicode_CheckExact(path); }

bool sound_command(PyObject* record) {
  if (!plain_fields(record)) return false;
  PyObject* command = field(record, kCommand);
  PyObject* exit_code = field(record, kExitCode);
  PyObject* output = field(record, kOutput);
  if (!command || !is_string_or_none(command) || !exit_code) return false;
  if (!is_string_or_none(exit_code) && !PyLong_CheckExact(exit_code) &&
      !PyFloat_CheckExact(exit_code)) {
    return false;
  }
  return !output || PyUnicode_CheckExact(output);
}

bool all_sound(PyObject* list, bool (*sound)(PyObject*)) {
  if (!PyList_CheckExact(list)) return false;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
    if (!sound(PyList_GET_ITEM(list, i))) return false;
  }
  return true;
}

}  // namespace

bool plainly_sound_record(PyObject* record) {
  if (!plain_fields(record)) return false;
  PyObject* run_log = field(record, kRunLog);
  PyObject* claims = field(record, kClaims);
  if (!run_log || !plain_fields(run_log) || !claims || !PyList_CheckExact(claims)) return false;
  PyObject* events = field(run_log, kEvents);
  PyObject* external = field(run_log, kExternal);
  PyObject* written = field(run_log, kWritten);
  PyObject* commands = field(run_log, kCommands);
  return events && external && written && commands && all_sound(events, sound_event) &&
         all_sound(external, sound_external) && all_sound(written, sound_written) &&
         all_sound(commands, sound_command);
}

}  // namespace pm

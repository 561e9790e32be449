// The texts of a turn's RunLog that the containment tests read, each distinct
// text object once, with every place it stands in: a write, an output, a
// read-only output, an external action's arguments, a command line.
#pragma once

#include <unordered_map>
#include <vector>

#include "engine/pools.hpp"

namespace pm {

enum Place : uint8_t {
  kWrite = 1,
  kOutput = 2,
  kReadOutput = 4,
  kExternal = 8,
  kSuccessfulCommand = 16,  // the command line of a record with a successful exit
};

struct LogText {
  Ref text;  // a non-empty exact str
  uint8_t places = 0;
  std::vector<uint32_t> commands;  // the records whose "command" it is
};

class LogTexts {
 public:
  // Gathers the pools as verify does. Throws Unindexable unless every pool
  // entry, written path and command line is text (or None where verify skips it)
  // and every command record an exact dict with an exit code.
  LogTexts(const Context& ns, PyObject* run_log);

  const std::vector<LogText>& texts() const { return texts_; }
  // The entries of "written", exact strs, in a list of our own.
  PyObject* written() const { return written_.get(); }
  // The command record `j`, in log order, and whether its exit was successful.
  PyObject* command(uint32_t j) const { return PyList_GET_ITEM(commands_.get(), j); }
  bool ran_ok(uint32_t j) const { return ran_ok_[j]; }

 private:
  void add_pool(PyObject* pool, uint8_t place);
  void add_commands();
  void add(PyObject* text, uint8_t place, int64_t command);

  // Lists of our own: what the turn keeps stays alive whatever a callback (or
  // another thread, while Python code runs) does to the RunLog.
  Pools pools_;
  Ref written_, commands_;
  std::vector<LogText> texts_;
  std::vector<char> ran_ok_;
  std::unordered_map<PyObject*, uint32_t> index_;
};

}  // namespace pm

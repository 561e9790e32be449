// The texts of a RunLog, gathered as verify reads them and checked to be texts.
#include "turn/log_texts.hpp"

#include "engine/commands.hpp"
#include "engine/records.hpp"
#include "turn/plain.hpp"

namespace pm {
namespace {

// None and empty texts are skipped by the containment tests; anything else but
// an exact str would raise there, at an entry that depends on the search.
bool worth_searching(PyObject* entry) {
  if (entry == Py_None) return false;
  if (!PyUnicode_CheckExact(entry)) throw Unindexable{};
  return PyUnicode_GET_LENGTH(entry) > 0;
}

// A copy of run_log[key], an exact list.
Ref exact_list(PyObject* run_log, const StaticStr& key) {
  Ref list = item(run_log, key);
  if (!PyList_CheckExact(list.get())) throw Unindexable{};
  return require(PyList_GetSlice(list.get(), 0, PyList_GET_SIZE(list.get())));
}

}  // namespace

LogTexts::LogTexts(const Context& ns, PyObject* run_log)
    : pools_(gather_pools(ns, run_log)),
      written_(exact_list(run_log, key::kWritten)),
      commands_(exact_list(run_log, key::kCommands)) {
  add_pool(pools_.writes.get(), kWrite);
  add_pool(pools_.all_outs.get(), kOutput);
  add_pool(pools_.read_outs.get(), kReadOutput);
  add_pool(pools_.ext_args.get(), kExternal);
  add_commands();
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(written_.get()); ++i) {
    if (!PyUnicode_CheckExact(PyList_GET_ITEM(written_.get(), i))) throw Unindexable{};
  }
}

void LogTexts::add_pool(PyObject* pool, uint8_t place) {
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(pool); ++i) {
    PyObject* entry = PyList_GET_ITEM(pool, i);
    if (worth_searching(entry)) add(entry, place, -1);
  }
}

void LogTexts::add_commands() {
  PyObject* records = commands_.get();
  for (Py_ssize_t j = 0; j < PyList_GET_SIZE(records); ++j) {
    PyObject* record = PyList_GET_ITEM(records, j);
    if (!PyDict_CheckExact(record)) throw Unindexable{};
    Ref line = item(record, key::kCommand);
    ran_ok_.push_back(pm::ran_ok(record));
    uint8_t place = ran_ok_.back() ? kSuccessfulCommand : 0;
    if (worth_searching(line.get())) add(line.get(), place, j);
  }
}

void LogTexts::add(PyObject* text, uint8_t place, int64_t command) {
  auto [it, added] = index_.emplace(text, static_cast<uint32_t>(texts_.size()));
  if (added) texts_.push_back(LogText{Ref::borrow(text), 0, {}});
  LogText& t = texts_[it->second];
  t.places |= place;
  if (command >= 0) t.commands.push_back(static_cast<uint32_t>(command));
}

}  // namespace pm

// Per-literal facts: where the literal, or the file name of a path, occurs.
#include "engine/facts.hpp"

#include "engine/commands.hpp"
#include "engine/records.hpp"
#include "engine/values.hpp"
#include "engine/walk.hpp"

namespace pm {
namespace {

const StaticStr kName("name");

// Path(_norm(a)).name
Ref file_name(const Context& ns, MatchSession& session, PyObject* literal) {
  Ref path_type = ns.lookup(Name::Path);
  Ref normal = normal_form(ns, session, literal);
  Ref path = call(path_type.get(), normal.get());
  return getattr(path.get(), kName);
}

// A file name of 1 to 3 characters still serves the written-path test, but is
// too short to look for on its own.
Ref candidate_forms(PyObject* literal, PyObject* base, bool has_base) {
  Ref lits = new_list();
  append(lits.get(), literal);
  if (has_base && size_of(base) > 3) append(lits.get(), base);
  return lits;
}

bool any_in(const Context& ns, MatchSession& session, PyObject* lits, PyObject* pool) {
  return walk_until(lits, [&](PyObject* lit) { return lit_in(ns, session, lit, pool); });
}

// `base in _norm(p)`, on the bytes of the normal form while _norm is native.
bool file_name_in(const Context& ns, MatchSession& session, PyObject* path, PyObject* base) {
  if (PyUnicode_CheckExact(path) && PyUnicode_CheckExact(base) && session.calls_norm_native()) {
    return session.holds(path, base);
  }
  Ref normal = ns.call(Name::_norm, path);
  return require_ok(PySequence_Contains(normal.get(), base)) != 0;
}

// Walks every written path; only a real file name is looked for in them.
bool file_name_written(const Context& ns, MatchSession& session, PyObject* run_log,
                       PyObject* base, bool has_base) {
  Ref written = item(run_log, key::kWritten);
  return walk_until(written.get(), [&](PyObject* path) {
    return has_base && file_name_in(ns, session, path, base);
  });
}

// _in(l, [record["command"]]) for some candidate form l; the command is read for each try.
// `_in` is looked up before the record is read, but what its body calls only after:
// reading the record may rebind those names.
bool command_holds(const Context& ns, MatchSession& session, PyObject* record, PyObject* lits) {
  return walk_until(lits, [&](PyObject* lit) {
    Ref in = ns.lookup(Name::_in);
    Ref command = item(record, key::kCommand);
    if (ns.is_original(in.get(), Name::_in) && session.in_native()) {
      return session.in_one(lit, command.get());
    }
    Ref one = new_list();
    append(one.get(), command.get());
    return truthy(call(in.get(), lit, one.get()).get());
  });
}

Ref commands_holding(const Context& ns, MatchSession& session, PyObject* run_log,
                     PyObject* lits) {
  Ref held = new_list();
  Ref commands = item(run_log, key::kCommands);
  walk(commands.get(), [&](PyObject* record) {
    if (command_holds(ns, session, record, lits)) append(held.get(), record);
  });
  return held;
}

Ref successful(PyObject* records) {
  Ref ok = new_list();
  walk(records, [&](PyObject* record) {
    if (ran_ok(record)) append(ok.get(), record);
  });
  return ok;
}

// `c not in cmd_ok`: an equality scan, as the interpreter's `in` does it.
Ref not_in(PyObject* records, PyObject* excluded) {
  Ref rest = new_list();
  walk(records, [&](PyObject* record) {
    if (!require_ok(PySequence_Contains(excluded, record))) append(rest.get(), record);
  });
  return rest;
}

// cmd_ok and cmd_bad of `cmds`, the records holding a candidate form, in log order.
void split_by_exit(PyObject* cmds, Facts& f) {
  f.cmd_ok = successful(cmds);
  f.cmd_bad = not_in(cmds, f.cmd_ok.get());
}

}  // namespace

bool lit_in(const Context& ns, MatchSession& session, PyObject* lit, PyObject* texts) {
  Ref in = ns.lookup(Name::_in);
  if (ns.is_original(in.get(), Name::_in) && PyUnicode_CheckExact(lit) &&
      PyList_CheckExact(texts) && session.in_native()) {
    return session.in(lit, texts);
  }
  return truthy(call(in.get(), lit, texts).get());
}

Ref normal_form(const Context& ns, MatchSession& session, PyObject* s) {
  Ref norm = ns.lookup(Name::_norm);
  if (ns.is_original(norm.get(), Name::_norm) && PyUnicode_CheckExact(s) &&
      session.norm_native()) {
    return session.form_str(s);
  }
  return call(norm.get(), s);
}

Facts gather_facts(const Context& ns, MatchSession& session, PyObject* run_log,
                   const Pools& pools, PyObject* literal, PyObject* kind) {
  Facts f;
  // The file name of a path literal, and the candidate forms: the literal, then
  // the file name when it is long enough.
  Ref base = equals(kind, word::kPath) ? file_name(ns, session, literal) : Ref::borrow(Py_None);
  bool has_base = truthy(base.get());
  Ref lits = candidate_forms(literal, base.get(), has_base);
  f.in_write = any_in(ns, session, lits.get(), pools.writes.get()) ||
               file_name_written(ns, session, run_log, base.get(), has_base);
  Ref cmds = commands_holding(ns, session, run_log, lits.get());
  split_by_exit(cmds.get(), f);
  f.in_out = lit_in(ns, session, literal, pools.all_outs.get());
  f.in_read = any_in(ns, session, lits.get(), pools.read_outs.get());
  f.in_ext = any_in(ns, session, lits.get(), pools.ext_args.get());
  return f;
}

}  // namespace pm

// Needles made as the containment tests make them: from the normal form of the
// literal (_variants, _tokens), of its file name, and the file name itself.
#include "turn/literal_needles.hpp"

#include <algorithm>

#include "analysis/text.hpp"
#include "engine/values.hpp"
#include "matching/forms.hpp"
#include "matching/native_norm.hpp"

namespace pm {
namespace {

const StaticStr kName("name");

Points points_of(PyObject* s) {
  return with_chars(view_of(s), [](auto c) { return Points(c.p, c.p + c.n); });
}

// Path(normal).name, the file name of a path literal.
Ref file_name_of(const Context& ns, PyObject* normal) {
  Ref path_type = ns.lookup(Name::Path);
  Ref path = call(path_type.get(), normal);
  return getattr(path.get(), kName);
}

}  // namespace

LiteralNeedles::LiteralNeedles(const Context& ns, PyObject* home)
    : ns_(ns), home_(home), index_(require(PyDict_New())) {}

void LiteralNeedles::add(PyObject* a) {
  int known = require_ok(PyDict_Contains(index_.get(), a));
  if (known) return;
  Ref index = require(PyLong_FromSize_t(literals_.size()));
  literals_.push_back(forms_of(a));
  require_ok(PyDict_SetItem(index_.get(), a, index.get()));
}

uint32_t LiteralNeedles::index_of(PyObject* a) const {
  PyObject* index = PyDict_GetItemWithError(index_.get(), a);
  if (!index) {
    if (!PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, a);
    throw PyErrorSet{};
  }
  return static_cast<uint32_t>(PyLong_AsSize_t(index));
}

LiteralForms LiteralNeedles::forms_of(PyObject* a) {
  LiteralForms f;
  Utf8 normal = native_norm(a, home_);
  Points cps = decode(normal.view());
  f.variants[0] = variant_ids(cps);
  std::vector<std::string> words = token_forms(cps);
  f.token_count = words.size();
  for (std::string& w : words) {
    uint32_t id = id_of(std::move(w), needles_, needle_ids_);
    if (std::find(f.tokens.begin(), f.tokens.end(), id) == f.tokens.end()) f.tokens.push_back(id);
  }
  Ref kind = ns_.call(Name::_kind_of, a);
  if (!equals(kind.get(), word::kPath)) return f;
  Ref base = file_name_of(ns_, str_of_utf8(normal.view()).get());
  if (!truthy(base.get())) return f;
  f.file_name = static_cast<int32_t>(id_of(encode(points_of(base.get())), file_names_,
                                            file_name_ids_));
  if (size_of(base.get()) > 3) {
    f.variants[1] = variant_ids(decode(native_norm(base.get(), home_).view()));
    f.candidates = 2;
  }
  return f;
}

std::vector<uint32_t> LiteralNeedles::variant_ids(const Points& normal) {
  std::vector<uint32_t> ids;
  for (std::string& v : variant_forms(normal)) {
    ids.push_back(id_of(std::move(v), needles_, needle_ids_));
  }
  return ids;
}

uint32_t LiteralNeedles::id_of(std::string bytes, std::vector<std::string>& all,
                               std::unordered_map<std::string, uint32_t>& ids) {
  auto [it, added] = ids.emplace(std::move(bytes), static_cast<uint32_t>(all.size()));
  if (added) all.push_back(it->first);
  return it->second;
}

}  // namespace pm

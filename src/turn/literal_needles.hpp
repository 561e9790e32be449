// The literals of a turn's claims, each distinct literal once, and the needles
// that stand for them in normal forms: every variant of every candidate form, the
// words of the weaker test, and the file name of a path.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "binding/context.hpp"
#include "matching/forms.hpp"

namespace pm {

struct LiteralForms {
  // Needle ids of the variants of each candidate form: the literal, then its file
  // name when that has more than 3 characters.
  std::vector<uint32_t> variants[2];
  int candidates = 1;
  int32_t file_name = -1;        // id among the file-name needles; -1 without a file name
  size_t token_count = 0;        // len(_tokens(a)), repeats included
  std::vector<uint32_t> tokens;  // the distinct words, as needle ids
};

class LiteralNeedles {
 public:
  // `home`: str(Path.home()), as every normal form of the turn uses it.
  LiteralNeedles(const Context& ns, PyObject* home);

  // Registers the literal `a` (an exact str) on first sight.
  void add(PyObject* a);
  // The forms of a registered literal, and its index among them.
  uint32_t index_of(PyObject* a) const;
  const LiteralForms& forms(uint32_t literal) const { return literals_[literal]; }
  size_t count() const { return literals_.size(); }

  // Variants and words: looked for in every text of the log.
  const std::vector<std::string>& needles() const { return needles_; }
  // File names: looked for in the written paths only.
  const std::vector<std::string>& file_names() const { return file_names_; }

 private:
  LiteralForms forms_of(PyObject* a);
  std::vector<uint32_t> variant_ids(const Points& normal);
  static uint32_t id_of(std::string bytes, std::vector<std::string>& all,
                        std::unordered_map<std::string, uint32_t>& ids);

  const Context& ns_;
  PyObject* home_;
  Ref index_;  // dict: literal -> its index
  std::vector<LiteralForms> literals_;
  std::vector<std::string> needles_, file_names_;
  std::unordered_map<std::string, uint32_t> needle_ids_, file_name_ids_;
};

}  // namespace pm

// The variant forms of one literal searched for together: one pass over a
// normal form finds whichever of them occurs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pm {

class VariantSearch {
 public:
  // `needles`: UTF-8 forms, none empty.
  explicit VariantSearch(std::vector<std::string> needles);

  // Some needle is a substring of `text`.
  bool found_in(std::string_view text) const;

 private:
  std::vector<std::string> needles_;
  // A substring of every needle, and where it first stands in each; empty
  // when the needles share too little, and are then searched one by one.
  std::string anchor_;
  std::vector<size_t> anchor_at_;
};

}  // namespace pm

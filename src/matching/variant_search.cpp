// Search by a shared anchor: every occurrence of a needle holds the anchor at
// a known offset, so the hits of the anchor are the only places to look.
#include "matching/variant_search.hpp"

#include <string.h>

#include <algorithm>

#include "matching/find.hpp"

namespace pm {
namespace {

// Anchors shorter than this hit too often on ordinary text to pay off.
constexpr size_t kMinAnchor = 3;
// The search for the longest common substring grows with the cube of the
// needles' length; longer needles are searched for one by one.
constexpr size_t kMaxAnchorSearch = 32;

bool holds(std::string_view text, size_t at, std::string_view needle) {
  return text.size() - at >= needle.size() && memcmp(text.data() + at, needle.data(), needle.size()) == 0;
}

// The longest substring of the shortest needle that every needle holds.
std::string common_substring(const std::vector<std::string>& needles) {
  const std::string& base = *std::min_element(
      needles.begin(), needles.end(),
      [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
  if (base.size() > kMaxAnchorSearch) return {};
  for (size_t len = base.size(); len >= kMinAnchor; --len) {
    for (size_t at = 0; at + len <= base.size(); ++at) {
      std::string_view candidate(base.data() + at, len);
      bool everywhere = std::all_of(needles.begin(), needles.end(), [&](const std::string& n) {
        return n.find(candidate) != std::string::npos;
      });
      if (everywhere) return std::string(candidate);
    }
  }
  return {};
}

}  // namespace

VariantSearch::VariantSearch(std::vector<std::string> needles) : needles_(std::move(needles)) {
  if (needles_.size() < 2) return;
  anchor_ = common_substring(needles_);
  for (const std::string& n : needles_) anchor_at_.push_back(n.find(anchor_));
}

bool VariantSearch::found_in(std::string_view text) const {
  if (anchor_.empty()) {
    return std::any_of(needles_.begin(), needles_.end(),
                       [&](const std::string& n) { return contains_bytes(text, n); });
  }
  for (size_t h = find_bytes(text, 0, anchor_); h != std::string_view::npos;
       h = find_bytes(text, h + 1, anchor_)) {
    for (size_t j = 0; j < needles_.size(); ++j) {
      if (h >= anchor_at_[j] && holds(text, h - anchor_at_[j], needles_[j])) return true;
    }
  }
  return false;
}

}  // namespace pm

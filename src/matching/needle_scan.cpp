// Aho-Corasick with the failure links folded into a full transition table over
// the byte classes that the needles use: one table read per byte of text.
#include "matching/needle_scan.hpp"

#include <algorithm>

namespace pm {
namespace {

constexpr uint32_t kReports = 1u << 31;
constexpr uint32_t kNone = UINT32_MAX;
// Transition entries of one part at most (64 MB); more needles make more parts.
constexpr size_t kTableBudget = size_t{1} << 24;

size_t common_prefix(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size()), i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// Needle ids in byte order, so that needles sharing a prefix sit together and
// the states of a run of them can be counted from their common prefixes.
std::vector<uint32_t> sorted_ids(const std::vector<std::string>& needles) {
  std::vector<uint32_t> ids(needles.size());
  for (uint32_t i = 0; i < ids.size(); ++i) ids[i] = i;
  std::sort(ids.begin(), ids.end(),
            [&](uint32_t a, uint32_t b) { return needles[a] < needles[b]; });
  return ids;
}

// Cuts the sorted ids into runs whose tables fit the budget.
std::vector<std::vector<uint32_t>> shares(const std::vector<std::string>& needles,
                                          const std::vector<uint32_t>& ids) {
  std::vector<std::vector<uint32_t>> out(1);
  size_t states = 1;
  const std::string* previous = nullptr;
  for (uint32_t id : ids) {
    const std::string& n = needles[id];
    size_t added = n.size() - (previous ? common_prefix(*previous, n) : 0);
    if (!out.back().empty() && (states + added) * 256 > kTableBudget) {
      out.emplace_back();
      states = 1;
      added = n.size();
    }
    out.back().push_back(id);
    states += added;
    previous = &n;
  }
  return out;
}

}  // namespace

NeedleScan::NeedleScan(const std::vector<std::string>& needles)
    : last_text_(needles.size(), 0) {
  if (needles.empty()) return;
  for (const std::vector<uint32_t>& share : shares(needles, sorted_ids(needles))) {
    parts_.push_back(build(needles, share));
  }
}

NeedleScan::Part NeedleScan::build(const std::vector<std::string>& needles,
                                   const std::vector<uint32_t>& ids) {
  Part p;
  // Class 0 is every byte that no needle holds.
  std::fill(std::begin(p.byte_class), std::end(p.byte_class), 0);
  size_t states = 1;
  const std::string* previous = nullptr;
  for (uint32_t id : ids) {
    const std::string& n = needles[id];
    for (unsigned char b : n) {
      if (!p.byte_class[b]) p.byte_class[b] = static_cast<uint16_t>(++p.classes);
    }
    states += n.size() - (previous ? common_prefix(*previous, n) : 0);
    previous = &n;
  }
  const uint32_t k = ++p.classes;
  // The trie, with kNone where it has no edge.
  std::vector<uint32_t> goto_(states * k, kNone);
  p.needle.assign(states, -1);
  uint32_t made = 1;
  for (uint32_t id : ids) {
    uint32_t s = 0;
    for (unsigned char b : needles[id]) {
      uint32_t& edge = goto_[s * k + p.byte_class[b]];
      if (edge == kNone) edge = made++;
      s = edge;
    }
    p.needle[s] = static_cast<int32_t>(id);
  }
  // Breadth first, so that a state's failure target is complete before the state.
  std::vector<uint32_t> fail(states, 0), order;
  p.next.assign(states, kNone);
  order.reserve(states);
  for (uint32_t c = 0; c < k; ++c) {
    uint32_t& t = goto_[c];
    if (t == kNone) {
      t = 0;
    } else {
      order.push_back(t);
    }
  }
  for (size_t i = 0; i < order.size(); ++i) {
    uint32_t s = order[i];
    for (uint32_t c = 0; c < k; ++c) {
      uint32_t& t = goto_[s * k + c];
      uint32_t via_fail = goto_[fail[s] * k + c];
      if (t == kNone) {
        t = via_fail;
        continue;
      }
      fail[t] = via_fail;
      p.next[t] = p.needle[via_fail] >= 0 ? via_fail : p.next[via_fail];
      order.push_back(t);
    }
  }
  p.delta.resize(goto_.size());
  for (size_t i = 0; i < goto_.size(); ++i) {
    uint32_t t = goto_[i];
    bool reports = p.needle[t] >= 0 || p.next[t] != kNone;
    p.delta[i] = t * k | (reports ? kReports : 0);
  }
  return p;
}

void NeedleScan::report(const Part& part, uint32_t state, std::vector<uint32_t>& found) {
  for (uint32_t s = part.needle[state] >= 0 ? state : part.next[state]; s != kNone;
       s = part.next[s]) {
    uint32_t id = static_cast<uint32_t>(part.needle[s]);
    if (last_text_[id] == serial_) continue;
    last_text_[id] = serial_;
    found.push_back(id);
  }
}

void NeedleScan::scan(std::string_view text, std::vector<uint32_t>& found) {
  if (++serial_ == 0) {
    std::fill(last_text_.begin(), last_text_.end(), 0);
    serial_ = 1;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (const Part& part : parts_) {
    const uint32_t* delta = part.delta.data();
    const uint16_t* byte_class = part.byte_class;
    const uint32_t k = part.classes;
    uint32_t s = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      uint32_t v = delta[s + byte_class[bytes[i]]];
      s = v & ~kReports;
      if (v & kReports) report(part, s / k, found);
    }
  }
}

}  // namespace pm

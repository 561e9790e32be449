// Aho-Corasick with the failure links folded into a transition table over the
// byte classes that the needles use: one table read per byte of text. The trie
// and its failure links are made at once; each state's row of the table when a
// text first reaches the state.
#include "matching/needle_scan.hpp"

#include <algorithm>
#include <array>
#include <cstring>

namespace pm {
namespace {

constexpr uint32_t kReports = 1u << 31;
constexpr uint32_t kUnbuilt = 1u << 30;
constexpr uint32_t kFlags = kReports | kUnbuilt;
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

// Texts shorter than this are read by one reader.
constexpr size_t kTwoReaders = 1024;

// ASCII whitespace, as str.isspace has it.
constexpr std::array<bool, 256> make_whitespace() {
  std::array<bool, 256> w{};
  for (int c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x1C, 0x1D, 0x1E, 0x1F, 0x20}) w[c] = true;
  return w;
}
constexpr std::array<bool, 256> kWhitespace = make_whitespace();

// ASCII capitals read as small letters, and ASCII whitespace as a space.
void fold_case_and_spaces(uint16_t* byte_class) {
  for (int c = 'A'; c <= 'Z'; ++c) byte_class[c] = byte_class[c + 32];
  for (int c = 0; c < 256; ++c) {
    if (kWhitespace[c]) byte_class[c] = byte_class[static_cast<unsigned char>(' ')];
  }
}

}  // namespace

NeedleScan::NeedleScan(const std::vector<std::string>& needles)
    : last_text_(needles.size(), 0) {
  if (needles.empty()) return;
  for (const std::vector<uint32_t>& share : shares(needles, sorted_ids(needles))) {
    parts_.push_back(build(needles, share));
  }
}

uint32_t NeedleScan::Part::child(uint32_t s, uint32_t c) const {
  if (s == 0) return root_child[c];
  for (uint32_t t = first_child[s]; t != kNone; t = next_sibling[t]) {
    if (via[t] == c) return t;
  }
  return kNone;
}

uint32_t NeedleScan::Part::entry_for(uint32_t t) const {
  uint32_t reports = needle[t] >= 0 || next[t] != kNone ? kReports : 0;
  return (row_of[t] == kNone ? t | kUnbuilt : row_of[t]) | reports;
}

// The row of `s`: its trie children, and for every other class the row of its
// failure target, which is shallower and so made first. Returns its offset.
uint32_t NeedleScan::Part::build_row(uint32_t s) {
  if (s != 0 && row_of[fail[s]] == kNone) build_row(fail[s]);
  const uint32_t offset = rows++ * row_bytes();
  uint32_t* row = row_at(offset);
  row_of[s] = offset;
  if (s == 0) {
    for (uint32_t c = 0; c < classes; ++c) row[c] = 0;
  } else {
    std::memcpy(row, row_at(row_of[fail[s]]), classes * sizeof *row);
  }
  row[classes] = s;
  row[classes + 1] = 0;
  for (uint32_t t = first_child[s]; t != kNone; t = next_sibling[t]) row[via[t]] = entry_for(t);
  // A normal form never holds two spaces in a row: the second one of a text's
  // whitespace run leaves the state as it is (and reports nothing new). A needle
  // with two spaces in a row then never matches, as it never could.
  if (s != 0 && space && via[s] == space) row[space] = offset;
  return offset;
}

uint32_t NeedleScan::Part::follow_unbuilt(uint32_t at) {
  uint32_t& entry = *row_at(at);
  uint32_t t = entry & ~kFlags;
  uint32_t offset = row_of[t] == kNone ? build_row(t) : row_of[t];
  entry = offset | (entry & kReports);
  return offset;
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
  fold_case_and_spaces(p.byte_class);
  for (int b = 0; b < 256; ++b) p.class_offset[b] = p.byte_class[b] * sizeof(uint32_t);
  p.space = p.byte_class[static_cast<unsigned char>(' ')];
  p.first_child.assign(states, kNone);
  p.next_sibling.assign(states, kNone);
  p.via.assign(states, 0);
  p.depth.assign(states, 0);
  p.needle.assign(states, -1);
  // In byte order, a needle shares with the trie exactly its common prefix with
  // the needle before it: the rest of it is new states, the last child of each
  // state on the way.
  std::vector<uint32_t> path = {0};  // the states of the previous needle, from the root
  std::vector<uint32_t> last_child(states, kNone);
  uint32_t made = 1;
  previous = nullptr;
  for (uint32_t id : ids) {
    const std::string& n = needles[id];
    size_t shared = previous ? common_prefix(*previous, n) : 0;
    path.resize(shared + 1);
    for (size_t i = shared; i < n.size(); ++i) {
      uint32_t parent = path.back(), t = made++;
      p.via[t] = p.byte_class[static_cast<unsigned char>(n[i])];
      p.depth[t] = static_cast<uint32_t>(i + 1);
      (last_child[parent] == kNone ? p.first_child[parent] : p.next_sibling[last_child[parent]]) = t;
      last_child[parent] = t;
      path.push_back(t);
    }
    p.needle[path.back()] = static_cast<int32_t>(id);
    previous = &n;
  }
  p.root_child.assign(k, kNone);
  for (uint32_t t = p.first_child[0]; t != kNone; t = p.next_sibling[t]) p.root_child[p.via[t]] = t;
  p.fail.assign(states, 0);
  p.next.assign(states, kNone);
  // Failure links breadth first, so that a state's failure target is known
  // before the state's children need it.
  std::vector<uint32_t> order;
  order.reserve(states);
  for (uint32_t t = p.first_child[0]; t != kNone; t = p.next_sibling[t]) order.push_back(t);
  for (size_t i = 0; i < order.size(); ++i) {
    uint32_t s = order[i];
    for (uint32_t t = p.first_child[s]; t != kNone; t = p.next_sibling[t]) {
      uint32_t f = p.fail[s], to = p.child(f, p.via[t]);
      while (to == kNone && f != 0) {
        f = p.fail[f];
        to = p.child(f, p.via[t]);
      }
      p.fail[t] = to == kNone ? 0 : to;
      p.next[t] = p.needle[p.fail[t]] >= 0 ? p.fail[t] : p.next[p.fail[t]];
      order.push_back(t);
    }
  }
  // Left unset: a row is written whole before it is read.
  p.table.reset(new uint32_t[states * (k + 2)]);
  p.row_of.assign(states, kNone);
  p.build_row(0);
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

inline void NeedleScan::step(Part& part, const char* table, uint32_t& s, unsigned char byte,
                             std::vector<uint32_t>& found) {
  uint32_t at = s + part.class_offset[byte];
  uint32_t v;
  std::memcpy(&v, table + at, sizeof v);
  s = v & ~kFlags;
  if (v & kFlags) {
    if (v & kUnbuilt) s = part.follow_unbuilt(at);
    // Once a state's needles are reported, the text's later visits to it are free.
    uint32_t* row = part.row_at(s);
    if ((v & kReports) && row[part.classes + 1] != serial_) {
      row[part.classes + 1] = serial_;
      report(part, row[part.classes], found);
    }
  }
}

// A long text is read as two halves at once: each step waits on the table read
// of the step before, and two independent readers keep the processor busy. The
// second half is read from the root, and finds every occurrence that starts in
// it; the first reader goes on past the middle until no occurrence that started
// before the middle can be under way, that is until its state stands for no more
// of the text than it has read since the middle. The text read there is counted
// as its normal form has it: a whitespace byte after another one is no character.
void NeedleScan::scan_part(Part& part, const unsigned char* bytes, size_t n,
                           std::vector<uint32_t>& found) {
  const char* table = reinterpret_cast<const char*>(part.table.get());
  uint32_t a = 0;
  if (n < kTwoReaders) {
    for (size_t i = 0; i < n; ++i) step(part, table, a, bytes[i], found);
    return;
  }
  const size_t mid = n / 2;
  uint32_t b = 0;
  for (size_t i = 0; i < mid; ++i) {
    step(part, table, a, bytes[i], found);
    step(part, table, b, bytes[mid + i], found);
  }
  if (n % 2) step(part, table, b, bytes[n - 1], found);
  size_t since_mid = 0;
  for (size_t i = mid; i < n && part.depth[part.row_at(a)[part.classes]] > since_mid; ++i) {
    step(part, table, a, bytes[i], found);
    since_mid += !(kWhitespace[bytes[i]] && kWhitespace[bytes[i - 1]]);
  }
}

void NeedleScan::scan(std::string_view text, std::vector<uint32_t>& found) {
  if (++serial_ == 0) {
    std::fill(last_text_.begin(), last_text_.end(), 0);
    for (Part& part : parts_) {
      for (uint32_t r = 0; r < part.rows; ++r) part.row_at(r * part.row_bytes())[part.classes + 1] = 0;
    }
    serial_ = 1;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (Part& part : parts_) scan_part(part, bytes, text.size(), found);
}

}  // namespace pm

// Many needles looked for in one pass over a text: an Aho-Corasick automaton over
// bytes, so that reading a text costs the same whatever the number of needles.
//
// The needles are normal forms, and the automaton reads a normal form as it reads
// the text it comes from, where that differs only by letter case and runs of
// whitespace (see ascii_unfolded_form): an ASCII capital reads as its small
// letter, any ASCII whitespace as a space, and a space after a space as nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pm {

class NeedleScan {
 public:
  // `needles`: UTF-8 without ASCII capitals or whitespace other than single spaces,
  // none empty, no two alike; a needle's id is its index.
  explicit NeedleScan(const std::vector<std::string>& needles);

  // Appends to `found` the id of every needle that occurs in `text`, each once.
  void scan(std::string_view text, std::vector<uint32_t>& found);

 private:
  // One automaton over a share of the needles, its transition table kept within
  // a memory budget; there is more than one only for very many needles.
  struct Part {
    uint16_t byte_class[256];
    uint32_t class_offset[256];  // byte_class, in bytes of a row
    uint32_t classes = 0;
    uint32_t space = 0;  // the class of the space, 0 when no needle holds one
    // The trie: per state, its first child and next sibling, and the class that
    // leads into it.
    std::vector<uint32_t> first_child, next_sibling;
    std::vector<uint16_t> via;
    std::vector<uint32_t> depth;  // per state: the length of the prefix it stands for
    std::vector<uint32_t> fail;
    std::vector<int32_t> needle;  // per state: the needle ending there, or -1
    std::vector<uint32_t> next;   // per state: the next state down its suffix chain that ends one
    std::vector<uint32_t> root_child;  // per class: the root's child, or kNone
    // One row per state, made when a text first reaches the state (a text visits
    // few of the deep states) and laid out in that order, so that the rows read
    // most sit together. A row's entry for a byte class is the next state: the
    // byte offset of its row, or with kUnbuilt set, its number while it has none;
    // kReports is set when that state ends some needle. After the `classes`
    // entries, the row holds its state's number and the serial of the last text
    // in which that state's needles were reported.
    std::unique_ptr<uint32_t[]> table;
    std::vector<uint32_t> row_of;  // per state: its row's byte offset, or kNone
    uint32_t rows = 0;

    uint32_t row_bytes() const { return (classes + 2) * sizeof(uint32_t); }
    uint32_t* row_at(uint32_t offset) { return &table[offset / sizeof(uint32_t)]; }
    uint32_t child(uint32_t s, uint32_t c) const;
    uint32_t entry_for(uint32_t t) const;
    uint32_t build_row(uint32_t s);
    // The row offset of the target of the entry at byte offset `at`, its row made
    // if need be; the entry then holds that offset.
    uint32_t follow_unbuilt(uint32_t at);
  };

  static Part build(const std::vector<std::string>& needles, const std::vector<uint32_t>& ids);
  void scan_part(Part& part, const unsigned char* bytes, size_t n, std::vector<uint32_t>& found);
  // Reads one byte: `s` is the byte offset of the state's row.
  void step(Part& part, const char* table, uint32_t& s, unsigned char byte,
            std::vector<uint32_t>& found);
  void report(const Part& part, uint32_t state, std::vector<uint32_t>& found);

  std::vector<Part> parts_;
  std::vector<uint32_t> last_text_;  // per needle: the serial of the last text it was found in
  uint32_t serial_ = 0;
};

}  // namespace pm

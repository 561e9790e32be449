// Many needles looked for in one pass over a text: an Aho-Corasick automaton over
// bytes, so that reading a text costs the same whatever the number of needles.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pm {

class NeedleScan {
 public:
  // `needles`: UTF-8, none empty, no two alike; a needle's id is its index.
  explicit NeedleScan(const std::vector<std::string>& needles);

  // Appends to `found` the id of every needle that occurs in `text`, each once.
  void scan(std::string_view text, std::vector<uint32_t>& found);

 private:
  // One automaton over a share of the needles, its transition table kept within
  // a memory budget; there is more than one only for very many needles.
  struct Part {
    uint16_t byte_class[256];
    uint32_t classes = 0;
    // delta[s + c], for a state's offset s (its number times `classes`) and a byte
    // class c: the next state's offset, with kReports set when that state ends
    // some needle.
    std::vector<uint32_t> delta;
    std::vector<int32_t> needle;  // per state: the needle ending there, or -1
    std::vector<uint32_t> next;   // per state: the next state down its suffix chain that ends one
  };

  static Part build(const std::vector<std::string>& needles, const std::vector<uint32_t>& ids);
  void report(const Part& part, uint32_t state, std::vector<uint32_t>& found);

  std::vector<Part> parts_;
  std::vector<uint32_t> last_text_;  // per needle: the serial of the last text it was found in
  uint32_t serial_ = 0;
};

}  // namespace pm

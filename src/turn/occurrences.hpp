// Where every needle of a turn occurs: each text of the log normalised once and
// scanned once for all the needles together.
#pragma once

#include <vector>

#include "turn/literal_needles.hpp"
#include "turn/log_texts.hpp"

namespace pm {

struct NeedleHits {
  uint8_t places = 0;              // Place bits of the texts that hold the needle
  std::vector<uint32_t> commands;  // records whose command line holds it, in no set order
};

class Occurrences {
 public:
  Occurrences(const LiteralNeedles& literals, const LogTexts& log, PyObject* home);

  const NeedleHits& hits(uint32_t needle) const { return hits_[needle]; }
  // Some written path's normal form holds the file name.
  bool file_name_written(uint32_t file_name) const { return written_[file_name]; }
  // The places (kOutput, kSuccessfulCommand) of the texts that hold every word
  // of the literal at once.
  uint8_t words_places(uint32_t literal) const { return words_places_[literal]; }

 private:
  void scan_texts(const LiteralNeedles& literals, const LogTexts& log, PyObject* home);
  void scan_written(const LiteralNeedles& literals, const LogTexts& log, PyObject* home);

  std::vector<NeedleHits> hits_;
  std::vector<char> written_;
  std::vector<uint8_t> words_places_;
};

}  // namespace pm

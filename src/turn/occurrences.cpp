// One scan per text. The weaker words test is settled during the scan too: a
// literal's words count up per text, and the text that completes them marks it.
#include "turn/occurrences.hpp"

#include "matching/native_norm.hpp"
#include "matching/needle_scan.hpp"

namespace pm {
namespace {

constexpr uint8_t kWordPlaces = kOutput | kSuccessfulCommand;

// For the words test: which literals use each word, and how many words each needs.
class WordCount {
 public:
  explicit WordCount(const LiteralNeedles& literals)
      : users_(literals.needles().size()),
        needed_(literals.count()),
        count_(literals.count(), 0),
        text_(literals.count(), UINT32_MAX) {
    for (uint32_t l = 0; l < literals.count(); ++l) {
      const LiteralForms& f = literals.forms(l);
      // Fewer than two words never pass the test.
      if (f.token_count < 2) continue;
      needed_[l] = static_cast<uint32_t>(f.tokens.size());
      for (uint32_t id : f.tokens) users_[id].push_back(l);
    }
  }

  // The needle `id` occurs in text number `text`; marks the literals it completes.
  void found(uint32_t id, uint32_t text, uint8_t places, std::vector<uint8_t>& words_places) {
    for (uint32_t l : users_[id]) {
      if (text_[l] != text) {
        text_[l] = text;
        count_[l] = 0;
      }
      if (++count_[l] == needed_[l]) words_places[l] |= places;
    }
  }

 private:
  std::vector<std::vector<uint32_t>> users_;
  std::vector<uint32_t> needed_, count_, text_;
};

// Most texts are read as they are; the others through their normal form.
void scan_normal_form(NeedleScan& scan, PyObject* text, PyObject* home,
                      std::vector<uint32_t>& found) {
  if (std::optional<std::string_view> unfolded = ascii_unfolded_form(text)) {
    scan.scan(*unfolded, found);
  } else {
    scan.scan(native_norm(text, home).view(), found);
  }
}

}  // namespace

Occurrences::Occurrences(const LiteralNeedles& literals, const LogTexts& log, PyObject* home)
    : hits_(literals.needles().size()),
      written_(literals.file_names().size(), 0),
      words_places_(literals.count(), 0) {
  scan_texts(literals, log, home);
  scan_written(literals, log, home);
}

void Occurrences::scan_texts(const LiteralNeedles& literals, const LogTexts& log,
                             PyObject* home) {
  NeedleScan scan(literals.needles());
  WordCount words(literals);
  std::vector<uint32_t> found;
  const std::vector<LogText>& texts = log.texts();
  for (uint32_t t = 0; t < texts.size(); ++t) {
    const LogText& text = texts[t];
    found.clear();
    scan_normal_form(scan, text.text.get(), home, found);
    uint8_t word_places = text.places & kWordPlaces;
    for (uint32_t id : found) {
      NeedleHits& h = hits_[id];
      h.places |= text.places;
      h.commands.insert(h.commands.end(), text.commands.begin(), text.commands.end());
      if (word_places) words.found(id, t, word_places, words_places_);
    }
  }
}

void Occurrences::scan_written(const LiteralNeedles& literals, const LogTexts& log,
                               PyObject* home) {
  NeedleScan scan(literals.file_names());
  std::vector<uint32_t> found;
  PyObject* written = log.written();
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(written); ++i) {
    found.clear();
    scan_normal_form(scan, PyList_GET_ITEM(written, i), home, found);
    for (uint32_t id : found) written_[id] = 1;
  }
}

}  // namespace pm

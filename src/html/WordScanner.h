// Finds a piece of visible text in a page as a reader sees it: tags skipped, references decoded, blanks
// collapsed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "html/Scanner.h"

namespace vandrel {

class TWordScanner : public TScanner {
 public:
  void SetText(std::string text) override;

  // Searches from the position. On success the position is just after the first character of the
  // match; otherwise it is unchanged. Letters are compared without regard to ASCII case; blanks in
  // `what` are not collapsed, so two adjacent spaces never match.
  bool FindText(std::string_view what);

  bool SkipTags = true;        // tags are passed over ("<br>" reads as a blank)
  bool DecodeEntities = true;  // character references read as their character

  // Blanks of visible text.
  static bool IsTextBlank(unsigned char c) {
    return c == 0 || c == 8 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32 || c == 255;
  }

 private:
  // One normalized byte: its page offset, and where reading goes on after it.
  struct TChar {
    char Ch;
    size_t Start;
    size_t Next;
  };
  bool NextChar(TChar& out);
  // Decodes the reference at `at` ("&"); false when it decodes to nothing.
  bool DecodeAt(size_t at, std::string& bytes, size_t& next) const;
  // Passes over the tag at `at` ("<"); answers whether it reads as a blank.
  bool SkipTagAt(size_t at, size_t& next) const;

  std::string pending_;      // remaining bytes of a decoded multi-byte character
  size_t pendingIndex_ = 0;  // next byte of pending_ to deliver
  size_t pendingStart_ = 0;  // page offset of the reference pending_ came from
};

}  // namespace vandrel

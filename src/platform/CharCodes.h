// Reading the digits and escapes of quoted and encoded text, shared by the text formats' readers.
#pragma once

#include <string_view>

namespace vandrel {

// The value of a hexadecimal digit of either case, or -1.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// What the one-letter backslash escape `letter` stands for: the character at the same place in `meanings`
// as `letter` has in `letters`, or -1 when the reader knows no such escape.
inline int EscapedChar(char letter, std::string_view letters, std::string_view meanings) {
  const size_t at = letters.find(letter);
  return at == std::string_view::npos ? -1 : static_cast<unsigned char>(meanings[at]);
}

}  // namespace vandrel

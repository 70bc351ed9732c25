// ASCII case folding for names, and the UTF-8 / Windows-1252 decoding used where 8-bit text is shown.
#pragma once

#include <string>
#include <string_view>

namespace vandrel {

// Names are compared by folding ASCII letters only; every other byte is an opaque character.
inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
inline char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string AsciiLowerCase(std::string_view text);
std::string AsciiUpperCase(std::string_view text);

// `text` without the given bytes at either end; the default set is ASCII white space.
inline constexpr std::string_view kAsciiBlanks = " \t\r\n\f\v";
// Every byte up to and including the space: what protocol and script readers skip.
inline constexpr std::string_view kAsciiControlsAndSpace{
    "\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
    "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x20",
    33};
std::string_view Trim(std::string_view text, std::string_view chars = kAsciiBlanks);
std::string_view TrimLeft(std::string_view text, std::string_view chars = kAsciiBlanks);
std::string_view TrimRight(std::string_view text, std::string_view chars = kAsciiBlanks);

// Equality and ordering without regard to ASCII case; CompareText answers <0, 0 or >0.
bool SameText(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);
bool StartsWithText(std::string_view text, std::string_view prefix);

// Length of the well-formed UTF-8 sequence starting at `pos` (1..4), or 0 when the bytes there are not one
// (overlong forms, surrogates and code points past U+10FFFF are not well-formed).
size_t Utf8SequenceLength(std::string_view text, size_t pos);
bool IsValidUtf8(std::string_view text);
// Appends the UTF-8 form of `codePoint`; surrogates and values past U+10FFFF become U+FFFD.
void AppendUtf8(std::string& out, char32_t codePoint);
// The Windows-1252 character of a byte. The five bytes that code page leaves undefined map to the C1
// control of the same number, as the system's own conversion does.
char32_t Windows1252ToUnicode(unsigned char byte);

// Turns our 8-bit text into valid UTF-8 for display: well-formed UTF-8 stays as it is, every other byte is
// read as Windows-1252. Only for showing text; money strings and other binary fields never come here.
std::string ToDisplayText(std::string_view text);

}  // namespace vandrel

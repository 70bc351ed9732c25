#include "platform/TextUtils.h"

#include <gtest/gtest.h>

#include <random>

namespace vandrel {
namespace {

TEST(TextUtils, CaseFoldingTouchesOnlyAsciiLetters) {
  EXPECT_TRUE(SameText("Software\\VandrelSoft", "SOFTWARE\\vandrelsoft"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  EXPECT_FALSE(SameText("\xc3\xa9", "\xc3\x89"));  // é and É are different bytes, left alone
  EXPECT_EQ(AsciiUpperCase("caf\xe9-x"), "CAF\xe9-X");
  EXPECT_EQ(AsciiLowerCase("[ABC]"), "[abc]");
  EXPECT_EQ(CompareText("apple", "BANANA"), -1);
  EXPECT_EQ(CompareText("Zed", "zed"), 0);
  EXPECT_EQ(CompareText("ab", "A"), 1);
  EXPECT_EQ(CompareText("\xff", "a"), 1);  // bytes compare unsigned
  EXPECT_TRUE(StartsWithText("HTTP/1.1 200", "http/"));
  EXPECT_FALSE(StartsWithText("ht", "http"));
}

TEST(TextUtils, Utf8WellFormednessFollowsTheStandard) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {"plain", true},
      {"\xc3\xa9", true},           // é
      {"\xe2\x82\xac", true},       // €
      {"\xf0\x9f\x98\x80", true},   // emoji
      {"\xf4\x8f\xbf\xbf", true},   // U+10FFFF
      {"\xc0\x80", false},          // overlong NUL
      {"\xe0\x80\xaf", false},      // overlong slash
      {"\xed\xa0\x80", false},      // surrogate
      {"\xf4\x90\x80\x80", false},  // past U+10FFFF
      {"\xe2\x82", false},          // cut short
      {"\x80", false},              // stray continuation
      {"caf\xe9", false},           // Windows-1252 é
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.text;
}

TEST(TextUtils, DisplayTextKeepsUtf8AndReadsOtherBytesAsWindows1252) {
  EXPECT_EQ(ToDisplayText("caf\xc3\xa9"), "caf\xc3\xa9");
  EXPECT_EQ(ToDisplayText("caf\xe9"), "caf\xc3\xa9");
  EXPECT_EQ(ToDisplayText("\x80 5"), "\xe2\x82\xac 5");  // euro sign
  EXPECT_EQ(ToDisplayText("\x93q\x94"), "\xe2\x80\x9cq\xe2\x80\x9d");
  EXPECT_EQ(ToDisplayText("\x81"), "\xc2\x81");                  // undefined byte keeps its number
  EXPECT_EQ(ToDisplayText("\xe2\x82"), "\xc3\xa2\xe2\x80\x9a");  // a cut sequence is read byte by byte
  EXPECT_EQ(ToDisplayText(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(TextUtils, DisplayTextIsAlwaysValidUtf8) {
  for (int b = 0; b < 256; ++b)
    EXPECT_TRUE(IsValidUtf8(ToDisplayText(std::string(1, static_cast<char>(b))))) << b;
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string text(random() % 12, '\0');
    for (char& c : text) c = static_cast<char>(random());
    const std::string shown = ToDisplayText(text);
    ASSERT_TRUE(IsValidUtf8(shown));
    if (IsValidUtf8(text)) {
      ASSERT_EQ(shown, text);
    }
  }
}

TEST(TextUtils, AppendUtf8ReplacesWhatCannotBeEncoded) {
  std::string out;
  AppendUtf8(out, U'A');
  AppendUtf8(out, 0x20AC);
  AppendUtf8(out, 0x1F600);
  AppendUtf8(out, 0xD800);
  AppendUtf8(out, 0x110000);
  EXPECT_EQ(out, "A\xe2\x82\xac\xf0\x9f\x98\x80\xef\xbf\xbd\xef\xbf\xbd");
}

}  // namespace
}  // namespace vandrel

#include "html/WordScanner.h"

#include <gtest/gtest.h>

#include "html/HtmlParserEx.h"

namespace vandrel {
namespace {

bool Finds(const std::string& page, const std::string& what, bool skipTags = true) {
  TWordScanner s;
  s.SetText(page);
  s.SkipTags = skipTags;
  return s.FindText(what);
}

TEST(WordScanner, ReadsTextAsAReaderSeesIt) {
  struct Case {
    const char* page;
    const char* what;
    bool found;
  } cases[] = {
      {"<b>Blue<br>Shoes</b>", "blue shoes", true},
      {"Blue<BR/>Shoes", "blue shoes", true},
      {"Blue<br clear=all>Shoes", "blue shoes", true},
      {"Blue&nbsp;Shoes", "blue shoes", true},
      {"Blue\r\n     Shoes", "blue shoes", true},
      {"Blue \n <br> &nbsp; Shoes", "blue shoes", true},
      {"Blue  Shoes", "Blue  Shoes", false},  // blanks in the sought text are not collapsed
      {"a<b>c", "ac", true},
      {"Blue<i>Shoes", "blue shoes", false},
      {"Tom &amp; Jerry", "tom & jerry", true},
      {"Tom &amp Jerry", "tom & jerry", true},
      {"&#36;12.99", "$12.99", true},
      {"&bogus; &x", "&bogus; &x", true},  // undecodable references read as written
      {"Caf&eacute;", "caf\xC3\xA9", true},
      {"&euro;5", "&euro;5", true},  // not in the table
      {"&#8364;5",
       "\xE2\x82\xAC"
       "5",
       true},
      {"ababac", "abac", true},  // restarts after a partial match
      {"PRICE", "price", true},
  };
  for (const auto& c : cases) EXPECT_EQ(Finds(c.page, c.what), c.found) << c.page << " / " << c.what;
}

TEST(WordScanner, MarkupIsPlainTextWithoutSkipTags) {
  EXPECT_TRUE(Finds("<b>$5</b>", "<b>$5", false));
  EXPECT_FALSE(Finds("<b>$5</b>", "<b>$5", true));
}

TEST(WordScanner, PositionIsJustAfterTheFirstMatchedCharacter) {
  TWordScanner s;
  s.SetText("xx <i>Blue</i>  Shoes");
  ASSERT_TRUE(s.FindText("blue shoes"));
  EXPECT_EQ(s.Position(), 7u);
  EXPECT_FALSE(s.FindText("missing"));
  EXPECT_EQ(s.Position(), 7u);
  ASSERT_TRUE(s.FindText("shoes"));
  EXPECT_EQ(s.Position(), 17u);
}

TEST(WordScanner, FindLinkAtTextAnswersTheAnchorAddress) {
  const std::string page =
      "<table><tr><td>Lamp <a href=\"item1.htm\"><b>$12.99</b></a></td>"
      "<td>Shipping $4.00</td><td><a href='item2.htm'>Blue<br>Shoes</a></td></tr></table>";
  THtmlParserEx p;
  EXPECT_EQ(p.FindLinkAtText(page, "$12.99", true), "item1.htm");
  EXPECT_EQ(p.FindLinkAtText(page, "$4.00", true), "");
  EXPECT_EQ(p.FindLinkAtText(page, "blue shoes", true), "item2.htm");
  EXPECT_EQ(p.FindLinkAtText(page, "<b>$12.99", false), "item1.htm");
  EXPECT_EQ(p.FindLinkAtText("<a href=x>other page</a>", "other", true), "x");
}

}  // namespace
}  // namespace vandrel

#include "html/Scanner.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>
#include <vector>

namespace vandrel {
namespace {

using Tok = std::pair<THtmlTokenKind, std::string>;

std::vector<Tok> Tokens(std::string page) {
  TScanner s;
  s.SetText(std::move(page));
  std::vector<Tok> out;
  while (s.NextToken()) out.emplace_back(s.Token(), std::string(s.TokenText()));
  EXPECT_EQ(s.Token(), tkEnd);
  return out;
}

TEST(Scanner, SplitsTagsIntoWordsStringsAndEquals) {
  EXPECT_EQ(Tokens("<A HREF=\"X.htm\" alt='a \"b\"'>Next</a>"), (std::vector<Tok>{{tkTagOpen, "<"},
                                                                                  {tkWord, "a"},
                                                                                  {tkWord, "href"},
                                                                                  {tkEquals, "="},
                                                                                  {tkString, "X.htm"},
                                                                                  {tkWord, "alt"},
                                                                                  {tkEquals, "="},
                                                                                  {tkString, "a \"b\""},
                                                                                  {tkTagClose, ">"},
                                                                                  {tkText, "Next"},
                                                                                  {tkTagOpen, "<"},
                                                                                  {tkWord, "/a"},
                                                                                  {tkTagClose, ">"}}));
  EXPECT_EQ(Tokens("just text, no tags"), (std::vector<Tok>{{tkText, "just text, no tags"}}));
  EXPECT_EQ(Tokens("<!--xyz -->"),
            (std::vector<Tok>{
                {tkTagOpen, "<"}, {tkWord, "!--"}, {tkWord, "xyz"}, {tkWord, "--"}, {tkTagClose, ">"}}));
  EXPECT_EQ(Tokens("<!DOCTYPE html>"),
            (std::vector<Tok>{{tkTagOpen, "<"}, {tkWord, "!doctype"}, {tkWord, "html"}, {tkTagClose, ">"}}));
}

TEST(Scanner, MalformedTagsNeverStall) {
  // Control bytes inside a tag are blanks; a stray "<" starts a word of its own.
  EXPECT_EQ(Tokens("<a\x01\x02href\x1b=x>"), (std::vector<Tok>{{tkTagOpen, "<"},
                                                               {tkWord, "a"},
                                                               {tkWord, "href"},
                                                               {tkEquals, "="},
                                                               {tkWord, "x"},
                                                               {tkTagClose, ">"}}));
  EXPECT_EQ(Tokens("<td <b>"),
            (std::vector<Tok>{{tkTagOpen, "<"}, {tkWord, "td"}, {tkWord, "<b"}, {tkTagClose, ">"}}));
  // An unterminated quote runs to the end of the page and leaves the tag.
  EXPECT_EQ(Tokens("<a href=\"x>text"),
            (std::vector<Tok>{
                {tkTagOpen, "<"}, {tkWord, "a"}, {tkWord, "href"}, {tkEquals, "="}, {tkString, "x>text"}}));
  EXPECT_EQ(Tokens("<"), (std::vector<Tok>{{tkTagOpen, "<"}}));
  EXPECT_EQ(Tokens(std::string("<\0\0", 3)), (std::vector<Tok>{{tkTagOpen, "<"}}));
}

TEST(Scanner, AttributeValuesKeepCaseAndOffsets) {
  TScanner s;
  s.SetText("<a HREF = Item.ASP?x=1 title=\"A B\">");
  ASSERT_TRUE(s.NextToken());  // <
  ASSERT_TRUE(s.NextToken());  // a
  ASSERT_TRUE(s.NextToken());  // href
  ASSERT_TRUE(s.NextToken());
  ASSERT_EQ(s.Token(), tkEquals);
  ASSERT_TRUE(s.ReadAttributeValue());
  EXPECT_EQ(s.Token(), tkWord);
  EXPECT_EQ(s.TokenText(), "Item.ASP?x=1");  // "=" does not end a bare value
  EXPECT_EQ(s.TokenStart(), 10u);
  s.NextToken();
  s.NextToken();
  ASSERT_TRUE(s.ReadAttributeValue());
  EXPECT_EQ(s.Token(), tkString);
  EXPECT_EQ(s.TokenText(), "A B");
  EXPECT_EQ(s.TokenStart(), 30u);
  ASSERT_TRUE(s.NextToken());
  EXPECT_EQ(s.Token(), tkTagClose);
  EXPECT_FALSE(s.InTag());
}

TEST(Scanner, SearchesMoveThePosition) {
  TScanner s;
  s.SetText("<TD>Price: $5</td><td>PRICE: $7</td>");
  EXPECT_TRUE(s.FindNext("price", false));
  EXPECT_EQ(s.Position(), 4u);
  EXPECT_TRUE(s.FindNext("price", false));  // a match at the position itself counts
  EXPECT_EQ(s.Position(), 4u);
  s.SetPosition(5);
  EXPECT_TRUE(s.FindNext("PRICE", true));
  EXPECT_EQ(s.Position(), 22u);
  EXPECT_FALSE(s.FindNext("missing", false));
  EXPECT_EQ(s.Position(), 22u);
  EXPECT_TRUE(s.FindPrevious("<td>", false));
  EXPECT_EQ(s.Position(), 18u);
  s.SetPosition(17);
  EXPECT_TRUE(s.FindPrevious("<td>", false));
  EXPECT_EQ(s.Position(), 0u);
  s.PushPosition();
  EXPECT_EQ(s.FindFirstOf({"$7", "$5", "</td>"}, true), 1);
  EXPECT_EQ(s.Position(), 11u);
  EXPECT_TRUE(s.PopPosition());
  EXPECT_EQ(s.Position(), 0u);
  EXPECT_FALSE(s.PopPosition());
}

TEST(Scanner, LinePositionsFollowTheMarkers) {
  TScanner s;
  s.SetText("l0\nl1<br>l2\nl3");
  //         0 1 2 3 4 5678 9 10 11
  EXPECT_EQ(s.LinePosition(4, 0), 3u);
  EXPECT_EQ(s.LinePosition(4, 1), 12u);  // "<br>" is no marker yet
  s.LineFeeds.push_back("<br>");
  EXPECT_EQ(s.LinePosition(4, 0), 3u);
  EXPECT_EQ(s.LinePosition(4, 1), 9u);
  EXPECT_EQ(s.LinePosition(4, 2), 12u);
  EXPECT_EQ(s.LinePosition(4, 3), s.Length());
  EXPECT_EQ(s.LinePosition(10, -1), 3u);
  EXPECT_EQ(s.LinePosition(10, -2), 0u);
  EXPECT_EQ(s.LinePosition(10, -5), 0u);
  EXPECT_EQ(s.LinePosition(3, 0), 3u);  // just after a marker is the start of its line
  s.SetPosition(10);
  s.SkipLineFeeds(1);
  EXPECT_EQ(s.Position(), 12u);
}

TEST(Scanner, LoadsAndSavesStreams) {
  std::istringstream in("skip<p>body");
  in.seekg(4);
  TScanner s;
  ASSERT_TRUE(s.LoadFromStream(in));
  EXPECT_EQ(s.Text(), "<p>body");
  std::ostringstream out;
  s.SaveToStream(out);
  EXPECT_EQ(out.str(), "<p>body");
}

}  // namespace
}  // namespace vandrel

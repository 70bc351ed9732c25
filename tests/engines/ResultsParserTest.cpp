#include "engines/ResultsParserEx.h"

#include <gtest/gtest.h>

#include "EngineTestUtil.h"

namespace vandrel {
namespace {

using testing::TBooksSearch;

// A parser over the books instance; rules are set directly, as an engine script would.
struct TCut : TBooksSearch {
  TResultsParserEx& P = Engine.ResultsParser;
  TSearchRule& Rule(const std::string& name) { return *P.Rules->FindOrAdd(name); }
  int Parse(const std::string& page, const std::string& address = "http://shop.test/search") {
    P.SetPageText(page);
    P.SetDocumentAddress(address);
    P.PrepareRules();
    return P.Parse();
  }
  std::string Text(size_t record, const char* field) { return P.Results().At(record).FindField(field)->Text; }
  double Number(size_t record, const char* field) { return P.Results().At(record).FindField(field)->Number; }
};

TEST(ResultsParserExpression, OneRecordPerItemLine) {
  TCut c;
  c.P.ParseType = PT_EXPRESSION;
  c.P.ParseExpression = "<li>";
  c.Rule("price").StartMarker = "$";
  c.Rule("price").EndMarker = "<";
  c.Rule("title").StartMarker = "<b>";
  c.Rule("title").EndMarker = "</b>";
  ASSERT_EQ(
      c.Parse(
          "<ul>\n<li><b>One</b> $1.50</li>\n<li><b>Two</b> $2</li>\n<li><b>Three</b> $3.25 USD</li>\n</ul>"),
      3);
  EXPECT_EQ(c.Text(0, "title"), "One");
  EXPECT_DOUBLE_EQ(c.Number(0, "price"), 1.5);
  EXPECT_DOUBLE_EQ(c.Number(1, "price"), 2);
  EXPECT_DOUBLE_EQ(c.Number(2, "price"), 3.25);
  EXPECT_EQ(c.P.Results().At(2).RecordId, 3);
  // The money code of the parser goes to every new record.
  EXPECT_EQ(c.P.Results().At(0).FindField("price")->DataType, dtMoney);
}

TEST(ResultsParserExpression, RangeBoundsTheOccurrences) {
  TCut c;
  c.P.ParseType = PT_EXPRESSION;
  c.P.ParseExpression = "<li>";
  c.Rule("Range").StartMarker = "<!--s-->";
  c.Rule("Range").EndMarker = "<!--e-->";
  c.Rule("title").StartMarker = "<li>";
  c.Rule("title").EndMarker = "\n";
  std::string page = "<li>before\n<!--s-->\n<li>in one\n<li>in two\n<!--e-->\n<li>after\n";
  ASSERT_EQ(c.Parse(page), 2);
  EXPECT_EQ(c.Text(1, "title"), "in two");
  // An item right after the end marker is outside too, even when nothing else follows.
  TCut d;
  d.P.ParseType = PT_EXPRESSION;
  d.P.ParseExpression = "<li>";
  d.Rule("Range").EndMarker = "<!--e-->";
  d.Rule("title").StartMarker = "<li>";
  EXPECT_EQ(d.Parse("<li>a\n<!--e--><li>b"), 1);
  // Without its start marker the page has no results; an empty separator finds none.
  EXPECT_EQ(c.Parse("<li>no markers here\n"), 0);
  TCut e;
  e.P.ParseType = PT_EXPRESSION;
  EXPECT_EQ(e.Parse("<li>x"), 0);
  // MaxResults stops the page.
  TCut f;
  f.P.ParseType = PT_EXPRESSION;
  f.P.ParseExpression = "<li>";
  f.P.MaxResults = 2;
  EXPECT_EQ(f.Parse("<li>1<li>2<li>3"), 2);
}

TEST(ResultsParserCutting, MarkersOccurrencesAndPositions) {
  struct {
    const char* Name;
    const char* Block;
    std::function<void(TSearchRule&)> Setup;
    const char* Expected;  // nullptr: the field stays unset
  } cases[] = {
      {"second end marker", "a|b|c", [](TSearchRule& r) { r.EndMarker = "|", r.EndMarkerOccurrence = 2; },
       "a|b"},
      {"second start marker", "a|b|c",
       [](TSearchRule& r) { r.StartMarker = "|", r.StartMarkerOccurrence = 2; }, "c"},
      {"missing mandatory start", "abc", [](TSearchRule& r) { r.StartMarker = "#"; }, nullptr},
      {"missing optional start", "abc",
       [](TSearchRule& r) { r.StartMarker = "#", r.StartMarkerMandatory = false; }, "abc"},
      {"end marker right at the start", "<x>abc", [](TSearchRule& r) { r.EndMarker = "<"; }, ""},
      {"start and count", "abcdef", [](TSearchRule& r) { r.StartChar = 2, r.NbChars = 3; }, "bcd"},
      {"start beyond the block", "abc", [](TSearchRule& r) { r.StartChar = 10; }, ""},
      {"count beyond the block", "abc", [](TSearchRule& r) { r.StartChar = 2, r.NbChars = 99; }, "bc"},
      {"start before the block", "abc", [](TSearchRule& r) { r.StartChar = -5, r.NbChars = 7; }, "a"},
      {"last character at the page end", "price 12", [](TSearchRule& r) { r.StartMarker = "price "; }, "12"},
      {"no cleaning", "a <b>x</b>", [](TSearchRule& r) { r.Clean = false; }, "a <b>x</b>"},
      {"cleaning", " a <b>x</b> &amp; y ", [](TSearchRule&) {}, "a x & y"},
      {"translation", "$12.99", [](TSearchRule& r) { r.AddTranslation("$", "EUR "); }, "EUR 12.99"},
  };
  for (const auto& tc : cases) {
    TCut c;
    c.P.ParseType = PT_PAGE;
    TSearchRule& r = c.Rule("author");
    tc.Setup(r);
    ASSERT_EQ(c.Parse(tc.Block), 1) << tc.Name;
    TResultField& f = *c.P.Results().At(0).FindField("author");
    EXPECT_EQ(f.Text, tc.Expected ? tc.Expected : "") << tc.Name;
  }
}

TEST(ResultsParserCutting, LinesFromLineFeedTags) {
  TCut c;
  c.P.ParseType = PT_EXPRESSION;
  c.P.ParseExpression = "<tr>";
  c.P.LineFeedTags->Add("<br>");
  c.Rule("title").StartMarker = "<tr>";
  c.Rule("title").EndMarker = "<";
  c.Rule("author").StartLine = 1;
  c.Rule("author").EndMarker = "<";
  c.Rule("shipping").StartLine = -1;
  c.Rule("shipping").NbLines = 3;
  c.Rule("shipping").Clean = false;
  c.Rule("shipping").Translations.Clear();
  ASSERT_EQ(c.Parse("head<br><tr>Title A<br>Author A<br>tail"), 1);
  EXPECT_EQ(c.Text(0, "title"), "Title A");
  EXPECT_EQ(c.Text(0, "author"), "Author A");
  // Without an end marker a block inside the page loses its last character, the end of its line feed.
  EXPECT_EQ(c.Text(0, "shipping"), "head<br><tr>Title A<br>Author A<br");
}

TEST(ResultsParserCutting, NumbersLengthsAndErrors) {
  TCut c;
  c.P.ParseType = PT_PAGE;
  c.Rule("price").StartMarker = "=";
  c.Rule("title").StartMarker = ":";
  ASSERT_EQ(c.Parse(":A title far longer than the forty characters it may have =12.99 USD"), 1);
  EXPECT_EQ(c.Text(0, "title").size(), 40u);
  EXPECT_DOUBLE_EQ(c.Number(0, "price"), 12.99);
  TCut dollar;
  dollar.P.ParseType = PT_PAGE;
  dollar.Rule("price").StartMarker = "=";
  dollar.Parse("=$12.99");
  EXPECT_DOUBLE_EQ(dollar.Number(0, "price"), 0);
  TCut bad;
  bad.P.ParseType = PT_PAGE;
  bad.Rule("price").StartMarker = "=";
  bad.Parse("=1.2.3");
  TResultField& f = *bad.P.Results().At(0).FindField("price");
  EXPECT_EQ(f.ErrorCode, 101);
  EXPECT_EQ(f.DisplayText().substr(0, 7), "ERR101-");
}

TEST(ResultsParserLinks, KeysChecksAndCompletion) {
  TCut c;
  c.P.ParseType = PT_EXPRESSION;
  c.P.ParseExpression = "<li>";
  c.P.ParseIncompleteLinks = true;
  c.P.BaseLink = "http://h/";
  c.P.Exclusions->Add("/ads/");
  TSearchRule& url = c.Rule("url");
  url.SetKey(true);
  url.StartMarker = "href=\"";
  url.EndMarker = "\"";
  std::string page =
      "<li><a href=\"/item?id=3\">\n"
      "<li><a href=\"http://h/item?id=3\">\n"  // the same address, written complete
      "<li><a href=\"/ads/1\">\n"
      "<li><a href=\"item%3Fid%3D4\">\n"
      "<li>no link at all\n";
  ASSERT_EQ(c.Parse(page), 2);
  EXPECT_EQ(c.Text(0, "url"), "http://h/item?id=3");
  EXPECT_EQ(c.Text(1, "url"), "http://h/item?id=4");

  // Without completion, links lacking a known prefix are dropped; inclusions must match.
  TCut d;
  d.P.ParseType = PT_EXPRESSION;
  d.P.ParseExpression = "<li>";
  d.P.Inclusions->Add("/book/");
  d.Rule("url").SetKey(true);
  d.Rule("url").StartMarker = "href=";
  d.Rule("url").EndMarker = ">";
  EXPECT_EQ(d.Parse("<li>href=/book/1>\n<li>href=http://h/dvd/2>\n<li>href=HTTP://h/book/3>\n"), 1);
  EXPECT_EQ(d.Text(0, "url"), "HTTP://h/book/3");
  // Against the document address when there is no base link; the unique keys outlive a page.
  TCut e;
  e.P.ParseType = PT_EXPRESSION;
  e.P.ParseExpression = "<li>";
  e.P.ParseIncompleteLinks = true;
  e.Rule("url").SetKey(true);
  e.Rule("url").StartMarker = "href=";
  e.Rule("url").EndMarker = ">";
  EXPECT_EQ(e.Parse("<li>href=../x.htm>\n", "http://h/a/b/list.htm"), 1);
  EXPECT_EQ(e.Text(0, "url"), "http://h/a/x.htm");
  EXPECT_EQ(e.Parse("<li>href=../x.htm>\n", "http://h/a/b/list.htm"), 0);
}

TEST(ResultsParserLinks, OneRecordPerAnchor) {
  TCut c;
  c.P.ParseType = PT_LINK;
  c.P.ParseIncompleteLinks = true;
  c.P.BaseLink = "http://shop.test";
  c.Rule("url").SetKey(true);
  c.Rule("title").Code = RC_LINKTEXT;
  c.Rule("price").StartMarker = "$";
  c.Rule("price").EndMarker = "<";
  c.Rule("shipping").Code = RC_DOCUMENTTITLE;
  c.Rule("author").Code = RC_DOCUMENTADDRESS;
  std::string page =
      "<html><head><title>Shop</title></head><body>\n"
      "<a href=\"/p/1?a=1&amp;b=2\">First   item</a> $3.50</td>\n"
      "<a href=\"http://www.shop.test/p/2/\">Second</a> $4<br>\n"
      "<!-- <a href=\"/p/3\">hidden</a> -->\n"
      "<a href=\"http://shop.test/p/2\">Second again</a> $4<br>\n"
      "</body></html>";
  ASSERT_EQ(c.Parse(page, "http://shop.test/find"), 2);
  EXPECT_EQ(c.Text(0, "url"), "http://shop.test/p/1?a=1&b=2");
  EXPECT_EQ(c.Text(0, "title"), "First item");
  EXPECT_DOUBLE_EQ(c.Number(0, "price"), 3.5);
  EXPECT_EQ(c.Text(0, "shipping"), "Shop");
  EXPECT_EQ(c.Text(0, "author"), "http://shop.test/find");
  EXPECT_EQ(c.Text(1, "url"), "http://www.shop.test/p/2/");
  EXPECT_EQ(c.P.GetDocumentTitle(), "Shop");
}

TEST(ResultsParserPage, ExpressionsAndFailure) {
  TCut c;
  c.P.ParseType = PT_PAGE;
  c.Rule("price").Expression = "Price:";
  c.Rule("price").StartMarker = "$";
  c.Rule("title").Expression = "Nope";
  c.Rule("title").ExpressionMandatory = false;
  c.Rule("title").EndMarker = "\n";
  ASSERT_EQ(c.Parse("Top line\nPrice: $5\n"), 1);
  EXPECT_DOUBLE_EQ(c.Number(0, "price"), 5);
  EXPECT_EQ(c.Text(0, "title"), "Top line");
  c.Rule("title").ExpressionMandatory = true;
  EXPECT_EQ(c.Parse("Top line\nPrice: $5\n"), 0);
  // Non-HTML documents are not parsed.
  TCut x;
  x.P.ParseType = PT_PAGE;
  x.P.DocumentType = 1;
  EXPECT_EQ(x.Parse("<a/>"), 0);
  x.P.DocumentType = 7;  // stored as HTML
  EXPECT_EQ(x.Parse("<a/>"), 1);
}

}  // namespace
}  // namespace vandrel

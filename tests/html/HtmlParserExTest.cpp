#include "html/HtmlParserEx.h"
#include "platform/SourceDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace vandrel {
namespace {

std::string Fixture(const char* name) {
  std::ifstream in(std::string(VANDREL_SOURCE_DIR) + "/tests/html/fixtures/" + name, std::ios::binary);
  std::ostringstream buf;
  buf << in.rdbuf();
  return buf.str();
}

std::vector<std::string> Addresses(const TLinkList& list) {
  std::vector<std::string> out;
  for (const TLinkItem* item : list) out.push_back(item->Address);
  return out;
}

// Every collected address must sit exactly at its recorded offset, or rewriting corrupts the page.
void ExpectOffsets(const THtmlParserEx& p, const TLinkList& list) {
  for (const TLinkItem* item : list)
    EXPECT_EQ(p.Text().substr(item->Position, item->Address.size()), item->Address) << item->Address;
}

class StorePage : public ::testing::Test {
 protected:
  void SetUp() override {
    page = Fixture("store_results.html");
    ASSERT_FALSE(page.empty());
    p.SetText(page);
  }
  std::string page;
  THtmlParserEx p;
};

TEST_F(StorePage, CollectsLinksHeadDataAndOffsets) {
  p.CollectLinkText = true;
  p.Parse();
  EXPECT_EQ(Addresses(p.Links()),
            (std::vector<std::string>{"/css/main.css", "search.asp", "item.asp?id=101&amp;ref=list",
                                      "item.asp?id=102", "item.asp?id=102&buy=1", "help.htm",
                                      "results.asp?page=2"}));
  EXPECT_EQ(Addresses(p.Images()), (std::vector<std::string>{"img/go.gif"}));  // the form's image button
  EXPECT_EQ(Addresses(p.Frames()), (std::vector<std::string>{"nav.htm"}));
  ExpectOffsets(p, p.Links());
  ExpectOffsets(p, p.Images());
  ExpectOffsets(p, p.Frames());
  EXPECT_EQ(page[p.Links()[2].Position - 1], '"');
  EXPECT_EQ(p.Links()[3].Position, page.find("item.asp?id=102>"));

  EXPECT_EQ(p.Title(), "Dunmore Books - Search Results");
  EXPECT_EQ(p.BaseUrl(), "http://www.dunmore.test/store/");
  EXPECT_EQ(p.Meta().Value("refresh"), "300; url=/search.asp?again=1");
  EXPECT_EQ(p.Meta().Value("content-type"), "text/html; charset=iso-8859-1");

  EXPECT_EQ(p.Links()[2].AnchorText, "The Lost Garden");
  EXPECT_EQ(p.Links()[3].AnchorText, "Tide Tables");  // words inside a <span> belong to the anchor
  EXPECT_EQ(p.Links()[4].AnchorText, "$8.49");
  EXPECT_EQ(p.Links()[6].AnchorText, "Next&nbsp;&gt;");
  EXPECT_EQ(p.Links()[2].AnchorStart, page.find("<A HREF=\"item.asp?id=101"));
  EXPECT_EQ(p.Links()[2].AnchorEnd, page.find("</a> by J. Hale"));
  EXPECT_EQ(p.Links()[0].AnchorStart, kNoOffset);
}

TEST_F(StorePage, ImageAndFrameOptionsAddTheirElements) {
  p.ParseImages = true;
  p.ParseIFrames = true;
  p.ParseForms = false;
  p.Parse();
  EXPECT_EQ(Addresses(p.Images()),
            (std::vector<std::string>{"/img/paper.gif", "img/row.gif", "img/102.jpg"}));
  EXPECT_EQ(Addresses(p.Frames()), (std::vector<std::string>{"ad.htm", "nav.htm"}));
  EXPECT_EQ(p.Links().IndexOf("search.asp"), -1);
  ExpectOffsets(p, p.Images());
}

TEST_F(StorePage, RewritesAddressesAndDropsComments) {
  p.Parse();
  p.ResolveLinks("http://dunmore.test/cgi/find.asp");
  EXPECT_EQ(p.Links()[0].ResolvedUrl, "http://www.dunmore.test/css/main.css");
  EXPECT_EQ(p.Links()[3].ResolvedUrl, "http://www.dunmore.test/store/item.asp?id=102");
  for (const TLinkItem* item : p.Links()) const_cast<TLinkItem*>(item)->Replacement = item->ResolvedUrl;
  p.BuildRewrittenPage();
  const std::string& out = p.GetRewrittenPage();

  std::string want = page;
  auto replace = [&](const std::string& from, const std::string& to) {
    size_t at = want.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    want.replace(at, from.size(), to);
  };
  replace("<!-- banner <a href=\"hidden.htm\">hidden</a> -->", "");
  replace("\"/css/main.css\"", "\"http://www.dunmore.test/css/main.css\"");
  replace("\"search.asp\"", "\"http://www.dunmore.test/store/search.asp\"");
  replace("\"item.asp?id=101&amp;ref=list\"",
          "\"http://www.dunmore.test/store/item.asp?id=101&amp;ref=list\"");
  replace("=item.asp?id=102>", "=http://www.dunmore.test/store/item.asp?id=102>");
  replace("'item.asp?id=102&buy=1'", "'http://www.dunmore.test/store/item.asp?id=102&buy=1'");
  replace("\"help.htm\"", "\"http://www.dunmore.test/store/help.htm\"");
  replace("\"results.asp?page=2\"", "\"http://www.dunmore.test/store/results.asp?page=2\"");
  EXPECT_EQ(out, want);
  // The comment inside the script is the script's, not a page comment.
  EXPECT_NE(out.find("<!--\nfunction go"), std::string::npos);

  std::ostringstream saved;
  p.SaveToStream(saved);
  EXPECT_EQ(saved.str(), want);
}

TEST_F(StorePage, LinkAtFindsTheAnchorAroundAPosition) {
  p.Parse();
  auto at = [&](const std::string& text) { return p.LinkAt(page.find(text)); };
  ASSERT_NE(at("$8.49"), nullptr);
  EXPECT_EQ(at("$8.49")->Address, "item.asp?id=102&buy=1");
  EXPECT_EQ(at("Garden")->Address, "item.asp?id=101&amp;ref=list");
  EXPECT_EQ(at("Tide")->Address, "item.asp?id=102");
  EXPECT_EQ(at("$12.99"), nullptr);
  EXPECT_EQ(at("Our price"), nullptr);
  EXPECT_EQ(p.LinkAt(0), nullptr);
}

TEST(HtmlParserEx, LinkAtPrefersTheInnermostAnchor) {
  THtmlParserEx p;
  const std::string page = "<a href=outer>x <a href=inner>y</a> z</a> w";
  p.SetText(page);
  p.Parse();
  EXPECT_EQ(p.LinkAt(page.find('y'))->Address, "inner");
  EXPECT_EQ(p.LinkAt(page.find('z'))->Address, "outer");
  EXPECT_EQ(p.LinkAt(page.find('w')), nullptr);
  p.CollectLinkText = true;
  p.Parse();
  EXPECT_EQ(p.Links()[0].AnchorText, "x  z");  // the inner anchor keeps its own text
  EXPECT_EQ(p.Links()[1].AnchorText, "y");
  // An anchor never closed reaches the end of the page.
  p.SetText("<a href=open>tail");
  p.Parse();
  EXPECT_EQ(p.Links()[0].AnchorEnd, 17u);
  EXPECT_EQ(p.LinkAt(16)->Address, "open");
}

struct PageCase {
  const char* name;
  const char* page;
  std::vector<std::string> links;
};

TEST(HtmlParserEx, HeadBodySelectScriptAndCommentRules) {
  const PageCase cases[] = {
      {"tag and attribute names in any case", "<A HREF=\"x.htm\">Next</a>", {"x.htm"}},
      {"anchors in the head are ignored", "<head><a href=h.htm></head><a href=b.htm>", {"b.htm"}},
      {"link tags only in the head", "<head><link href=s.css></head><body><link href=no.css>", {"s.css"}},
      {"a missing </head> ends at <body>", "<head><title>T</title><body><a href=x>", {"x"}},
      {"no <head> at all", "<html><link href=s.css><a href=x></html>", {"s.css", "x"}},
      {"select hides its tags", "<select><option>1<a href=no></select><a href=yes>", {"yes"}},
      {"unclosed select hides the rest", "<select><option><a href=no>", {}},
      {"script", "<script>w('<a href=\"no\">')</SCRIPT><a href=yes>", {"yes"}},
      {"unterminated script", "<script><a href=no>", {}},
      {"comment tag", "<comment><a href=no></Comment><a href=yes>", {"yes"}},
      {"html comment", "<!-- <a href=\"hidden.htm\"> --><a href=shown.htm>", {"shown.htm"}},
      {"unterminated comment", "<!-- <a href=no>", {}},
      {"anchor without href", "<a name=top>x</a><a href=y>", {"y"}},
      {"form action and stray input", "<input type=image src=i.gif><form action=f.asp></form>", {"f.asp"}},
      {"empty and odd tags", "<><<a href=x>>< a href=y>", {"y"}},  // "<<a" is no anchor
      {"control bytes between attributes", "<a\x01\x7fhref=\"c\"\x02>", {}},
      {"control bytes as blanks", "<a\x01href=\"c\"\x02>", {"c"}},
  };
  for (const PageCase& c : cases) {
    THtmlParserEx p;
    p.SetText(c.page);
    p.Parse();
    EXPECT_EQ(Addresses(p.Links()), c.links) << c.name;
    ExpectOffsets(p, p.Links());
  }
}

TEST(HtmlParserEx, TitleAndMetaAreReadFromTheHeadOnly) {
  THtmlParserEx p;
  p.SetText(
      "<html><head><meta HTTP-EQUIV=\"Refresh\" content=\"0; URL=next.htm\"><meta name=x content=y>"
      "<title>\n   Blue\n      Shoes  \n</title></head><body><title>Not this</title></body>");
  p.Parse();
  EXPECT_EQ(p.Meta().Count(), 1u);
  EXPECT_EQ(p.Meta().Value("refresh"), "0; url=next.htm");
  EXPECT_EQ(p.Title(), "Blue Shoes");

  // Of two entries with one name, the earlier in the page answers.
  p.SetText(
      "<meta http-equiv=a content=0><meta http-equiv=refresh content=1><meta http-equiv=Refresh content=2>");
  p.Parse();
  EXPECT_EQ(p.Meta().Count(), 3u);
  EXPECT_EQ(p.Meta().Value("refresh"), "1");
}

// Pages that leave out <head> still name themselves before <body>. Anchor texts are the text between the
// tags: a <br> is no line break there, only a real one parts the words.
TEST(HtmlParserEx, TitleWithoutHeadAndBreaksInAnchorText) {
  THtmlParserEx p;
  p.CollectLinkText = true;
  p.SetText("<html><title>No head</title><body><a href=x>one<br/>two</a><a href=y>one<br>\n two</a>");
  p.Parse();
  EXPECT_EQ(p.Title(), "No head");
  ASSERT_EQ(p.Links().Count(), 2u);
  EXPECT_EQ(p.Links()[0].AnchorText, "onetwo");
  EXPECT_EQ(p.Links()[1].AnchorText, "one two");
  // Visible-text search reads every form of <br> as a blank, so the first anchor is found by its words.
  const std::string page = p.Text();
  EXPECT_EQ(p.FindLinkAtText(page, "one two", true), "x");
}

TEST(HtmlParserEx, KeepsCommentsWhenAsked) {
  THtmlParserEx p;
  p.StripComments = false;
  const std::string page = "a<!-- x -->b<img src=\"p.gif\">";
  p.SetText(page);
  p.ParseImages = true;
  p.Parse();
  EXPECT_TRUE(p.Replacements().empty());
  p.BuildRewrittenPage();
  EXPECT_EQ(p.GetRewrittenPage(), page);  // untouched replacements write the page back as it was
}

TEST(HtmlParserEx, RewritingSkipsOverlappingReplacements) {
  THtmlParserEx p;
  p.SetText("0123456789");
  p.AddReplacement(2, 4, "X");
  p.AddReplacement(3, 1, "Y");   // inside the first: cannot be applied
  p.AddReplacement(8, 50, "Z");  // runs past the end: cut at the end
  p.AddReplacement(40, 1, "W");
  p.BuildRewrittenPage();
  EXPECT_EQ(p.GetRewrittenPage(), "01X67Z");
}

TEST(HtmlParserEx, SurvivesDeepNestingAndNoiseInput) {
  std::string page;
  for (int i = 0; i < 50000; ++i) page += "<div><a href=x>t";
  THtmlParserEx p;
  p.CollectLinkText = true;
  p.SetText(page);
  p.Parse();
  EXPECT_TRUE(p.Parsed());
  std::string noise;
  for (int i = 0; i < 4096; ++i) noise += static_cast<char>((i * 7919) % 256);
  p.SetText(noise);
  p.Parse();
  EXPECT_TRUE(p.Parsed());
}

TEST(HtmlParserEx, CleanTextJoinsLines) {
  EXPECT_EQ(CleanHtmlText("  one line  "), "  one line  ");
  EXPECT_EQ(CleanHtmlText("\n    The Lost\r\n\t  Garden\n\n  "), "The Lost Garden");
  EXPECT_EQ(CleanHtmlText(" a \n b "), " a b ");
  EXPECT_EQ(CleanHtmlText("\r\n"), "");
}

TEST(UniqueUrlList, KeepsEachAddressOnceWithItsLinks) {
  TUniqueUrlList list;
  TLinkItem a, b, c;
  list.Add("http://h/b", &a);
  list.Add("http://h/a", &b);
  list.Add("http://h/b", &c);
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.begin()->first, "http://h/a");
  EXPECT_EQ(list.Find("http://h/b")->Links, (std::vector<TLinkItem*>{&a, &c}));
  EXPECT_EQ(list.Find("http://h/c"), nullptr);
}

}  // namespace
}  // namespace vandrel

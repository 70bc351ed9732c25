#include "platform/UrlUtils.h"

#include <gtest/gtest.h>

namespace vandrel {
namespace {

TEST(UrlParserEx, SplitsComponentsWithoutTouchingDotSegments) {
  TUrlParserEx p("http://www.store.test/a/b/../c/./d.html?x=1#top");
  EXPECT_EQ(p.Scheme(), "http");
  EXPECT_EQ(p.NetLoc(), "www.store.test");
  EXPECT_EQ(p.Path(), "a/b/../c/./d.html");
  EXPECT_EQ(p.Query(), "x=1");
  EXPECT_EQ(p.Fragment(), "top");
  EXPECT_EQ(p.FileName(), "d.html");
  EXPECT_FALSE(p.Relative());
  EXPECT_TRUE(p.AbsolutePath());
  EXPECT_EQ(p.Url(), "http://www.store.test/a/b/../c/./d.html?x=1#top");
}

TEST(UrlParserEx, CleansAndClassifiesInput) {
  struct Case {
    const char* in;
    const char* scheme;
    const char* netloc;
    const char* path;
    const char* params;
    const char* url;
    bool relative;
  } cases[] = {
      {"  'HTTP://Shop.test\\cart\\view.asp'  ", "http", "Shop.test", "cart/view.asp", "",
       "http://Shop.test/cart/view.asp", false},
      {"\"https://h/x;jsessionid=9\"", "https", "h", "x", "jsessionid=9", "https://h/x;jsessionid=9", false},
      {"mailto:box", "mailto", "box", "", "", "mailto:box", false},
      {"http:x/y", "http", "", "x/y", "", "http:///x/y", false},  // no "//": no host
      {"x/y.html", "", "", "x/y.html", "", "/x/y.html", true},
      {"//cdn.test/i.gif", "", "cdn.test", "i.gif", "", "//cdn.test/i.gif", true},
      {"a;", "", "", "a;", "", "/a;", true},  // a ";" in last position stays in the path
      {"page#", "", "", "page#", "", "/page#", true},
      {"c:", "c", "", "", "", "c:", false},  // the first character of a scheme is not checked
      {":x", "", "", ":x", "", "/:x", true},
  };
  for (const Case& c : cases) {
    TUrlParserEx p(c.in);
    SCOPED_TRACE(c.in);
    EXPECT_EQ(p.Relative(), c.relative);
    EXPECT_EQ(p.Scheme(), c.scheme);
    EXPECT_EQ(p.NetLoc(), c.netloc);
    EXPECT_EQ(p.Path(), c.path);
    EXPECT_EQ(p.Params(), c.params);
    EXPECT_EQ(p.Url(), c.url);
  }
}

TEST(UrlParserEx, ResolvesRelativeReferences) {
  struct Case {
    const char* base;
    const char* rel;
    const char* want;
  } cases[] = {
      {"http://h/a/b/c.html", "../x/", "http://h/a/x/"},
      {"http://h/a/b/c.html", ".", "http://h/a/b/"},
      {"http://h/a/b/c.html", "..", "http://h/a/"},
      {"http://h/a/b/c.html", "../../..", "http://h/../"},
      {"http://h/a/b/c.html", "d.html", "http://h/a/b/d.html"},
      {"http://h/a/b/c.html", "/top.html", "http://h/top.html"},
      {"http://h/a/b/c.html", "x/../y/./z.gif", "http://h/a/b/y/z.gif"},
      {"http://h/a/b/c.html", "#frag", "http://h/a/b/c.html#frag"},
      {"http://h/p;k?q=1", "?q=2", "http://h/p;k?q=2"},
      {"http://h/p;k?q=1", ";j", "http://h/p;j"},
      {"http://h/p;k?q=1", "", "http://h/p;k?q=1"},
      {"http://h", "item.asp?id=7", "http://h/item.asp?id=7"},
      {"http://h/a/", "other.test/x", "http://h/a/other.test/x"},
      {"http://h/a/b.html", "//cdn.test/i.gif", "http://cdn.test/i.gif"},
      {"http://h/a/b.html", "ftp://files.test/x", "ftp://files.test/x"},
  };
  for (const Case& c : cases) {
    TUrlParserEx base(c.base);
    TUrlParserEx rel(c.rel, &base);
    EXPECT_EQ(rel.Url(), c.want) << c.base << " + " << c.rel;
  }
  EXPECT_EQ(ResolveUrl("http://h/a/b/c.html", "../d.htm"), "http://h/a/d.htm");
}

TEST(UrlParserEx, ChangingSourceOrBaseReparses) {
  TUrlParserEx base1("http://one.test/dir/page.htm");
  TUrlParserEx base2("http://two.test/other/");
  TUrlParserEx rel("next.htm", &base1);
  EXPECT_EQ(rel.Url(), "http://one.test/dir/next.htm");
  rel.SetBase(&base2);
  EXPECT_EQ(rel.Url(), "http://two.test/other/next.htm");
  rel.SetUrl("http://three.test/");
  EXPECT_EQ(rel.NetLoc(), "three.test");
  EXPECT_EQ(rel.Url(), "http://three.test");
}

TEST(UrlParserEx, QueryFieldsMatchWholeKeysOnly) {
  TUrlParserEx p("http://h/s?aname=1&name=2&x=");
  EXPECT_EQ(p.GetQueryField("name"), "2");
  EXPECT_EQ(p.GetQueryField("aname"), "1");
  EXPECT_EQ(p.GetQueryField("x"), "");
  EXPECT_EQ(p.GetQueryField("Name"), "");

  TUrlParserEx q("http://h/s?aname=1");
  EXPECT_EQ(q.GetQueryField("name"), "");
  q.SetQueryField("name", "3");
  EXPECT_EQ(q.Query(), "aname=1&name=3");
  q.SetQueryField("aname", "a b");
  EXPECT_EQ(q.Query(), "aname=a b&name=3");
  q.SetQueryField("name", "");
  EXPECT_EQ(q.Query(), "aname=a b&name=");

  TUrlParserEx empty("http://h/s");
  empty.SetQueryField("page", "2");
  EXPECT_EQ(empty.Query(), "page=2");
}

TEST(UrlParserEx, ReducesAddressesOfOnePageToOneForm) {
  struct Case {
    const char* url;
    uint32_t flags;
    const char* want;
  } cases[] = {
      {"", REDUC_ALL, ""},
      {"http://www.store.test/index.html", REDUC_ALL, "http://store.test"},
      {"www.store.test/books/index.htm?x=1", REDUC_DOMAINPREFIX, "http://store.test/books/index.htm?x=1"},
      {"http://store.test/index.html", REDUC_DOMAINPREFIX, "http://store.test/index.html"},
      {"http://store.test/index.html", REDUC_DOMAINPREFIX | REDUC_DEFAULTPAGE, "http://store.test"},
      {"http://a.b.store.test/p#f", REDUC_DOMAINPREFIX, "http://b.store.test/p#f"},
      {"https://www.store.test/index.html", REDUC_ALL, "https://store.test"},
      {"http://www.store.test/index.html/", REDUC_SLASH | REDUC_WWW | REDUC_DEFAULTPAGE, "http://store.test"},
      {"http://www.store.test/index.html/", REDUC_DEFAULTPAGE, "http://www.store.test/index.html/"},
      {"http://www.store.test/", REDUC_WWW, "http://store.test/"},
      {"http://WWW.store.test/", REDUC_WWW, "http://WWW.store.test/"},
      {"https://www.store.test/", REDUC_WWW | REDUC_SLASH, "https://store.test"},
      {"http://store.test/", REDUC_SLASH, "http://store.test"},
      {"http://store.test/a/Index.html", REDUC_DEFAULTPAGE, "http://store.test/a/Index.html"},
      {"http://store.test/a/default.asp", REDUC_DEFAULTPAGE, "http://store.test/a"},
      {"/", REDUC_DEFAULTPAGE, "/"},
      {"/index.htm", REDUC_DEFAULTPAGE, "/index.htm"},  // the leading "/" is never the cut point
  };
  for (const Case& c : cases) EXPECT_EQ(ReduceUrl(c.url, c.flags), c.want) << c.url << " / " << c.flags;
}

TEST(UrlParser, TellsFilesFromDirectories) {
  struct Case {
    const char* in;
    const char* host;
    const char* path;
    const char* file;
    const char* full;
  } cases[] = {
      {"http://h.test/dir/page.htm", "h.test", "/dir/", "page.htm", "http://h.test/dir/page.htm"},
      {"http://h.test/dir/page", "h.test", "/dir/page/", "", "http://h.test/dir/page/"},
      {"http://www.store.test", "www.store.test", "/", "", "http://www.store.test/"},
      {"www.store.test/x.gif", "www.store.test", "/", "x.gif", "www.store.test/x.gif"},
      {"../img/x.gif", "", "/../img/", "x.gif", "/../img/x.gif"},
      {"h.test\\a\\b.jpg", "h.test", "/a/", "b.jpg", "h.test/a/b.jpg"},
  };
  for (const Case& c : cases) {
    TUrlParser p;
    p.Parse(c.in);
    SCOPED_TRACE(c.in);
    EXPECT_EQ(p.Host, c.host);
    EXPECT_EQ(p.Path, c.path);
    EXPECT_EQ(p.FileName, c.file);
    EXPECT_EQ(p.FullUrl, c.full);
  }
}

TEST(UrlEscaping, EachRuleEscapesItsOwnSet) {
  EXPECT_EQ(EscapeUrlText("/a b/\"x\"#<>\\^{|}~`?q=1&r=%41+;:@"),
            "/a%20b/%22x%22%23%3C%3E%5C%5E%7B%7C%7D%7E%60?q=1&r=%41+;:@");
  EXPECT_EQ(EscapeUrlText("\x01\x7f\xe9"), "%01%7F%E9");
  EXPECT_EQ(SafeUrl("http://h.test/a b/~x?q=\"1\"&y=[2]"), "http://h.test/a%20b/%7Ex?q=%221%22&y=[2]");
  EXPECT_EQ(SafeUrl("http://h.test"), "http://h.test");
  EXPECT_EQ(SafeUrl("no scheme/a b"), "no scheme/a b");
  EXPECT_EQ(SafeVar("a b&c=d/e@f%"), "a%20b%26c%3Dd%2Fe%40f%25");
  EXPECT_EQ(DecodeUrlEscapes("a%20b%2fc%zz%4"), "a b/c%zz%4");
  EXPECT_EQ(DecodeUrlEscapes("%"), "%");
}

TEST(Entities, DecodeNamedAndNumericReferences) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {"no refs", "no refs"},
      {"Tom &amp Jerry", "Tom & Jerry"},
      {"&#65;&#66", "AB"},
      {"&bogus; x", "&bogus; x"},
      {"&abcdefgh", "&abcdefgh"},
      {"&#x41;", "&#x41;"},
      {"&#;&#0;&", "&#;&#0;&"},
      {"a&&lt;b&gt;", "a&<b>"},
      {"&Agrave;&agrave;", "\xC3\x80\xC3\xA0"},  // case is significant
      {"&AGRAVE;", "&AGRAVE;"},
      {"&nbsp;", " "},
      {"&trade;&#153;", "\xE2\x84\xA2\xE2\x84\xA2"},
      {"&pound;9.99",
       "\xC2\xA3"
       "9.99"},
      {"&#8364;", "\xE2\x82\xAC"},
      {"&#55296;", "\xEF\xBF\xBD"},   // a lone surrogate is no character
      {"&hellipx;", "\xE2\x80\xA6"},  // only six characters of a name count
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeEntities(c.in), c.want) << c.in;
}

TEST(Entities, LookupIsExactAndCoversTheTable) {
  EXPECT_EQ(LookupEntity("amp"), 38);
  EXPECT_EQ(LookupEntity("Amp"), 0);
  EXPECT_EQ(LookupEntity("yuml"), 255);
  EXPECT_EQ(LookupEntity("Yuml"), 159);
  EXPECT_EQ(LookupEntity("half"), 189);
  EXPECT_EQ(LookupEntity("brkbar"), 166);
  EXPECT_EQ(LookupEntity(""), 0);
  EXPECT_EQ(LookupEntity("zzz"), 0);
}

}  // namespace
}  // namespace vandrel

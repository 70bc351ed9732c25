// Cookie parsing and the per-domain cookie store.
#include <gtest/gtest.h>

#include "http/CookieManager.h"
#include "http/CookieParser.h"
#include "http/HttpDates.h"

namespace vandrel {
namespace {

TEST(CookieParser, CompletesAndChecksAgainstTheRequestAddress) {
  struct TCase {
    const char* Text;
    const char* Url;
    bool Valid;
    const char* Domain;
    const char* Path;
    const char* NameValue;
  };
  const TCase cases[] = {
      {"id=5; path=/; domain=.example.org", "http://shop.example.org/a/b.html", true, ".example.org", "/",
       "id=5"},
      {"id=5; path=/; domain=.example.org", "http://example.org/", false, ".example.org", "/", "id=5"},
      {"id=5", "http://shop.example.org/a/b.html", true, "shop.example.org", "/a/b.html", "id=5"},
      {"id=5", "http://shop.example.org:8080", true, "shop.example.org:8080", "/", "id=5"},
      {"id=5; domain=example.org", "http://shop.example.org/", true, "example.org", "/", "id=5"},
      // A domain must match whole labels and be more than one label.
      {"id=5; domain=ample.org", "http://example.org/", false, "ample.org", "/", "id=5"},
      {"id=5; domain=.org", "http://example.org/", false, ".org", "/", "id=5"},
      {"id=5; domain=org", "http://example.org/", false, "org", "/", "id=5"},
      // The first name=value piece is the cookie; later unknown attributes do not replace it.
      {"sid=abc; Max-Age=3600; SameSite=Lax; Path=/x", "http://h.test/", true, "h.test", "/x", "sid=abc"},
      {"secure; id=7", "http://h.test/", true, "h.test", "/", "id=7"},
      {"just-a-word; path=/", "http://h.test/", false, "", "/", ""},
      {"id=5; path=/p; domain=.x.test", "", true, ".x.test", "/p", "id=5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text + std::string(" from ") + c.Url);
    const TCookie cookie(c.Text, c.Url);
    EXPECT_EQ(cookie.Valid, c.Valid);
    if (!c.Valid && cookie.NameValue.empty()) continue;
    EXPECT_EQ(cookie.Domain, c.Domain);
    EXPECT_EQ(cookie.Path, c.Path);
    EXPECT_EQ(cookie.NameValue, c.NameValue);
  }
  const TCookie secure("id=5; Secure", "http://h.test/");
  EXPECT_TRUE(secure.Secure);
  EXPECT_EQ(secure.Name, "id");
  EXPECT_FALSE(secure.IsPersistent());
  EXPECT_EQ(TCookie("a=1; expires=Sun, 06 Nov 1994 08:49:37 GMT; secure", "http://h.test/d/f").Text(),
            "a=1;expires=Sun, 06 Nov 1994 08:49:37 GMT;path=/d/f;domain=h.test;secure");
}

TEST(CookieParser, ExpiryForms) {
  const double now = ParseHttpDate("Wed, 09 Dec 2026 12:00:00 GMT");
  ASSERT_NE(now, 0);
  auto expiredAt = [&](const char* expires) {
    return TCookie(std::string("id=1; expires=") + expires, "http://h.test/").IsExpiredAt(now);
  };
  EXPECT_TRUE(expiredAt("Sun, 06 Nov 1994 08:49:37 GMT"));
  EXPECT_TRUE(expiredAt("Sunday, 06-Nov-94 08:49:37 GMT"));
  EXPECT_TRUE(expiredAt("Wed, 09-Dec-2026 11:59:59 GMT"));  // Netscape form, four-digit year
  EXPECT_FALSE(expiredAt("Thu, 01-Jan-2037 00:00:00 GMT"));
  EXPECT_FALSE(expiredAt("Friday, 01-Jan-37 00:00:00 GMT"));  // two-digit years below 80 are 20xx
  EXPECT_FALSE(expiredAt("soon"));                            // unreadable is not expired
  EXPECT_FALSE(TCookie("id=1", "http://h.test/").IsExpiredAt(now));
}

TEST(HttpDates, ReadsTheThreeServerFormsAndRefusesOthers) {
  const double rfc1123 = ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_NEAR(rfc1123, 34644.0 + (8 * 3600 + 49 * 60 + 37) / 86400.0, 1e-9);
  EXPECT_DOUBLE_EQ(ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), rfc1123);
  EXPECT_DOUBLE_EQ(ParseHttpDate("Sun Nov  6 08:49:37 1994"), rfc1123);
  EXPECT_DOUBLE_EQ(ParseHttpDate("Sun, 06-Nov-1994 08:49:37 GMT"), rfc1123);
  EXPECT_EQ(ParseHttpDate("Su, 06 Nov 1994 08:49:37 GMT"), 0);    // comma too early
  EXPECT_EQ(ParseHttpDate("Sund, 06 Nov 1994 08:49:37 GMT"), 0);  // comma in between
  EXPECT_EQ(ParseHttpDate("Sun, 32 Nov 1994 08:49:37 GMT"), 0);
  EXPECT_EQ(ParseHttpDate("Sun, 06 Foo 1994 08:49:37 GMT"), 0);
  EXPECT_EQ(ParseHttpDate(""), 0);
}

class CookieManagerTest : public ::testing::Test {
 protected:
  void Receive(const char* text, const char* url) { manager.Receive(TCookie(text, url)); }
  TCookieManager manager;
};

TEST_F(CookieManagerTest, SendsOwnCookiesThenParentDomainInSortedOrder) {
  Receive("a=1", "http://shop.example.org/");
  Receive("b=2", "http://shop.example.org/");
  Receive("p=9; domain=.example.org; path=/", "http://shop.example.org/");
  EXPECT_EQ(manager.GetCookieString("http://shop.example.org/x"), "b=2; a=1; p=9");
  EXPECT_EQ(manager.GetCookieString("http://www.example.org/"), "p=9");
  EXPECT_EQ(manager.GetCookieString("http://other.test/"), "");

  Receive("q=1; domain=.example.co.uk; path=/", "http://shop.example.co.uk/");
  EXPECT_EQ(manager.GetCookieString("http://shop.example.co.uk/"), "");  // no parent domain there
}

TEST_F(CookieManagerTest, PathPrefixSecureAndReplacement) {
  Receive("id=5", "http://shop.test/a/b.html");
  EXPECT_EQ(manager.GetCookieString("http://shop.test/a/b.html?x=1"), "id=5");
  EXPECT_EQ(manager.GetCookieString("http://shop.test/a/"), "");
  Receive("id=6; path=/a/b.html", "http://shop.test/a/b.html");
  EXPECT_EQ(manager.GetCookieString("http://shop.test/a/b.html"), "id=6");

  Receive("s=1; secure; path=/", "https://shop.test/");
  EXPECT_EQ(manager.GetCookieString("http://shop.test/"), "");
  EXPECT_EQ(manager.GetCookieString("https://shop.test/"), "s=1");
}

TEST_F(CookieManagerTest, ExpiredCookieRemovesTheStoredOne) {
  Receive("id=5; path=/", "http://shop.test/");
  Receive("keep=1; path=/", "http://shop.test/");
  Receive("id=0; path=/; expires=Sun, 06 Nov 1994 08:49:37 GMT", "http://shop.test/");
  EXPECT_EQ(manager.GetCookieString("http://shop.test/"), "keep=1");
  Receive("late=1; path=/; expires=Thu, 01-Jan-2099 00:00:00 GMT", "http://shop.test/");

  const auto list = manager.Export();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Name, "keep");
  EXPECT_EQ(list[1].Text(), "late=1;expires=Thu, 01-Jan-2099 00:00:00 GMT;path=/;domain=shop.test;");

  manager.SetDisabled(true);
  EXPECT_EQ(manager.GetCookieString("http://shop.test/"), "");
  Receive("new=1; path=/", "http://shop.test/");
  manager.SetDisabled(false);
  EXPECT_EQ(manager.GetCookieString("http://shop.test/"), "late=1; keep=1");
  manager.Clear();
  EXPECT_TRUE(manager.Export().empty());
}

}  // namespace
}  // namespace vandrel

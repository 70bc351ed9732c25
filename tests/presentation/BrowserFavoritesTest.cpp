// The favourites menu's content, read from the bookmark files of the user's browsers.
#include "presentation/BrowserFavorites.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TempFolder.h"

namespace vandrel {
namespace {

std::vector<std::string> Names(const TFavoriteFolder& folder) {
  std::vector<std::string> names;
  for (const auto& f : folder.Folders) names.push_back(f.Name + "/");
  for (const auto& l : folder.Links) names.push_back(l.Name);
  return names;
}

TEST(BrowserFavorites, FoldersFirstThenLinksEachSorted) {
  TFavoriteFolder folder{"root",
                         {{"zeta", {}, {}}, {"Alpha", {}, {}}},
                         {{"shop", "http://a"}, {"Books", "http://b"}, {"music", "http://c"}}};
  SortFavorites(folder);
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"Alpha/", "zeta/", "Books", "music", "shop"}));
}

TEST(BrowserFavorites, ReadsChromiumBookmarks) {
  const char* json = R"({"checksum": "x", "roots": {
    "bookmark_bar": {"type": "folder", "name": "Bookmarks bar", "children": [
      {"type": "url", "name": "Demo", "url": "http://127.0.0.1/"},
      {"type": "folder", "name": "Stores", "children": [{"type": "url", "name": "B", "url": "http://127.0.0.1/b"}]}
    ]},
    "other": {"type": "folder", "name": "Other bookmarks", "children": []},
    "sync_transaction_version": "1"}, "version": 1})";
  TFavoriteFolder root = ReadChromiumBookmarks(json);
  ASSERT_EQ(Names(root), std::vector<std::string>{"Bookmarks bar/"});
  const TFavoriteFolder& bar = root.Folders[0];
  EXPECT_EQ(Names(bar), (std::vector<std::string>{"Stores/", "Demo"}));
  EXPECT_EQ(bar.Folders[0].Links[0].Url, "http://127.0.0.1/b");
  EXPECT_TRUE(ReadChromiumBookmarks("{\"roots\": 1").Empty());
  EXPECT_TRUE(ReadChromiumBookmarks("[]").Empty());
}

TEST(BrowserFavorites, ReadsAnExportedBookmarksPage) {
  const char* html = R"(<!DOCTYPE NETSCAPE-Bookmark-file-1>
<TITLE>Bookmarks</TITLE><H1>Bookmarks Menu</H1>
<DL><p>
  <DT><H3 ADD_DATE="1">Stores &amp; more</H3>
  <DL><p>
    <DT><A HREF="http://127.0.0.1/x?a=1&amp;b=2" ADD_DATE="2">X &lt;shop&gt;</A>
    <DT><H3>Empty</H3>
    <DL><p>
    </DL><p>
  </DL><p>
  <DT><A HREF="http://127.0.0.1/top">Top</A>
  <DT><A>no address</A>
</DL>)";
  TFavoriteFolder root = ReadNetscapeBookmarks(html);
  SortFavorites(root);
  ASSERT_EQ(Names(root), (std::vector<std::string>{"Stores & more/", "Top"}));
  const TFavoriteFolder& stores = root.Folders[0];
  EXPECT_EQ(Names(stores), (std::vector<std::string>{"Empty/", "X <shop>"}));
  EXPECT_EQ(stores.Links[0].Url, "http://127.0.0.1/x?a=1&b=2");
  EXPECT_TRUE(stores.Folders[0].Empty());
  // Unbalanced lists neither crash nor lose what was read.
  EXPECT_EQ(ReadNetscapeBookmarks("</DL></DL><DT><A HREF=\"http://a/\">a</A>").Links.size(), 1u);
}

TEST(BrowserFavorites, FindsTheFirstBrowsersFile) {
  test::TempFolder home;
  EXPECT_EQ(FindBookmarksFile(home.Path(), ""), "");
  EXPECT_TRUE(LoadUserFavorites(home.Path(), "").Empty());
  test::WriteWholeFile(home / "bookmarks.html", "<DL><DT><A HREF=\"http://127.0.0.1/\">x</A></DL>");
  EXPECT_EQ(LoadUserFavorites(home.Path(), "").Links.size(), 1u);
  std::filesystem::create_directories(home / ".config/google-chrome/Default");
  test::WriteWholeFile(home / ".config/google-chrome/Default/Bookmarks",
                       R"({"roots": {"other": {"type": "folder", "name": "O", "children": [
                          {"type": "url", "name": "b", "url": "http://127.0.0.1/b"},
                          {"type": "url", "name": "a", "url": "http://127.0.0.1/a"}]}}})");
  EXPECT_EQ(FindBookmarksFile(home.Path(), ""), home / ".config/google-chrome/Default/Bookmarks");
  TFavoriteFolder loaded = LoadUserFavorites(home.Path(), "");
  ASSERT_EQ(loaded.Folders.size(), 1u);
  EXPECT_EQ(Names(loaded.Folders[0]), (std::vector<std::string>{"a", "b"}));
}

TEST(BrowserFavorites, OnlyWebAddressesOpen) {
  EXPECT_TRUE(IsOpenableFavorite("http://127.0.0.1/"));
  EXPECT_TRUE(IsOpenableFavorite("HTTPS://127.0.0.1/"));
  EXPECT_FALSE(IsOpenableFavorite("javascript:alert(1)"));
  EXPECT_FALSE(IsOpenableFavorite("file:///etc/passwd"));
  EXPECT_FALSE(IsOpenableFavorite("data:text/html,x"));
}

}  // namespace
}  // namespace vandrel

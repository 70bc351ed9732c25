// The home page's traffic: what the page's functions receive (and that no text can break out of it), which
// calls from the page go on, the menus and the keys.
#include "presentation/HomePageBridge.h"

#include <gtest/gtest.h>

#include <charconv>

#include "platform/TextUtils.h"
#include "presentation/FakeBrowserView.h"

namespace vandrel {
namespace {

class TFakeHomeSource : public IHomePageSource {
 public:
  std::vector<THomeCategory> Categories() override { return Cats; }
  size_t EntryCount(THomeList list) override { return Of(list).size(); }
  THomeEntry Entry(THomeList list, size_t index) override { return Of(list).at(index); }
  bool CanDelete(THomeList list) override { return list != Running; }
  bool DeleteEntry(THomeList list, size_t index) override {
    Deleted.push_back(index);
    Of(list).erase(Of(list).begin() + static_cast<std::ptrdiff_t>(index));
    return true;
  }
  std::vector<THomeEntry>& Of(THomeList list) { return list == THomeList::hlReviews ? Reviews : Compare; }

  std::vector<THomeCategory> Cats;
  std::vector<THomeEntry> Reviews, Compare;
  std::optional<THomeList> Running;
  std::vector<size_t> Deleted;
};

// Reads the script string literals of one statement back the way a script engine would, failing on
// anything outside them but the call's own punctuation and numbers.
std::vector<std::string> LiteralsOf(const std::string& statement, std::string& rest) {
  std::vector<std::string> literals;
  for (size_t i = 0; i < statement.size(); ++i) {
    if (statement[i] != '"') {
      rest += statement[i];
      continue;
    }
    std::string value;
    for (++i; i < statement.size() && statement[i] != '"'; ++i) {
      if (statement[i] != '\\') {
        EXPECT_NE(statement[i], '<') << statement;  // nothing that could close a script element
        EXPECT_NE(statement[i], '\n') << statement;
        value += statement[i];
        continue;
      }
      ++i;
      if (statement[i] == 'x' || statement[i] == 'u') {
        const size_t digits = statement[i] == 'x' ? 2 : 4;
        unsigned code = 0;
        std::from_chars(statement.data() + i + 1, statement.data() + i + 1 + digits, code, 16);
        AppendUtf8(value, code);
        i += digits;
      } else {
        value += statement[i];
      }
    }
    EXPECT_LT(i, statement.size()) << "unterminated literal: " << statement;
    literals.push_back(value);
  }
  return literals;
}

class HomePageBridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_.Cats = {{"Books", "Books and e-books"}, {"music", "Music"}};
    for (int i = 1; i <= 25; ++i) source_.Compare.push_back({"search " + std::to_string(i), "Books"});
    source_.Reviews = {{"old one", ""}};
    bridge_.OnLink = [this](THomeLink type, const std::string& text) {
      links_.push_back({static_cast<int>(type), text});
    };
    view_.Show("file:///root/Web/Welcome.htm");
  }

  TFakeHomeSource source_;
  test::TFakeBrowserView view_;
  THomePageBridge bridge_{source_, view_,
                          [](std::string_view text) { return static_cast<int>(text.size()); }};
  std::vector<std::pair<int, std::string>> links_;
};

TEST_F(HomePageBridgeTest, FillsCategoriesThenReviewsThenTheFirstTenPrices) {
  bridge_.FillPage();
  std::vector<std::string> expected = {"ClearCategories()",
                                       R"(AddCategory("books", "Books and e-books"))",
                                       R"(AddCategory("music", "Music"))",
                                       "RefreshCategories()",
                                       "ClearReviews()",
                                       R"(AddReviews(1, "old&nbsp;one", ""))",
                                       "RefreshReviews()",
                                       "ClearCompare()"};
  for (int i = 1; i <= 10; ++i)
    expected.push_back("AddCompare(" + std::to_string(i) + R"(, "search&nbsp;)" + std::to_string(i) +
                       R"(", "Books"))");
  expected.push_back("RefreshCompare()");
  EXPECT_EQ(view_.Scripts, expected);
}

TEST_F(HomePageBridgeTest, NothingRunsWithoutADocument) {
  view_.Show("about:blank");
  bridge_.FillPage();
  view_.Url = "";
  view_.Document = false;
  bridge_.SendList(THomeList::hlCompare);
  EXPECT_TRUE(view_.Scripts.empty());
}

TEST(HomePageText, EntitiesFollowTheCharacterNotItsCase) {
  EXPECT_EQ(EncodeForPage("a b&c<d>\"e"), "a&nbsp;b&amp;c&lt;d&gt;&quot;e");
  EXPECT_EQ(EncodeForPage("\xC3\x84pfel \xC3\xA4"), "&Auml;pfel&nbsp;&auml;");  // UTF-8
  EXPECT_EQ(EncodeForPage("\xC4pfel"), "&Auml;pfel");                           // a Western byte, not UTF-8
  EXPECT_EQ(EncodeForPage("Shop\xE2\x84\xA2 \xC2\xA1\xC3\xBF"), "Shop&trade;&nbsp;&iexcl;&yuml;");
  EXPECT_EQ(EncodeForPage("caf\xC3\xA9 \xE2\x82\xAC"), "caf&eacute;&nbsp;\xE2\x82\xAC");  // the euro stays
  EXPECT_EQ(EncodeForPage("it's"), "it's");
}

TEST(HomePageText, FittingCutsBetweenCharactersAndKeepsWhatFits) {
  auto width = [](std::string_view text) {  // 10 pixels a character, whatever its bytes
    int chars = 0;
    for (unsigned char c : text) chars += (c & 0xC0) != 0x80;
    return chars * 10;
  };
  EXPECT_EQ(FitText(std::string(21, 'x'), 215, width), std::string(21, 'x'));
  EXPECT_EQ(FitText(std::string(22, 'x'), 215, width), std::string(18, 'x') + "...");
  std::string umlauts;
  for (int i = 0; i < 30; ++i) umlauts += "\xC3\xA4";
  std::string cut = FitText(umlauts, 215, width);
  EXPECT_EQ(cut.size(), 18u * 2 + 3);
  EXPECT_TRUE(IsValidUtf8(cut));
}

TEST_F(HomePageBridgeTest, NoSearchTextBreaksOutOfItsStatement) {
  const std::vector<std::string> hostile = {
      R"(harry"); window.external.NewSearch("x)",
      R"(back\slash\" and \\"quotes')",
      "</script><script>alert(1)</script>",
      "line\nbreak\r\x01\x7f and \xE2\x80\xA8 separator",
      "<!-- comment -->",
  };
  source_.Compare.clear();
  source_.Cats = {{"evil\");x(\"", "</script>\\"}};
  for (const std::string& text : hostile) source_.Compare.push_back({text, "cat\"egory</script>"});
  bridge_.FillPage();
  size_t checked = 0;
  for (const std::string& statement : view_.Scripts) {
    std::string rest;
    std::vector<std::string> literals = LiteralsOf(statement, rest);
    if (statement.starts_with("AddCompare(")) {
      ASSERT_EQ(literals.size(), 2u) << statement;
      const size_t n = std::stoul(rest.substr(rest.find('(') + 1));
      EXPECT_EQ(literals[0], bridge_.PageText(hostile.at(n - 1)));
      EXPECT_EQ(literals[1], "cat\"egory</script>");
      EXPECT_EQ(rest, "AddCompare(" + std::to_string(n) + ", , )");
      ++checked;
    } else if (statement.starts_with("AddCategory(")) {
      EXPECT_EQ(literals, (std::vector<std::string>{"evil\");x(\"", "</script>\\"}));
      EXPECT_EQ(rest, "AddCategory(, )");
    } else if (!statement.starts_with("AddReviews(")) {
      EXPECT_TRUE(literals.empty()) << statement;
    }
  }
  EXPECT_EQ(checked, hostile.size());
}

TEST_F(HomePageBridgeTest, CallsFromThePage) {
  EXPECT_TRUE(bridge_.Call("newsearch", "books"));
  EXPECT_TRUE(bridge_.Call("NEWREVIEWS", "music"));
  EXPECT_TRUE(bridge_.Call("NewCompare", "harry potter"));
  EXPECT_TRUE(bridge_.Call("LoadCompare", "3"));
  EXPECT_TRUE(bridge_.Call("LoadReviews", "1"));
  EXPECT_FALSE(bridge_.Call("DeleteEverything", "1"));
  EXPECT_EQ(links_, (std::vector<std::pair<int, std::string>>{
                        {0, "books"}, {1, "music"}, {2, "harry potter"}, {4, "3"}, {3, "1"}}));

  // Entry numbers the lists do not hold, or that are no numbers, go nowhere.
  links_.clear();
  for (const char* number : {"0", "26", "-1", "2x", "", "1e1", "99999999999999999999999"})
    EXPECT_TRUE(bridge_.Call("LoadCompare", number));
  EXPECT_TRUE(bridge_.Call("LoadReviews", "2"));  // one review search only
  EXPECT_TRUE(links_.empty());
  EXPECT_TRUE(bridge_.Call("LoadCompare", "25"));  // past the page's ten, still a stored search
  EXPECT_EQ(links_.size(), 1u);

  view_.Scripts.clear();
  EXPECT_TRUE(bridge_.Call("pageloaddone", ""));
  EXPECT_EQ(view_.Scripts.front(), "ClearCategories()");
  EXPECT_EQ(view_.Scripts.back(), "RefreshCompare()");
}

TEST_F(HomePageBridgeTest, ShowHomeLoadsOnceAndReloadsAfterALink) {
  bridge_.ShowHome("file:///root/Web/Welcome.htm");
  EXPECT_EQ(view_.Navigated.size(), 1u);
  EXPECT_TRUE(bridge_.Loaded());
  bridge_.ShowHome("file:///root/Web/Welcome.htm");
  EXPECT_EQ(view_.Navigated.size(), 1u);
  EXPECT_FALSE(view_.Scripts.empty());  // filled instead
  bridge_.Call("NewSearch", "books");
  EXPECT_FALSE(bridge_.Loaded());
  bridge_.ShowHome("file:///root/Web/Welcome.htm");
  EXPECT_EQ(view_.Navigated.size(), 2u);
}

TEST_F(HomePageBridgeTest, MenusAndDeletion) {
  EXPECT_EQ(bridge_.MenuFor("AppLinkC3").Kind, THomeMenuKind::hmEntry);
  EXPECT_TRUE(bridge_.MenuFor("applinkr1").DeleteEnabled);
  EXPECT_FALSE(bridge_.MenuFor("AppLinkX1").DeleteEnabled);  // names no list
  EXPECT_EQ(bridge_.MenuFor("CATbooks").Kind, THomeMenuKind::hmCategory);
  EXPECT_EQ(bridge_.MenuFor("compare").Kind, THomeMenuKind::hmNone);
  EXPECT_EQ(bridge_.MenuFor("").Kind, THomeMenuKind::hmNone);

  source_.Running = THomeList::hlCompare;  // a search of the prices history runs
  EXPECT_FALSE(bridge_.MenuFor("AppLinkC3").DeleteEnabled);
  EXPECT_TRUE(bridge_.MenuFor("AppLinkR1").DeleteEnabled);
  bridge_.DeleteEntry("AppLinkC3");
  EXPECT_TRUE(source_.Deleted.empty());
  source_.Running.reset();

  for (const char* id : {"AppLinkC", "AppLinkC0", "AppLinkC26", "AppLinkCx", "AppLinkC-1"})
    bridge_.DeleteEntry(id);
  EXPECT_TRUE(source_.Deleted.empty());
  view_.Scripts.clear();
  bridge_.DeleteEntry("AppLinkC3");
  EXPECT_EQ(source_.Deleted, std::vector<size_t>{2});
  ASSERT_FALSE(view_.Scripts.empty());
  EXPECT_EQ(view_.Scripts.front(), "ClearCompare()");  // that list is sent again
  EXPECT_EQ(view_.Scripts.at(3), R"(AddCompare(3, "search&nbsp;4", "Books"))");

  bridge_.CategoryCommand("CATbooks", THomeLink::hlNewCompare);
  bridge_.CategoryCommand("CATmusic", THomeLink::hlCategoryProperties);
  EXPECT_EQ(links_, (std::vector<std::pair<int, std::string>>{{2, "books"}, {6, "music"}}));
}

TEST(HomePageKeys, TheProgramsKeysNeverReachThePage) {
  using K = THomeKey;
  using A = THomeKeyAction;
  EXPECT_EQ(THomePageBridge::KeyAction(K::hkN, true, false), A::hkNewSearch);
  EXPECT_EQ(THomePageBridge::KeyAction(K::hkN, true, true), A::hkPass);
  EXPECT_EQ(THomePageBridge::KeyAction(K::hkN, false, false), A::hkPass);
  EXPECT_EQ(THomePageBridge::KeyAction(K::hkF, true, false), A::hkSwallow);
  EXPECT_EQ(THomePageBridge::KeyAction(K::hkP, true, false), A::hkSwallow);
  EXPECT_EQ(THomePageBridge::KeyAction(K::hkInsert, false, false), A::hkSwallow);
  EXPECT_EQ(THomePageBridge::KeyAction(K::hkBackspace, false, false), A::hkSwallow);
  EXPECT_EQ(THomePageBridge::KeyAction(K::hkTab, true, false), A::hkNextPage);
  EXPECT_EQ(THomePageBridge::KeyAction(K::hkTab, true, true), A::hkPreviousPage);
  EXPECT_EQ(THomePageBridge::KeyAction(K::hkTab, false, false), A::hkPass);
}

}  // namespace
}  // namespace vandrel

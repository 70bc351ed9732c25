// The search forms: which form a category gets, the ISBN rule, the quote and Boolean-operator checks, the
// paste links, the review operators, and what a form writes into a stored search.
#include "presentation/SearchFrames.h"

#include <gtest/gtest.h>

#include "presentation/FakeDesktopPorts.h"
#include "presentation/SearchFrameTestSupport.h"
#include "storage/CategoryStorage.h"
#include "storage/SearchStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {
namespace {

TEST(SearchFrameRegistryTest, TheCategorysFormWinsOverItsSearchTypesAndLaterNamesReplace) {
  TSearchFrameRegistry registry = TSearchFrameRegistry::Default();
  TCategoryStorageItem category;
  TSearchTypeStorageItem type;
  type.SearchFrame = "keywords";
  category.SearchFrame = "BUYMUSIC";
  ASSERT_NE(registry.ForCategory(category, &type), nullptr);
  EXPECT_EQ(*registry.ForCategory(category, &type), TSearchFrameKind::sfkMusic);
  category.SearchFrame = "NoSuchForm";
  EXPECT_EQ(*registry.ForCategory(category, &type), TSearchFrameKind::sfkKeywords);
  EXPECT_EQ(registry.ForCategory(category, nullptr), nullptr);
  registry.Register("nosuchform", TSearchFrameKind::sfkBooks);
  EXPECT_EQ(*registry.ForCategory(category, &type), TSearchFrameKind::sfkBooks);
}

TEST(SearchFrameIsbnTest, CheckDigitHyphensAndTheTenthCharacter) {
  EXPECT_TRUE(IsValidIsbn("0-306-40615-2"));
  EXPECT_TRUE(IsValidIsbn("0306406152"));
  EXPECT_FALSE(IsValidIsbn("0-306-40615-3"));
  EXPECT_TRUE(IsValidIsbn("0-8044-2957-X"));  // check digit ten
  EXPECT_FALSE(IsValidIsbn("0-8044-2957-x"));
  EXPECT_FALSE(IsValidIsbn("030640615"));
  EXPECT_FALSE(IsValidIsbn("03064061522"));
  EXPECT_FALSE(IsValidIsbn("X306406152"));
  EXPECT_FALSE(IsValidIsbn("0 306406152"));
}

class SearchFrameTest : public ::testing::Test {
 protected:
  TSearchFrameModel Frame(TSearchFrameKind kind) {
    return TSearchFrameModel(kind, {&Prompts, &Settings, nullptr});
  }
  std::vector<std::string> Told() const {
    std::vector<std::string> texts;
    for (const TPrompt& p : Prompts.Asked) texts.push_back(p.Text);
    return texts;
  }

  test::TScriptedPrompts Prompts;
  test::TMemorySearchSettings Settings;
};

TEST_F(SearchFrameTest, BooksValidationTellsWhyAndStoresTheIsbnBare) {
  TSearchFrameModel books = Frame(TSearchFrameKind::sfkBooks);
  EXPECT_EQ(books.Note(), "Note: Only one field is mandatory.");
  books.Fields[0].Value = "   ";
  EXPECT_FALSE(books.Validate());
  books.Fields[2].Value = "0-306-40615-3";
  EXPECT_FALSE(books.Validate());
  books.Fields[2].Value = " 0-306-40615-2 ";
  EXPECT_TRUE(books.Validate());
  EXPECT_EQ(Told(), (std::vector<std::string>{kMsgFillOneField, kMsgInvalidIsbn}));

  books.Silent = true;
  books.Fields[2].Value = "0-306-40615-3";
  EXPECT_FALSE(books.Validate());
  EXPECT_EQ(Prompts.Asked.size(), 2u) << "a silent form says nothing";

  books.Fields[0].Value = "  Dune ";
  books.Fields[2].Value = "0-306-40615-2";
  TSearchStorageItem search;
  books.SaveToSearch(search);
  ASSERT_NE(search.FindField("TITLE"), nullptr);
  EXPECT_EQ(search.FindField("TITLE")->Value().AsString(), "Dune");
  EXPECT_EQ(search.FindField("ISBN")->Value().AsString(), "0306406152");
  EXPECT_EQ(search.FindField("AUTHOR"), nullptr) << "an empty value is not stored";
}

TEST_F(SearchFrameTest, QuotesPassOnlyAsAWholePhraseOfTheExactPhraseChoice) {
  TSearchFrameModel keywords = Frame(TSearchFrameKind::sfkKeywords);
  keywords.Fields[0].Value = "red \"running\" shoes";
  EXPECT_FALSE(keywords.Validate());
  keywords.Fields[0].Value = "\"red running shoes\"";
  EXPECT_FALSE(keywords.Validate()) << "the keywords form has no exact phrase";

  TSearchFrameModel review = Frame(TSearchFrameKind::sfkReview);
  review.Fields[0].Value = "\"red running shoes\"";
  review.SetOperator(koAllKeywords);
  EXPECT_FALSE(review.Validate());
  review.SetOperator(koExactPhrase);
  EXPECT_TRUE(review.Validate());
  review.Fields[0].Value = "\"red\" \"shoes\"";
  EXPECT_FALSE(review.Validate());
  EXPECT_EQ(Told(), std::vector<std::string>(4, kMsgNoQuotes));

  review.Fields[0].Value = " \"red running shoes\" ";
  TSearchStorageItem search;
  review.SaveToSearch(search);
  EXPECT_EQ(search.FindField("KEYWORDS")->Value().AsString(), "red running shoes");
  EXPECT_EQ(search.FindField("KEYWORDOP")->Value().AsInteger(), koExactPhrase);
  // Read back, the phrase shows with its quotes again.
  TSearchFrameModel again = Frame(TSearchFrameKind::sfkReview);
  again.LoadFromSearch(search);
  EXPECT_EQ(again.Operator(), koExactPhrase);
  EXPECT_EQ(again.Fields[0].Value, "\"red running shoes\"");
}

TEST_F(SearchFrameTest, BooleanWordsAskUntilTheUserSaysNotToAskAgain) {
  TSearchFrameModel keywords = Frame(TSearchFrameKind::sfkKeywords);
  keywords.Fields[0].Value = "sony and panasonic";
  Prompts.Queue(TPromptAnswer::paNo);
  EXPECT_FALSE(keywords.Validate());
  ASSERT_EQ(Prompts.Asked.size(), 1u);
  EXPECT_EQ(Prompts.Asked[0].Text, kMsgBooleanOperators);
  EXPECT_TRUE(Prompts.Asked[0].OfferDontAskAgain);
  EXPECT_TRUE(Settings.AndOr);

  Prompts.Queue(TPromptAnswer::paYes, /*dontAskAgain=*/true);
  EXPECT_TRUE(keywords.Validate());
  EXPECT_FALSE(Settings.AndOr);
  EXPECT_TRUE(keywords.Validate());
  EXPECT_EQ(Prompts.Asked.size(), 2u) << "not asked once switched off";

  // Only whole words count, in any letter case; "&" is one of them.
  Settings.AndOr = true;
  keywords.Fields[0].Value = "brandon organ";
  EXPECT_TRUE(keywords.Validate());
  keywords.Fields[0].Value = "salt & pepper";
  Prompts.Queue(TPromptAnswer::paNo);
  EXPECT_FALSE(keywords.Validate());
  keywords.Fields[0].Value = "this OR that";
  Prompts.Queue(TPromptAnswer::paNo);
  EXPECT_FALSE(keywords.Validate());
  EXPECT_EQ(Prompts.Asked.size(), 4u);
}

TEST_F(SearchFrameTest, InitialTextGoesToItsFieldOrToThePastePanel) {
  TSearchFrameModel books = Frame(TSearchFrameKind::sfkBooks);
  books.SetInputText("0-306-40615-2");
  EXPECT_EQ(books.Fields[2].Value, "0-306-40615-2");
  EXPECT_TRUE(books.PasteText().empty());
  books.SetInputText(" harry potter ");
  EXPECT_FALSE(books.HasInput());
  EXPECT_EQ(books.PasteText(), "harry potter");
  ASSERT_EQ(books.PasteLinks().size(), 2u);
  EXPECT_EQ(books.PasteLinks()[1].Caption, "Author");
  EXPECT_EQ(books.Paste(1), 1u);
  EXPECT_EQ(books.Fields[1].Value, "harry potter");

  TSearchFrameModel music = Frame(TSearchFrameKind::sfkMusic);
  music.SetInputText("abbey road");
  ASSERT_EQ(music.PasteLinks().size(), 3u);
  EXPECT_EQ(music.Fields[music.Paste(0)].Name, "ALBUM");

  TSearchFrameModel keywords = Frame(TSearchFrameKind::sfkKeywords);
  keywords.SetInputText("volta");
  EXPECT_EQ(keywords.Fields[0].Value, "volta");
  EXPECT_TRUE(keywords.PasteLinks().empty());
}

TEST_F(SearchFrameTest, ModesFollowTheStoredDefaultsAndSuperThoroughFallsBack) {
  TSearchFrameModel movies = Frame(TSearchFrameKind::sfkMovies);
  ASSERT_NE(movies.Choice, nullptr);
  EXPECT_EQ(movies.Choice->Entries.size(), 4u);
  Settings.Compare = 30;
  movies.SetCategory(nullptr, false);
  EXPECT_EQ(movies.Mode(), TSearchMode::smThorough);
  movies.SetMode(TSearchMode::smSuperThorough);
  EXPECT_EQ(movies.Mode(), TSearchMode::smThorough);
  ASSERT_EQ(Prompts.Asked.size(), 1u);
  EXPECT_EQ(Prompts.Asked[0].Caption, kNotAvailableCaption);

  movies.SetMode(TSearchMode::smQuick);
  movies.Fields[0].Value = "alien";
  movies.Choice->Index = 2;
  TSearchStorageItem search;
  movies.SaveToSearch(search);
  EXPECT_EQ(search.ResultsPerEngine, 10);
  EXPECT_EQ(Settings.Compare, 10);
  EXPECT_EQ(Settings.Reviews, 10) << "untouched";
  EXPECT_EQ(search.FindField("FORMAT")->Value().AsInteger(), 2);

  search.ResultsPerEngine = 11;
  movies.LoadFromSearch(search);
  EXPECT_EQ(movies.Mode(), TSearchMode::smThorough);
  EXPECT_EQ(movies.Choice->Index, 2);
}

TEST_F(SearchFrameTest, ReviewOperatorsAreThoseTheEnginesTake) {
  std::vector<int64_t> asked;
  TSearchFrameContext context{&Prompts, &Settings, nullptr};
  context.EnginesAccept = [&](const TCategoryStorageItem&,
                              const std::function<void(TSearchStorageItem&)>& fill) {
    TSearchStorageItem probe;
    fill(probe);
    const int64_t op = probe.FindField("KEYWORDOP")->Value().AsInteger();
    asked.push_back(op);
    return op != koAllKeywords;
  };
  TSearchFrameModel review(TSearchFrameKind::sfkReview, context);
  TCategoryStorageItem category;
  review.SetCategory(&category, true);
  EXPECT_EQ(asked, (std::vector<int64_t>{1, 2, 3}));
  EXPECT_FALSE(review.OperatorEnabled(koAllKeywords));
  EXPECT_TRUE(review.OperatorEnabled(koAnyKeyword));
  EXPECT_EQ(review.Operator(), koAnyKeyword) << "the first enabled choice";
}

}  // namespace
}  // namespace vandrel

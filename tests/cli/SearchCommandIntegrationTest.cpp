// The "search" command end to end: the bundled definitions against the demo store site.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/CliTestSupport.h"
#include "data/DemoSite.h"

namespace vandrel {
namespace {

using clitest::RunCli;
using clitest::TCliRun;
using clitest::TJsonReader;
using clitest::TJsonRecord;

// "$1,234.56" as a number; -1 for a price that is not there.
double DollarAmount(const std::string& text) {
  if (text == "(n/a)") return -1;
  std::string digits;
  for (char c : text)
    if ((c >= '0' && c <= '9') || c == '.') digits += c;
  return digits.empty() ? -2 : std::stod(digits);
}

class SearchCommandIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Site = new test::TDemoSite(); }
  static void TearDownTestSuite() {
    delete Site;
    Site = nullptr;
  }
  void SetUp() override { ASSERT_NE(Site->Port, 0) << "the demo store site did not start"; }

  static TCliRun Search(std::vector<std::string> args) {
    args.insert(args.begin(),
                {"search", "--data", test::CompiledDataDir(), "--define",
                 "DemoStoreAddress=" + Site->Address(), "--root", test::ProcessTempDir() + "/search-root"});
    return RunCli(args);
  }

  static inline test::TDemoSite* Site = nullptr;
};

TEST_F(SearchCommandIntegration, MergesOffersOfAllStoresAndSortsThemByConvertedPrice) {
  const TCliRun run =
      Search({"--category", "buyelectronics", "--set", "Keywords=volta", "--currency", "USD", "--json"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  std::vector<TJsonRecord> records;
  ASSERT_TRUE(TJsonReader(run.Out).ReadArray(records)) << run.Out;
  ASSERT_GE(records.size(), 10u);

  // The failing store's refusal is reported, and the others' results still come back.
  EXPECT_NE(run.Err.find("brokenbazaar: error 500: StatusCode: 500"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("voltmart: page 2 of 2"), std::string::npos) << run.Err;

  std::set<long> ranks;
  size_t merged = 0;
  double last = 0;
  bool missingSeen = false;
  for (const TJsonRecord& r : records) {
    for (const char* field : {"title", "brand", "price", "shipping", "store", "url", "score"})
      EXPECT_EQ(r.Text.count(field), 1u) << field;
    EXPECT_TRUE(ranks.insert(r.Number.at("Rank")).second) << "duplicate rank";
    const auto& foundBy = r.List.at("FoundBy");
    EXPECT_EQ(static_cast<long>(foundBy.size()), r.Number.at("Occurrences"));
    EXPECT_EQ(std::count(foundBy.begin(), foundBy.end(), "brokenbazaar"), 0);
    if (r.Number.at("Occurrences") > 1) ++merged;
    // Dollars throughout, cheapest first, offers without any price at the end.
    const double price = DollarAmount(r.Text.at("price"));
    ASSERT_NE(price, -2) << r.Text.at("price");
    if (price == -1) {
      missingSeen = true;
    } else {
      EXPECT_FALSE(missingSeen) << "a priced offer after one without price";
      EXPECT_GE(price, last) << r.Text.at("title");
      last = price;
    }
  }
  // Stores write one product's address with "www.", a trailing "/" or a default page: still one result.
  EXPECT_GE(merged, records.size() / 2);
  const auto headphones = std::find_if(records.begin(), records.end(), [](const TJsonRecord& r) {
    return r.Text.at("title") == "Volta X2 Wireless Headphones";
  });
  ASSERT_NE(headphones, records.end());
  const auto& by = headphones->List.at("FoundBy");
  EXPECT_EQ(std::set<std::string>(by.begin(), by.end()),
            (std::set<std::string>{"circuitnorth", "megamart", "voltmart"}));
}

TEST_F(SearchCommandIntegration, ChosenEnginesOnlyAndATableForReviews) {
  const TCliRun books =
      Search({"--category", "BuyBooks", "--set", "Title=glass", "--engines", "pageturner,bookbarn",
              "--results-per-engine", "5", "--max-threads", "1", "--json"});
  ASSERT_EQ(books.Status, 0) << books.Err;
  std::vector<TJsonRecord> records;
  ASSERT_TRUE(TJsonReader(books.Out).ReadArray(records));
  ASSERT_FALSE(records.empty());
  for (const auto& r : records)
    for (const auto& e : r.List.at("FoundBy")) EXPECT_TRUE(e == "pageturner" || e == "bookbarn") << e;
  EXPECT_EQ(books.Err.find("leafandspine"), std::string::npos);
  EXPECT_EQ(books.Err.find("page 2"), std::string::npos) << "five results per engine fit on one page";

  const TCliRun reviews = Search({"--category", "reviewtoys", "--set", "Keywords=brickworks"});
  ASSERT_EQ(reviews.Status, 0) << reviews.Err;
  EXPECT_EQ(reviews.Out.rfind("Rank  Product", 0), 0u) << reviews.Out;
  EXPECT_NE(reviews.Out.find("The Honest Owl"), std::string::npos);
  EXPECT_NE(reviews.Out.find("result(s)"), std::string::npos);
}

// The Book Barn runs out of new copies after six and goes on in its used-books section (a second
// sub-engine), whose offers have addresses of their own.
TEST_F(SearchCommandIntegration, AStoreWithTwoSectionsPagesIntoItsSecond) {
  const TCliRun run = Search({"--category", "buybooks", "--set", "Title=glass", "--engines", "bookbarn",
                              "--results-per-engine", "10", "--json"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Err.find("bookbarn: page 2 of 3, 6 record(s)"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("bookbarn: page 3 of 3, 11 record(s)"), std::string::npos) << run.Err;
  std::vector<TJsonRecord> records;
  ASSERT_TRUE(TJsonReader(run.Out).ReadArray(records));
  ASSERT_EQ(records.size(), 11u);
  size_t used = 0;
  for (const auto& r : records) {
    if (r.Text.at("url").find("?condition=used") == std::string::npos) continue;
    ++used;
    EXPECT_EQ(r.Text.at("shipping"), "Used, very good");
    EXPECT_EQ(r.Number.at("Occurrences"), 1);
  }
  EXPECT_EQ(used, 5u);
}

TEST_F(SearchCommandIntegration, BadArgumentsAndDefinitionsExitWithTwo) {
  const std::vector<std::vector<std::string>> bad = {
      {"--set", "Keywords=x"},                                                         // no category
      {"--category", "buyelectronics"},                                                // no input
      {"--category", "buynothing", "--set", "Keywords=x"},                             // unknown category
      {"--category", "buyelectronics", "--set", "Colour=red"},                         // unknown input field
      {"--category", "buyelectronics", "--set", "Keywords=x", "--engines", "nosuch"},  // unknown engine
      {"--category", "buyelectronics", "--set", "Keywords=x", "--max-threads", "0"},
      {"--category", "buyelectronics", "--set", "Keywords=x", "--results-per-engine", "ten"},
      {"--category", "buyelectronics", "--set", "Keywords=x", "--currency", "XYZ"},
      {"--category", "buyelectronics", "--set", "Keywords"},
      {"--category", "buyelectronics", "--set", "Keywords=x", "--frobnicate"},
  };
  for (const auto& args : bad) {
    const TCliRun run = Search(args);
    EXPECT_EQ(run.Status, 2) << args.back() << "\n" << run.Err;
    EXPECT_TRUE(run.Out.empty()) << run.Out;
  }
  EXPECT_EQ(RunCli({"search", "--data", "/nonexistent", "--category", "buybooks", "--set", "Title=x"}).Status,
            2);
}

}  // namespace
}  // namespace vandrel

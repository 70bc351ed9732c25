// "history show" through the result view, run as separate processes against the demo store site: a
// stored search grouped by price, store and score, filtered, sorted and searched, with the grouping and the
// filters still there on the next run; and "history check".
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/DemoHistoryFixture.h"
#include "platform/TextUtils.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;

using clitest::Records;
using clitest::RunCli;
using clitest::TCliRun;
using clitest::TJsonRecord;

constexpr const char* kFinished = "Vandrel Shopper has finished searching through results.";

// The group captions in the order they appear; fails when a group's results are not next to each other.
std::vector<std::string> GroupOrder(const std::vector<TJsonRecord>& records) {
  std::vector<std::string> order;
  for (const auto& r : records) {
    auto it = r.Text.find("Group");
    if (it == r.Text.end()) {
      ADD_FAILURE() << "a result without its group";
      continue;
    }
    if (order.empty() || order.back() != it->second) {
      EXPECT_EQ(std::count(order.begin(), order.end(), it->second), 0) << it->second << " is split";
      order.push_back(it->second);
    }
  }
  return order;
}

class HistoryViewIntegration : public clitest::TDemoHistoryTest {
 protected:
  void SetUp() override {
    TDemoHistoryTest::SetUp();
    if (HasFatalFailure()) return;
    const TCliRun search = Search({"--category", "buybooks", "--set", "Title=glass", "--engines",
                                   "pageturner,bookbarn,leafandspine", "--results-per-engine", "10"});
    ASSERT_EQ(search.Status, 0) << search.Err;
    Found = Records(search).size();
    ASSERT_GE(Found, 4u);
  }
  TCliRun Show(std::vector<std::string> args) const {
    args.insert(args.begin(), {"show", "1", "--json"});
    return History(args);
  }

  size_t Found = 0;
};

TEST_F(HistoryViewIntegration, GroupingsAreStoredWithTheSearchUntilSwitchedOff) {
  const TCliRun byPrice = Show({"--group-by", "price"});
  ASSERT_EQ(byPrice.Status, 0) << byPrice.Err;
  std::vector<TJsonRecord> records = Records(byPrice);
  EXPECT_EQ(records.size(), Found);
  std::vector<std::string> groups = GroupOrder(records);
  ASSERT_FALSE(groups.empty());
  for (const std::string& caption : groups)
    EXPECT_TRUE(caption.find(" to ") != std::string::npos || caption.rfind("n/a", 0) == 0) << caption;

  // The next run shows the same groups without being asked.
  const TCliRun again = Show({});
  ASSERT_EQ(again.Status, 0) << again.Err;
  EXPECT_EQ(GroupOrder(Records(again)), groups);
  const TCliRun table = History({"show", "1"});
  ASSERT_EQ(table.Status, 0) << table.Err;
  EXPECT_NE(table.Out.find("== " + ToDisplayText(groups.front()) + " =="), std::string::npos) << table.Out;

  // By store: the first engine that found each result, under its display name.
  records = Records(Show({"--group-by", "Engine"}));
  std::set<std::string> stores;
  for (const std::string& caption : GroupOrder(records)) stores.insert(caption.substr(0, caption.find(" (")));
  EXPECT_LE(stores.size(), 3u);
  for (const auto& r : records) {
    ASSERT_FALSE(r.List.at("FoundBy").empty());
    EXPECT_EQ(stores.count("n/a"), 0u) << "every engine of the category has a display name";
  }

  // By score, ten percent a group.
  records = Records(Show({"--group-by", "score"}));
  for (const std::string& caption : GroupOrder(records))
    EXPECT_NE(caption.find("% - "), std::string::npos) << caption;

  records = Records(Show({"--group-by", "none"}));
  for (const auto& r : records) EXPECT_EQ(r.Text.count("Group"), 0u);
  records = Records(Show({}));
  for (const auto& r : records) EXPECT_EQ(r.Text.count("Group"), 0u) << "no grouping is stored either";
}

TEST_F(HistoryViewIntegration, FiltersNarrowTheResultsAndStayUntilRemoved) {
  const TCliRun capped = Show({"--price-max", "12"});
  ASSERT_EQ(capped.Status, 0) << capped.Err;
  EXPECT_NE(capped.Err.find("Filter: Max "), std::string::npos) << capped.Err;
  const size_t under = Records(capped).size();
  EXPECT_LT(under, Found);

  const TCliRun later = Show({"--delivery", "fastest"});
  ASSERT_EQ(later.Status, 0) << later.Err;
  EXPECT_NE(later.Err.find("; Fastest delivery"), std::string::npos) << later.Err;
  EXPECT_EQ(Records(later).size(), under) << "the stored bound still applies; books carry no shipping bits";

  const TCliRun both = Show({"--price-min", "11"});
  EXPECT_NE(both.Err.find("Filter: $11.00 - "), std::string::npos) << both.Err;
  EXPECT_LE(Records(both).size(), under);

  const TCliRun cleared = Show({"--price-min", "0", "--price-max", "0", "--delivery", "all"});
  ASSERT_EQ(cleared.Status, 0) << cleared.Err;
  EXPECT_EQ(cleared.Err.find("Filter:"), std::string::npos) << cleared.Err;
  EXPECT_EQ(Records(cleared).size(), Found);
}

TEST_F(HistoryViewIntegration, SortAndFindFollowTheViewOrder) {
  std::vector<TJsonRecord> records = Records(Show({"--sort", "title:asc"}));
  ASSERT_EQ(records.size(), Found);
  std::vector<std::string> titles;
  for (const auto& r : records) titles.push_back(AsciiLowerCase(r.Text.at("title")));
  EXPECT_TRUE(std::is_sorted(titles.begin(), titles.end())) << "titles ascending";

  records = Records(Show({"--sort", "title:desc"}));
  titles.clear();
  for (const auto& r : records) titles.push_back(AsciiLowerCase(r.Text.at("title")));
  EXPECT_TRUE(std::is_sorted(titles.rbegin(), titles.rend())) << "titles descending";

  // Grouped, the walk goes group by group; every hit holds the text.
  const TCliRun found = Show({"--group-by", "price", "--sort", "title:asc", "--find", "GLASS"});
  ASSERT_EQ(found.Status, 0) << found.Err;
  EXPECT_NE(found.Err.find(kFinished), std::string::npos) << found.Err;
  records = Records(found);
  ASSERT_FALSE(records.empty());
  GroupOrder(records);
  for (const auto& r : records)
    EXPECT_NE(AsciiLowerCase(r.Text.at("title") + r.Text.at("author")).find("glass"), std::string::npos);
  const TCliRun exact = Show({"--find", "GLASS", "--match-case"});
  ASSERT_EQ(exact.Status, 0) << exact.Err;
  EXPECT_TRUE(Records(exact).size() < records.size() || records.empty());
  EXPECT_NE(exact.Err.find(kFinished), std::string::npos);
}

TEST_F(HistoryViewIntegration, CheckMarksAreStoredAndGroupTheResults) {
  const TCliRun check = History({"check", "1", "1,2"});
  ASSERT_EQ(check.Status, 0) << check.Err;
  EXPECT_NE(check.Out.find("result 1 checked"), std::string::npos) << check.Out;
  std::vector<TJsonRecord> records = Records(Show({"--group-by", "CHECK"}));
  std::vector<std::string> groups = GroupOrder(records);
  EXPECT_EQ(std::count(groups.begin(), groups.end(), "Checked items (2 items)"), 1)
      << testing::PrintToString(groups);
  ASSERT_EQ(History({"check", "1", "2", "--uncheck"}).Status, 0);
  groups = GroupOrder(Records(Show({})));
  EXPECT_EQ(std::count(groups.begin(), groups.end(), "Checked item (1 item)"), 1)
      << testing::PrintToString(groups);
}

// The sort is the search type's stored layout: a later run without --sort shows the order the last one set,
// whichever direction that was, and naming the sorted column alone keeps its direction.
TEST_F(HistoryViewIntegration, TheSortIsStoredUntilAnotherIsGiven) {
  auto titles = [](const TCliRun& run) {
    std::vector<std::string> out;
    for (const auto& r : Records(run)) out.push_back(AsciiLowerCase(r.Text.at("title")));
    return out;
  };
  auto ascending = [](const std::vector<std::string>& t) {
    return std::is_sorted(t.begin(), t.end()) && t.front() != t.back();
  };
  auto descending = [](const std::vector<std::string>& t) {
    return std::is_sorted(t.rbegin(), t.rend()) && t.front() != t.back();
  };

  ASSERT_EQ(Show({"--sort", "title:desc"}).Status, 0);
  std::vector<std::string> shown = titles(Show({}));
  ASSERT_EQ(shown.size(), Found);
  EXPECT_TRUE(descending(shown)) << testing::PrintToString(shown);
  EXPECT_TRUE(descending(titles(Show({"--sort", "title"})))) << "the named column keeps its direction";
  EXPECT_TRUE(descending(titles(Show({}))));

  ASSERT_EQ(Show({"--sort", "title:asc"}).Status, 0);
  shown = titles(Show({}));
  EXPECT_TRUE(ascending(shown)) << testing::PrintToString(shown);
}

// Every command opens the kernel, so a rerun loads the search with its stored view and saves it back whole.
TEST_F(HistoryViewIntegration, TheStoredGroupingFilterAndSortSurviveARerun) {
  const TCliRun set = Show({"--group-by", "price", "--sort", "title:desc", "--price-max", "12"});
  ASSERT_EQ(set.Status, 0) << set.Err;
  const TCliRun rerun = History({"rerun", "1"});
  ASSERT_EQ(rerun.Status, 0) << rerun.Err;

  const TCliRun shown = Show({});
  ASSERT_EQ(shown.Status, 0) << shown.Err;
  EXPECT_NE(shown.Err.find("Filter: Max "), std::string::npos) << shown.Err;
  const std::vector<TJsonRecord> records = Records(shown);
  ASSERT_FALSE(records.empty());
  EXPECT_LT(records.size(), Found);
  std::map<std::string, std::vector<std::string>> titlesByGroup;
  for (const auto& r : records) {
    ASSERT_EQ(r.Text.count("Group"), 1u) << "the grouping was lost";
    titlesByGroup[r.Text.at("Group")].push_back(AsciiLowerCase(r.Text.at("title")));
  }
  for (const auto& [caption, titles] : titlesByGroup) {
    EXPECT_TRUE(caption.find(" to ") != std::string::npos || caption.rfind("n/a", 0) == 0) << caption;
    EXPECT_TRUE(std::is_sorted(titles.rbegin(), titles.rend())) << caption << " is not sorted descending";
  }
}

TEST_F(HistoryViewIntegration, BadViewArgumentsExitWithTwo) {
  const std::vector<std::vector<std::string>> bad = {
      {"show", "1", "--delivery", "slow"},
      {"show", "1", "--group-by", "nothing"},
      {"show", "1", "--sort", "nofield"},
      {"show", "1", "--sort", "title:sideways"},
      {"show", "1", "--price-min", "abc"},
      {"show", "1", "--price-max", "-3"},
      {"show", "1", "--currency", "XXX"},
      {"show", "1", "--match-case"},
      {"list", "--group-by", "price"},
      {"check", "1"},
      {"check", "1", "999"},
      {"check", "1", "1,x"},
      {"show", "1", "--uncheck"},
  };
  for (const auto& args : bad) {
    const TCliRun run = History(args);
    EXPECT_EQ(run.Status, 2) << testing::PrintToString(args) << "\n" << run.Err;
    EXPECT_FALSE(run.Err.empty());
  }
}

}  // namespace
}  // namespace vandrel

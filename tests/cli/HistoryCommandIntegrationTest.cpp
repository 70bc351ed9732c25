// Stored searches across separate runs of the command line: search, history and db against the demo store
// site.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/CliTestSupport.h"
#include "data/DemoSite.h"
#include "http/TestOriginServer.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;

using clitest::RunCli;
using clitest::TCliRun;
using clitest::TJsonReader;
using clitest::TJsonRecord;

std::string Capture(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) return out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe.get())) > 0) out.append(buf.data(), n);
  return out;
}

// A stand-in site that passes requests on to the demo site, except that one store answers with an empty
// results page: that store then lists nothing, successfully.
class TFilteringSite {
 public:
  TFilteringSite(const std::string& upstream, const std::string& silentPrefix) {
    server_.SetFallback([upstream, silentPrefix](test::TOriginConnection& connection) {
      const std::string path = connection.Request().PathAndQuery();
      std::string body = "<html><body>No products match your search.</body></html>";
      if (path.rfind(silentPrefix, 0) != 0) body = test::HttpGet(upstream + path.substr(1)).Body;
      test::TestOriginServer::Reply(200, body, {"Content-Type: text/html"})(connection);
    });
  }
  std::string Address() const { return server_.Url("/"); }

 private:
  test::TestOriginServer server_;
};

std::vector<TJsonRecord> Records(const TCliRun& run) {
  std::vector<TJsonRecord> records;
  EXPECT_TRUE(TJsonReader(run.Out).ReadArray(records)) << run.Out << run.Err;
  return records;
}

std::set<std::string> Urls(const std::vector<TJsonRecord>& records) {
  std::set<std::string> urls;
  for (const auto& r : records) urls.insert(r.Text.at("url"));
  return urls;
}

class HistoryCommandIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Site = new test::TDemoSite(); }
  static void TearDownTestSuite() {
    delete Site;
    Site = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(Site->Port, 0) << "the demo store site did not start";
    Root = test::ProcessTempDir() + "/history-root-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(Root);
  }

  TCliRun Search(std::vector<std::string> args) const {
    args.insert(args.begin(), {"search", "--root", Root, "--data", test::CompiledDataDir(), "--define",
                               "DemoStoreAddress=" + Site->Address(), "--json"});
    return RunCli(args);
  }
  TCliRun History(std::vector<std::string> args, const std::string& address = {}) const {
    args.insert(args.begin(), {"history"});
    args.insert(args.end(), {"--root", Root, "--data", test::CompiledDataDir(), "--define",
                             "DemoStoreAddress=" + (address.empty() ? Site->Address() : address)});
    return RunCli(args);
  }
  std::string CompareFolder() const {
    for (const auto& e : fs::directory_iterator(Root + "/UserData"))
      if (fs::is_directory(e.path() / "Compare")) return (e.path() / "Compare").string() + "/";
    return {};
  }

  static inline test::TDemoSite* Site = nullptr;
  std::string Root;
};

TEST_F(HistoryCommandIntegration, AStoredSearchSurvivesARestartWithItsResultsStatesAndCounts) {
  const TCliRun search = Search({"--category", "buybooks", "--set", "Title=glass", "--engines",
                                 "pageturner,bookbarn", "--results-per-engine", "5"});
  ASSERT_EQ(search.Status, 0) << search.Err;
  const std::vector<TJsonRecord> found = Records(search);
  ASSERT_FALSE(found.empty());

  const TCliRun list = History({"list", "--json"});
  ASSERT_EQ(list.Status, 0) << list.Err;
  const std::vector<TJsonRecord> searches = Records(list);
  ASSERT_EQ(searches.size(), 1u);
  EXPECT_EQ(searches[0].Number.at("Number"), 1);
  EXPECT_EQ(searches[0].Text.at("Category"), "buybooks");
  EXPECT_NE(searches[0].Text.at("Query").find("glass"), std::string::npos);
  EXPECT_EQ(searches[0].Number.at("Results"), static_cast<long>(found.size()));
  EXPECT_FALSE(searches[0].Text.at("Created").empty());

  const TCliRun show = History({"show", "1", "--json"});
  ASSERT_EQ(show.Status, 0) << show.Err;
  const std::vector<TJsonRecord> stored = Records(show);
  EXPECT_EQ(Urls(stored), Urls(found)) << "the stored results are the ones printed";
  for (const auto& r : stored) {
    EXPECT_FALSE(r.Text.at("title").empty());
    // Shown as the search showed it: The Book Barn prices in pounds, PageTurner in dollars.
    const std::string& price = r.Text.at("price");
    const bool pounds = price.rfind("\xc2\xa3", 0) == 0 && price.find("(GBP)") != std::string::npos;
    EXPECT_TRUE(price.rfind("$", 0) == 0 || pounds) << price;
    for (const auto& f : found)
      if (f.Text.at("url") == r.Text.at("url")) {
        EXPECT_EQ(f.Text.at("price"), price);
      }
    EXPECT_EQ(static_cast<long>(r.List.at("FoundBy").size()), r.Number.at("Occurrences"));
    EXPECT_FALSE(r.Flag.at("New")) << "nothing is new on a first run";
    EXPECT_EQ(r.Text.at("State"), "");
  }
  const auto both = std::find_if(stored.begin(), stored.end(), [](const TJsonRecord& r) {
    return r.Text.at("title") == "The Harbour of Glass";
  });
  ASSERT_NE(both, stored.end());
  EXPECT_EQ(std::set<std::string>(both->List.at("FoundBy").begin(), both->List.at("FoundBy").end()),
            (std::set<std::string>{"bookbarn", "pageturner"}));

  // A review search lands in the other history; --no-store leaves both alone.
  ASSERT_EQ(Search({"--category", "reviewtoys", "--set", "Keywords=brickworks"}).Status, 0);
  ASSERT_EQ(Search({"--category", "buybooks", "--set", "Title=glass", "--no-store"}).Status, 0);
  EXPECT_EQ(Records(History({"list", "--reviews", "--json"})).size(), 1u);
  EXPECT_EQ(Records(History({"list", "--json"})).size(), 1u);
}

TEST_F(HistoryCommandIntegration, RerunMarksResultsNewFoundAgainAndOutdated) {
  TFilteringSite withoutBookBarn(Site->Address(), "/bookbarn");
  const std::vector<std::string> glass = {"--category",           "buybooks",  "--set",
                                          "Title=glass",          "--engines", "pageturner,bookbarn",
                                          "--results-per-engine", "5"};
  std::vector<std::string> first = glass;
  first.insert(first.end(), {"--define", "DemoStoreAddress=" + withoutBookBarn.Address()});
  const TCliRun search = Search(first);  // the later --define wins
  ASSERT_EQ(search.Status, 0) << search.Err;
  // Stores spell one book's address differently, so books are told apart by title.
  std::set<std::string> before;
  for (const auto& r : Records(search)) before.insert(r.Text.at("title"));
  ASSERT_FALSE(before.empty());

  // The Book Barn now lists its books: those not seen before are new, the rest found again.
  const TCliRun full = History({"rerun", "1", "--json"});
  ASSERT_EQ(full.Status, 0) << full.Err;
  size_t fresh = 0;
  std::set<std::string> bookBarnOnly;
  for (const auto& r : Records(full)) {
    const std::string& title = r.Text.at("title");
    EXPECT_EQ(r.Text.at("State"), "") << title;
    EXPECT_EQ(r.Flag.at("New"), before.count(title) == 0) << title;
    if (r.Flag.at("New")) ++fresh;
    const auto& by = r.List.at("FoundBy");
    if (by.size() == 1 && by[0] == "bookbarn") bookBarnOnly.insert(title);
  }
  EXPECT_GT(fresh, 0u);
  ASSERT_FALSE(bookBarnOnly.empty());

  // The Book Barn answers again with nothing: what only it had found is outdated and hidden by default.
  const TCliRun again = History({"rerun", "1", "--json"}, withoutBookBarn.Address());
  ASSERT_EQ(again.Status, 0) << again.Err;
  size_t visible = 0;
  for (const auto& r : Records(again)) {
    const std::string& title = r.Text.at("title");
    EXPECT_FALSE(r.Flag.at("New")) << title;
    EXPECT_EQ(r.Text.at("State"), bookBarnOnly.count(title) ? "outdated" : "") << title;
    visible += r.Text.at("State").empty();
  }
  EXPECT_EQ(Records(History({"list", "--json"}))[0].Number.at("Results"), static_cast<long>(visible));

  // No store answers: nothing could be checked, so every result stays as it was and says so.
  const TCliRun failed = History({"rerun", "1", "--json"}, "http://127.0.0.1:1/");
  ASSERT_EQ(failed.Status, 0) << failed.Err;
  EXPECT_NE(failed.Err.find("engine error(s)"), std::string::npos) << failed.Err;
  for (const auto& r : Records(History({"show", "1", "--json"}))) {
    const std::string& title = r.Text.at("title");
    EXPECT_EQ(r.Text.at("State"), bookBarnOnly.count(title) ? "outdated" : "remains") << title;
  }
  EXPECT_EQ(Records(History({"list", "--json"}))[0].Number.at("Results"), static_cast<long>(visible));
}

TEST_F(HistoryCommandIntegration, ADeletedSearchStaysDeletedAfterCompactionAndIndependentReadersAgree) {
  ASSERT_EQ(Search({"--category", "buybooks", "--set", "Title=glass", "--engines", "pageturner"}).Status, 0);
  const TCliRun second =
      Search({"--category", "buybooks", "--set", "Title=harbour", "--engines", "bookbarn"});
  ASSERT_EQ(second.Status, 0) << second.Err;
  const size_t secondCount = Records(second).size();

  // The result table as an independent reader sees it: one line per live row, its search number first.
  const std::string script = test::ProcessTempDir() + "/read-results.py";
  {
    std::ofstream out(script);
    out << "import dbfread, sys\n"
           "for r in dbfread.DBF(sys.argv[1], load=True, char_decode_errors='replace').records:\n"
           "  print('search=%d' % r['SRHNUM'])\n";
  }
  auto rows = [&](int srhNum) {
    const std::string out = Capture("/usr/bin/python3 " + script + " " + CompareFolder() + "Result.ctb 2>&1");
    EXPECT_EQ(out.find("Error"), std::string::npos) << out;
    size_t n = 0;
    const std::string needle = "search=" + std::to_string(srhNum) + "\n";
    for (size_t at = out.find(needle); at != std::string::npos; at = out.find(needle, at + 1)) ++n;
    return n;
  };
  EXPECT_GT(rows(1), 0u);
  EXPECT_EQ(rows(2), secondCount);

  ASSERT_EQ(History({"delete", "1"}).Status, 0);
  const TCliRun compact = RunCli({"db", "compact", "--root", Root});
  ASSERT_EQ(compact.Status, 0) << compact.Err;
  EXPECT_EQ(rows(1), 0u) << "the deleted search's results went with it";
  EXPECT_EQ(rows(2), secondCount);

  const std::vector<TJsonRecord> left = Records(History({"list", "--json"}));
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].Number.at("Number"), 2);
  EXPECT_EQ(History({"show", "1"}).Status, 2);
  EXPECT_EQ(Records(History({"show", "2", "--json"})).size(), secondCount);
}

TEST_F(HistoryCommandIntegration, BadArgumentsAndUnknownSearchesExitWithTwo) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"show"},
      {"show", "x"},
      {"show", "-1"},
      {"show", "99"},
      {"delete", "99"},
      {"rerun", "99"},
      {"list", "3"},
      {"list", "--frobnicate"},
      {"show", "1", "2"},
  };
  for (const auto& args : bad) {
    const TCliRun run = History(args);
    EXPECT_EQ(run.Status, 2) << (args.empty() ? "(none)" : args.back()) << "\n" << run.Err;
    EXPECT_FALSE(run.Err.empty());
  }
  EXPECT_EQ(RunCli({"db"}).Status, 2);
  EXPECT_EQ(RunCli({"db", "pack", "--root", Root}).Status, 2);
  EXPECT_EQ(RunCli({"db", "compact", "--root"}).Status, 2);
}

}  // namespace
}  // namespace vandrel

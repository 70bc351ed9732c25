// Stored searches across separate runs of the command line: search, history and db against the demo store
// site.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
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

#include "cli/DemoHistoryFixture.h"
#include "http/TestOriginServer.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;

using clitest::Records;
using clitest::RunCli;
using clitest::TCliRun;
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

std::set<std::string> Urls(const std::vector<TJsonRecord>& records) {
  std::set<std::string> urls;
  for (const auto& r : records) urls.insert(r.Text.at("url"));
  return urls;
}

class HistoryCommandIntegration : public clitest::TDemoHistoryTest {
 protected:
  std::string CompareFolder() const {
    for (const auto& e : fs::directory_iterator(Root + "/UserData"))
      if (fs::is_directory(e.path() / "Compare")) return (e.path() / "Compare").string() + "/";
    return {};
  }
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

// Overwrites the search number of the first live row of search 1 in a result table with blanks-and-stars,
// which an independent reader takes as no number; then prints one line per live row as that reader sees it.
constexpr const char* kDamageResultRow = R"(import dbfread, struct, sys
path = sys.argv[1]
if sys.argv[2] == 'damage':
    with open(path, 'r+b') as f:
        head = f.read(32)
        header_len, record_len = struct.unpack('<HH', head[8:12])
        fields, offset = [], 1
        while True:
            d = f.read(32)
            if d[0] == 0x0D:
                break
            fields.append((d[:11].split(b'\0')[0].decode(), offset, d[16]))
            offset += d[16]
        at, width = [(o, w) for n, o, w in fields if n == 'SRHNUM'][0]
        count = struct.unpack('<I', head[4:8])[0]
        for i in range(count):
            f.seek(header_len + i * record_len)
            row = f.read(record_len)
            if row[:1] != b'*' and row[at:at + width].strip() == b'1':
                f.seek(header_len + i * record_len + at)
                f.write(b'*' * width)
                break
for r in dbfread.DBF(path, load=True, char_decode_errors='replace').records:
    print('search=%s' % r['SRHNUM'])
)";

std::string FindFile(const std::string& root, const std::string& name) {
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.path().filename() == name) return e.path().string();
  return {};
}

size_t CountOf(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

TEST_F(HistoryCommandIntegration, AResultRowDamagedOnDiskIsCountedAndNamedAsAnIndependentReaderSeesIt) {
  const TCliRun search = Search({"--category", "buybooks", "--set", "Title=glass", "--engines",
                                 "pageturner,bookbarn", "--results-per-engine", "5"});
  ASSERT_EQ(search.Status, 0) << search.Err;
  const size_t found = Records(search).size();
  ASSERT_GE(found, 3u);
  const std::string script = test::ProcessTempDir() + "/damage-result-row.py";
  test::WriteWholeFile(script, kDamageResultRow);
  const std::string table = CompareFolder() + "Result.ctb";
  EXPECT_EQ(CountOf(Capture("/usr/bin/python3 " + script + " " + table + " read 2>&1"), "search=1\n"), found);

  const std::string afterDamage = Capture("/usr/bin/python3 " + script + " " + table + " damage 2>&1");
  EXPECT_EQ(CountOf(afterDamage, "search=1\n"), found - 1) << afterDamage;
  EXPECT_EQ(CountOf(afterDamage, "search=None\n"), 1u) << afterDamage;

  // Our reader agrees: one result short, said with its count and the damaged file, and not a success.
  const TCliRun show = History({"show", "1", "--json"});
  EXPECT_EQ(show.Status, 1) << show.Err;
  EXPECT_EQ(Records(show).size(), found - 1) << show.Err;
  EXPECT_NE(show.Err.find("1 result(s) of search 1 could not be read"), std::string::npos) << show.Err;
  EXPECT_NE(show.Err.find(table + " is damaged"), std::string::npos) << show.Err;
}

TEST_F(HistoryCommandIntegration, EveryCommandSaysWhatTheDatabaseLostOrWhyItIsRefused) {
  ASSERT_EQ(Search({"--category", "buybooks", "--set", "Title=glass", "--engines", "pageturner"}).Status, 0);
  const std::string searches = FindFile(Root, "Search.ctb");
  ASSERT_FALSE(searches.empty());
  test::WriteWholeFile(searches, "not a table");

  // Not a history command: the loss is said by the first command that opens the database after it.
  const TCliRun next = Search({"--category", "buybooks", "--set", "Title=harbour", "--engines", "bookbarn"});
  EXPECT_EQ(next.Status, 0) << next.Err;
  EXPECT_EQ(CountOf(next.Err, "Search.ctb could not be read"), 1u) << next.Err;
  const TCliRun later = History({"list"});
  EXPECT_EQ(later.Err.find("could not be read"), std::string::npos) << "said once: " << later.Err;

  // Another process holding the database: the refusal says so instead of a generic failure.
  const std::string dictionary = FindFile(Root, "DB.dbf");
  ASSERT_FALSE(dictionary.empty());
  const int held = ::open(dictionary.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  const TCliRun refused = History({"list"});
  ::close(held);
  EXPECT_EQ(refused.Status, 1);
  EXPECT_NE(refused.Err.find("is in use by another process"), std::string::npos) << refused.Err;
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

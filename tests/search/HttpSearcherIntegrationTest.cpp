#include "search/HttpSearcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>

#include "http/TestOriginServer.h"
#include "search/SearchTestUtil.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using test::TestOriginServer;
using testing::FieldInt;
using testing::FieldText;
using testing::GadgetType;
using testing::TTypeFromSource;

// A list page of a store: one <li> per product.
struct TProduct {
  std::string Title, Price, Url;
};
std::string ListPage(const std::vector<TProduct>& products) {
  std::string html = "<html><body><p>Results</p><ul>\n";
  for (const auto& p : products)
    html += "<li><a href=\"" + p.Url + "\"><b>" + p.Title + "</b></a> $" + p.Price + "<br></li>\n";
  return html + "</ul></body></html>";
}

// Store engines over one local server: each asks "/<name>?q=<keywords>&sub=<sub-engine>&it=<iteration>".
struct SearchHarness {
  explicit SearchHarness(const std::string& typeSource = GadgetType()) : Type(typeSource) {
    EXPECT_TRUE(Type.Ok) << Type.LastError();
    Server.SetFallback([this](test::TOriginConnection& c) {
      std::pair<int, std::string> page{404, "<html>no such page</html>"};
      {
        std::lock_guard<std::mutex> g(lock);
        auto it = pages.find(c.Request().PathAndQuery());
        if (it != pages.end()) page = it->second;
      }
      TestOriginServer::Reply(page.first, page.second, {"Content-Type: text/html"})(c);
    });
    Searcher = std::make_unique<THttpSearchManager>(&Type.Reader, Dispatcher);
    Searcher->SetMaxThreads(1);
    Searcher->SetResultsPerEngine(10);
    Searcher->Instance().InputFields.Find("Keywords")->SetString("lamp");
    Searcher->OnSearchStart = [this](THttpSearcher&) { Log.push_back("start"); };
    Searcher->OnSearchEnd = [this](THttpSearcher&) { Log.push_back("end"); };
    Searcher->OnEngineStarted = [this](TSearchEngine& e) { Log.push_back("started " + e.Name); };
    Searcher->OnEngineDone = [this](TSearchEngine& e) { Log.push_back("done " + e.Name); };
    Searcher->OnEngineError = [this](TSearchEngine& e) {
      Log.push_back("error " + e.Name + " " + std::to_string(e.ErrorCode) + " " + e.ErrorText);
    };
    Searcher->OnEngineProgress = [this](TSearchEngine& e, int percent) {
      Progress[e.Name].push_back(percent);
    };
    Searcher->OnNewResults = [this](THttpSearchManager& m) {
      std::string line = "new";
      for (TMasterResult* r : m.ResultManager().NewResults()) line += " " + r->Key;
      Log.push_back(line);
    };
    Searcher->OnUpdatedResults = [this](THttpSearchManager& m) {
      std::string line = "updated";
      for (TMasterResult* r : m.ResultManager().UpdatedResults()) line += " " + r->Key;
      Log.push_back(line);
    };
  }

  void SetPage(const std::string& pathAndQuery, int status, const std::string& body) {
    std::lock_guard<std::mutex> g(lock);
    pages[pathAndQuery] = {status, body};
  }
  // `init` and `after` are script lines run at the end of "Init" and "AfterDownload".
  TSearchEngine& AddEngine(const std::string& name, const std::string& init = {},
                           const std::string& after = {}) {
    std::string source = "Procedure Init\n" + init + "\nEndProcedure\n";
    source += "Procedure BeforeDownload\n  SourceUrl = \"" + Server.Url("/" + name) +
              "?q=\" + Keywords + \"&sub=\" + StrFormat(\"%d\", SubEngine) + \"&it=\" + "
              "StrFormat(\"%d\", Iteration)\nEndProcedure\n";
    source += R"(Procedure AfterDownload
  ParseType = PT_EXPRESSION
  ParseExpression = "<li>"
  Rules["Range"].startmarker = "<ul>"
  Rules["Range"].endmarker = "</ul>"
  Rules["url"].key = True
  Rules["url"].startmarker = 'href="'
  Rules["url"].endmarker = '"'
  Rules["title"].startmarker = "<b>"
  Rules["title"].endmarker = "</b>"
  Rules["price"].startmarker = "$"
  Rules["price"].endmarker = "<"
)" + after + "\nEndProcedure\n";
    test::WriteWholeFile(Dir / (name + ".sen"), source);
    return Searcher->Engines().FindOrAdd(name, Dir / (name + ".sen"));
  }
  bool Run() {
    Log.clear();
    Progress.clear();
    Searcher->Execute();
    return Dispatcher.RunUntil([this] { return !Searcher->Running(); }, 30s, 2ms);
  }
  std::vector<std::string> Targets() {
    std::vector<std::string> out;
    for (const auto& r : Server.Requests()) out.push_back(r.PathAndQuery());
    return out;
  }
  TMasterResult& Master(const std::string& key) {
    TMasterResult* m = Searcher->ResultManager().Masters().Find(key);
    EXPECT_TRUE(m) << key;
    static TMasterResult none("", nullptr);
    return m ? *m : none;
  }

  TestOriginServer Server;
  test::TempFolder Dir;
  TTypeFromSource Type;
  MainDispatcher Dispatcher;
  std::unique_ptr<THttpSearchManager> Searcher;
  std::mutex lock;
  std::map<std::string, std::pair<int, std::string>> pages;
  std::vector<std::string> Log;
  std::map<std::string, std::vector<int>> Progress;
};

const std::string kLamp = "http://shop.test/p/1", kChair = "http://shop.test/p/2",
                  kDesk = "http://shop.test/p/3", kSofa = "http://shop.test/p/4",
                  kRug = "http://shop.test/p/5";

TEST(HttpSearcherIntegration, ThreeStoresMergeIntoRankedScoredMasters) {
  SearchHarness h;
  h.SetPage("/alpha?q=lamp&sub=1&it=0", 200,
            ListPage({{"Lamp", "30", "http://www.shop.test/p/1"},
                      {"Chair", "50", "http://shop.test/p/2"},
                      {"Desk", "80", "http://shop.test/p/3"}}));
  h.SetPage("/beta?q=lamp&sub=1&it=0", 200,
            ListPage({{"Chair", "45", "http://shop.test/p/2/"},
                      {"Lamp", "25", "http://shop.test/p/1/index.html"}}));
  h.SetPage("/gamma?q=lamp&sub=1&it=0", 200,
            ListPage({{"Lamp", "28", "http://www.shop.test/p/1/"},
                      {"Free sample", "0", "http://shop.test/p/9"},
                      {"Sofa", "300", "http://shop.test/p/4"}}));
  h.AddEngine("alpha");
  h.AddEngine("beta");
  h.AddEngine("gamma");
  ASSERT_TRUE(h.Run());

  // One engine at a time, in list order; each page merged as it arrives.
  EXPECT_EQ(h.Log, (std::vector<std::string>{
                       "start", "started alpha", "new " + kLamp + " " + kChair + " " + kDesk, "done alpha",
                       "started beta", "updated " + kChair + " " + kLamp, "done beta", "started gamma",
                       "new " + kSofa, "updated " + kLamp, "done gamma", "end"}));
  EXPECT_EQ(h.Targets(), (std::vector<std::string>{"/alpha?q=lamp&sub=1&it=0", "/beta?q=lamp&sub=1&it=0",
                                                   "/gamma?q=lamp&sub=1&it=0"}));
  EXPECT_EQ(h.Searcher->State(), ssIdle);
  EXPECT_EQ(h.Searcher->FinishedEngines().Count(), 3u);

  TResultManager& m = h.Searcher->ResultManager();
  ASSERT_EQ(m.Masters().Count(), 4u);  // the free sample failed the filter
  struct Expect {
    std::string Key;
    int Rank;
    size_t Occurrences;
    std::vector<std::string> FoundBy;
    std::string Title, Price;
    int EngineRank, Score;
  } expected[] = {
      // Lamp: beta's is cheapest; re-evaluated when gamma's came, as rank 2 of 3 occurrences, and its
      // title holds the keyword: 0.585 + 0.2 log21(4) + 0.06.
      {kLamp, 1, 3, {"alpha", "beta", "gamma"}, "Lamp", "25", 2, 74},
      {kChair, 2, 2, {"alpha", "beta"}, "Chair", "45", 1, 72},
      {kDesk, 3, 1, {"alpha"}, "Desk", "80", 3, 57},
      {kSofa, 4, 1, {"gamma"}, "Sofa", "300", 3, 57},
  };
  auto sorted = m.SortedMasters();
  for (size_t i = 0; i < std::size(expected); ++i) {
    const Expect& e = expected[i];
    TMasterResult& master = h.Master(e.Key);
    SCOPED_TRACE(e.Key);
    EXPECT_EQ(sorted[i], &master);  // cheapest first
    EXPECT_EQ(master.Rank, e.Rank);
    EXPECT_EQ(master.Occurrences(), e.Occurrences);
    EXPECT_EQ(master.FoundBy(h.Searcher->EngineResults()), e.FoundBy);
    ASSERT_TRUE(master.Representative);
    TResultRecord& rep = *master.Representative;
    EXPECT_EQ(FieldText(rep, "title"), e.Title);
    EXPECT_EQ(FieldText(rep, "price"), e.Price);
    EXPECT_EQ(rep.Rank, e.EngineRank);
    EXPECT_EQ(rep.MasterRank, e.Rank);
    EXPECT_EQ(FieldInt(rep, "score"), e.Score);
  }
  EXPECT_EQ(h.Searcher->EngineResults().Find("gamma")->Count(), 3u);
  EXPECT_TRUE(m.OldResults().empty());

  // The re-run starts from what the first run stored; beta now fails, gamma finds a rug instead of the sofa.
  for (TMasterResult* master : sorted) {
    auto stored = master->Representative->Clone();
    m.StoredRecords().Add(std::move(stored));
  }
  h.SetPage("/beta?q=lamp&sub=1&it=0", 500, "<html>busy</html>");
  h.SetPage("/gamma?q=lamp&sub=1&it=0", 200,
            ListPage({{"Lamp", "28", "http://www.shop.test/p/1/"}, {"Rug", "60", "http://shop.test/p/5"}}));
  ASSERT_TRUE(h.Run());
  EXPECT_EQ(h.Log, (std::vector<std::string>{
                       "start", "started alpha", "updated " + kLamp + " " + kChair + " " + kDesk,
                       "done alpha", "started beta", "error beta 500 StatusCode: 500", "done beta",
                       "started gamma", "new " + kRug, "updated " + kLamp, "done gamma", "end"}));
  ASSERT_EQ(m.Masters().Count(), 5u);
  TMasterResult& lamp = h.Master(kLamp);
  EXPECT_EQ(lamp.State, msFoundAgain);
  EXPECT_EQ(lamp.Occurrences(), 2u);  // the stored copy was replaced by this run's records
  EXPECT_EQ(lamp.FoundBy(h.Searcher->EngineResults()), (std::vector<std::string>{"alpha", "gamma"}));
  EXPECT_EQ(FieldText(*lamp.Representative, "price"), "28");
  EXPECT_EQ(FieldInt(*lamp.Representative, "score"), 78);  // rank 1, 2 occurrences, the keyword
  EXPECT_EQ(h.Master(kRug).Rank, 5);
  EXPECT_EQ(h.Master(kRug).State, msNew);
  ASSERT_EQ(m.OldResults().size(), 1u);
  EXPECT_EQ(m.OldResults()[0]->Key, kSofa);
  EXPECT_EQ(m.OldResults()[0]->Rank, 4);
  TSearchEngine* beta = h.Searcher->Engines().Find("beta");
  EXPECT_EQ(beta->ErrorCode, 500);
  EXPECT_FALSE(beta->ErrorReported);
  EXPECT_EQ(h.Searcher->EngineResults().Find("beta")->Count(), 0u);
}

TEST(HttpSearcherIntegration, PagesRunAcrossSubEnginesWithRanksAndProgress) {
  SearchHarness h;
  h.Searcher->SetResultsPerEngine(5);
  auto product = [](int i) {
    return TProduct{"Item " + std::to_string(i), "1" + std::to_string(i), kLamp + std::to_string(i)};
  };
  h.SetPage("/pager?q=lamp&sub=1&it=0", 200, ListPage({product(1), product(2)}));
  h.SetPage("/pager?q=lamp&sub=1&it=1", 200, ListPage({product(3)}));  // short: on to sub-engine 2
  h.SetPage("/pager?q=lamp&sub=2&it=0", 200, ListPage({product(4), product(5)}));
  h.SetPage("/pager?q=lamp&sub=2&it=1", 200, ListPage({product(6)}));  // never asked: 5 records are enough
  // 10 per page would never switch; 2 per page with 5 wanted gives 3 pages, one more for sub-engine 2.
  h.SetPage("/single?q=lamp&sub=1&it=0", 200, ListPage({product(7), product(8)}));
  h.SetPage("/single?q=lamp&sub=1&it=1", 200, ListPage({}));
  TSearchEngine& pager = h.AddEngine("pager", "ResultsPerPage = 2\nNbSubEngines = 2");
  TSearchEngine& single = h.AddEngine("single", "ResultsPerPage = 2");
  h.Searcher->SetMaxThreads(2);
  ASSERT_TRUE(h.Run());

  auto targets = h.Targets();
  std::vector<std::string> pagerTargets, singleTargets;
  for (const auto& t : targets) (t.rfind("/pager", 0) == 0 ? pagerTargets : singleTargets).push_back(t);
  EXPECT_EQ(pagerTargets, (std::vector<std::string>{"/pager?q=lamp&sub=1&it=0", "/pager?q=lamp&sub=1&it=1",
                                                    "/pager?q=lamp&sub=2&it=0"}));
  // An empty second page ends an engine of one sub-engine.
  EXPECT_EQ(singleTargets,
            (std::vector<std::string>{"/single?q=lamp&sub=1&it=0", "/single?q=lamp&sub=1&it=1"}));
  EXPECT_EQ(pager.Page, 3);
  EXPECT_EQ(pager.PageCount, 3);  // 4 planned; cut to the pages fetched so progress ends at 100
  EXPECT_EQ(single.Page, 2);

  TEngineResults& all = *h.Searcher->EngineResults().Find("pager");
  ASSERT_EQ(all.Count(), 5u);
  for (size_t i = 0; i < all.Count(); ++i) {
    EXPECT_EQ(all.At(i).Rank, static_cast<int>(i) + 1);
    EXPECT_EQ(FieldText(all.At(i), "title"), "Item " + std::to_string(i + 1));
  }

  // Page by page a quarter of the planned four, then 100 once the engine finished.
  const std::vector<int>& p = h.Progress["pager"];
  ASSERT_FALSE(p.empty());
  EXPECT_TRUE(std::is_sorted(p.begin(), p.end())) << ::testing::PrintToString(p);
  for (int step : {25, 50, 75}) EXPECT_NE(std::find(p.begin(), p.end(), step), p.end()) << step;
  EXPECT_EQ(p.back(), 100);
  EXPECT_EQ(h.Progress["single"].back(), 100);
}

TEST(HttpSearcherIntegration, StatusCodesFailAnEngineUnlessItIgnoresThem) {
  SearchHarness h;
  std::string page = ListPage({{"Lamp", "30", kLamp}});
  h.SetPage("/tolerant?q=lamp&sub=1&it=0", 404, page);
  h.SetPage("/strict?q=lamp&sub=1&it=0", 404, page);
  h.SetPage("/gone?q=lamp&sub=1&it=0", 410, page);
  h.AddEngine("tolerant", "IgnoreHttpStatusCode 404");
  h.AddEngine("strict");
  h.AddEngine("gone", "IgnoreHttpStatusCode 404\nIgnoreHttpStatusCode 410");
  h.Searcher->SetMaxThreads(3);
  ASSERT_TRUE(h.Run());
  auto foundBy = h.Master(kLamp).FoundBy(h.Searcher->EngineResults());
  std::sort(foundBy.begin(), foundBy.end());  // three at a time: any order
  EXPECT_EQ(foundBy, (std::vector<std::string>{"gone", "tolerant"}));
  TSearchEngine* strict = h.Searcher->Engines().Find("strict");
  EXPECT_EQ(strict->ErrorCode, 404);
  EXPECT_EQ(strict->ErrorText, "StatusCode: 404");
  EXPECT_EQ(h.Searcher->Engines().Find("tolerant")->ErrorCode, 0);
}

TEST(HttpSearcherIntegration, EachPageAsksWithTheInputValueThoughAnOutputFieldSharesItsName) {
  // The output field "keywords" shares the variable that carries the input "Keywords" to the scripts.
  std::string type = GadgetType();
  type.insert(type.find("  AddSortKey"), "  f = AddOutputField(\"keywords\")\n");
  SearchHarness h(type);
  h.Searcher->SetResultsPerEngine(3);
  h.SetPage("/dup?q=lamp&sub=1&it=0", 200, ListPage({{"Lamp", "30", kLamp}, {"Chair", "50", kChair}}));
  h.SetPage("/dup?q=lamp&sub=1&it=1", 200, ListPage({{"Desk", "80", kDesk}}));
  h.AddEngine("dup", "ResultsPerPage = 2",
              "Rules[\"keywords\"].startmarker = \"<b>\"\nRules[\"keywords\"].endmarker = \"</b>\"");
  ASSERT_TRUE(h.Run());
  EXPECT_EQ(h.Targets(), (std::vector<std::string>{"/dup?q=lamp&sub=1&it=0", "/dup?q=lamp&sub=1&it=1"}));
  EXPECT_EQ(FieldText(*h.Master(kDesk).Representative, "keywords"), "Desk");
}

TEST(HttpSearcherIntegration, OddSubEngineCountsStillGiveAtLeastOnePage) {
  SearchHarness h;
  h.SetPage("/zero?q=lamp&sub=1&it=0", 200, ListPage({{"Lamp", "30", kLamp}}));
  h.SetPage("/negative?q=lamp&sub=1&it=0", 200, ListPage({{"Chair", "50", kChair}}));
  TSearchEngine& zero = h.AddEngine("zero", "NbSubEngines = 0");
  TSearchEngine& negative =
      h.AddEngine("negative", "NbSubEngines = -4\nResultsPerPage = 3\nResultsPerEngine = -20");
  ASSERT_TRUE(h.Run());
  EXPECT_EQ(zero.PageCount, 1);
  EXPECT_EQ(negative.PageCount, 1);
  for (const auto& [name, values] : h.Progress) {
    SCOPED_TRACE(name);
    ASSERT_FALSE(values.empty());
    for (int v : values) EXPECT_TRUE(v >= 0 && v <= 100) << v;
    EXPECT_EQ(values.back(), 100);
  }
  EXPECT_EQ(h.Searcher->ResultManager().Masters().Count(), 2u);
}

TEST(HttpSearcherIntegration, ScriptErrorsAndMissingDefinitionsEndOnlyTheirEngine) {
  SearchHarness h;
  h.SetPage("/fine?q=lamp&sub=1&it=0", 200, ListPage({{"Lamp", "30", kLamp}}));
  h.SetPage("/faulty?q=lamp&sub=1&it=0", 200, ListPage({{"Chair", "50", kChair}}));
  h.AddEngine("faulty", "", "x = 1 / 0");
  h.Searcher->Engines().FindOrAdd("missing", h.Dir / "missing.sen");
  h.AddEngine("fine");
  h.Searcher->SetMaxThreads(3);
  ASSERT_TRUE(h.Run());
  TSearchEngine* faulty = h.Searcher->Engines().Find("faulty");
  TSearchEngine* missing = h.Searcher->Engines().Find("missing");
  EXPECT_TRUE(faulty->ErrorReported);
  EXPECT_NE(faulty->ErrorCode, 0);
  EXPECT_GT(faulty->ErrorLine, 0);
  EXPECT_TRUE(missing->ErrorReported);
  EXPECT_EQ(missing->ErrorCode, 127);
  // Engines that reported a script error get no "done" event; the others go on.
  auto has = [&](const std::string& line) {
    return std::find(h.Log.begin(), h.Log.end(), line) != h.Log.end();
  };
  EXPECT_FALSE(has("done faulty"));
  EXPECT_FALSE(has("done missing"));
  EXPECT_FALSE(has("started missing"));
  EXPECT_TRUE(has("done fine"));
  EXPECT_EQ(h.Log.back(), "end");
  EXPECT_EQ(h.Searcher->ResultManager().Masters().Count(), 1u);
  // A definition is loaded once per searcher: the second run reports the same failure without a new load.
  ASSERT_TRUE(h.Run());
  EXPECT_EQ(missing->ErrorCode, 127);
  EXPECT_EQ(h.Searcher->ResultManager().Masters().Count(), 1u);
}

TEST(HttpSearcherIntegration, AnEngineIsToldOnceOfItsFirstScriptErrorAndEveryCompilerGetsTheDebugFlag) {
  SearchHarness h;
  h.SetPage("/fine?q=lamp&sub=1&it=0", 200, ListPage({{"Lamp", "30", kLamp}}));
  h.AddEngine("fine");
  // Two bad lines: the compile reports both, the first is what broke the engine.
  test::WriteWholeFile(h.Dir / "twice.sen", "Procedure Init\n  x = (1 +\n  y = )\nEndProcedure\n");
  TSearchEngine& twice = h.Searcher->Engines().FindOrAdd("twice", h.Dir / "twice.sen");
  h.Searcher->Debug = true;
  ASSERT_TRUE(h.Run());
  EXPECT_TRUE(twice.ErrorReported);
  EXPECT_EQ(twice.ErrorLine, 2);
  EXPECT_EQ(std::count_if(h.Log.begin(), h.Log.end(),
                          [](const std::string& line) { return line.rfind("error twice ", 0) == 0; }),
            1);
  EXPECT_TRUE(h.Searcher->Engines().Find("fine")->Compiler().Debug);
  EXPECT_TRUE(twice.Compiler().Debug);
  const std::string firstRunText = twice.ErrorText;
  h.Searcher->Debug = false;
  ASSERT_TRUE(h.Run());
  EXPECT_EQ(twice.ErrorText, firstRunText);
  EXPECT_FALSE(h.Searcher->Engines().Find("fine")->Compiler().Debug);
  // The definition is not compiled again, but the next run still says what is wrong with it.
  EXPECT_FALSE(firstRunText.empty());
  EXPECT_EQ(twice.ErrorLine, 2);
}

TEST(HttpSearcherIntegration, ALoopingEngineScriptFailsOnlyItsEngineWithinTheTimeLimit) {
  SearchHarness h;
  h.SetPage("/alpha?q=lamp&sub=1&it=0", 200, ListPage({{"Lamp", "30", kLamp}}));
  h.SetPage("/looping?q=lamp&sub=1&it=0", 200, ListPage({{"Chair", "50", kChair}}));
  h.SetPage("/beta?q=lamp&sub=1&it=0", 200, ListPage({{"Desk", "70", kDesk}}));
  h.AddEngine("alpha");
  h.AddEngine("looping");
  // Downloaded definitions are strangers' code: this one never returns from AfterParse.
  {
    std::ofstream(h.Dir / "looping.sen", std::ios::app)
        << "Procedure AfterParse\n  While 1 = 1\n  EndWhile\nEndProcedure\n";
  }
  h.AddEngine("beta");
  h.Searcher->SetMaxThreads(3);
  const int limitMs = 1500;
  h.Searcher->SetEngineTimeLimit(limitMs);
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(h.Run());
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(ms, limitMs + 1000) << "the search must end within the engine time limit plus a second";
  TSearchEngine* looping = h.Searcher->Engines().Find("looping");
  EXPECT_TRUE(looping->ErrorReported);
  EXPECT_EQ(looping->ErrorCode, kErrTimeLimit);
  EXPECT_EQ(looping->ErrorText, "Script stopped after running 750 ms");
  auto has = [&](const std::string& line) {
    return std::find(h.Log.begin(), h.Log.end(), line) != h.Log.end();
  };
  EXPECT_TRUE(has("done alpha"));
  EXPECT_TRUE(has("done beta"));
  EXPECT_FALSE(has("done looping"));
  EXPECT_EQ(h.Log.back(), "end");
  // The healthy engines' results are there.
  EXPECT_EQ(h.Master(kLamp).Key, kLamp);
  EXPECT_EQ(h.Master(kDesk).Key, kDesk);
}

TEST(HttpSearcherIntegration, StopEndsTheRunAsPagesComeBack) {
  SearchHarness h;
  h.Server.Route("/slow", [](test::TOriginConnection& c) { c.Stall(10s); });
  h.AddEngine("slow");
  h.AddEngine("later");
  h.Searcher->Execute();
  ASSERT_TRUE(h.Dispatcher.RunUntil([&] { return !h.Server.Requests().empty(); }, 10s, 2ms));
  h.Searcher->Stop();
  EXPECT_EQ(h.Searcher->State(), ssStopping);
  ASSERT_TRUE(h.Dispatcher.RunUntil([&] { return !h.Searcher->Running(); }, 10s, 2ms));
  EXPECT_EQ(h.Searcher->State(), ssIdle);
  EXPECT_TRUE(h.Searcher->Engines().Find("slow")->Stopped);
  EXPECT_EQ(h.Log.back(), "end");
  // The engine not yet started never was.
  EXPECT_EQ(std::count(h.Log.begin(), h.Log.end(), "started later"), 0);
  EXPECT_EQ(h.Server.Requests().size(), 1u);
}

TEST(HttpSearcherIntegration, StopDuringTheConnectionTestEndsWithoutStartOrEnd) {
  SearchHarness h;
  h.AddEngine("alpha");
  h.Searcher->DetectConnection = true;
  h.Searcher->Detector().SetResolver([](const std::string&) {
    std::this_thread::sleep_for(2s);
    return 0;
  });
  bool detectStarted = false;
  h.Searcher->OnDetectStart = [&](TConnectionDetector&) {
    detectStarted = true;
    // The owner's cancel button, pressed while the test waits.
    h.Dispatcher.Post([&] { h.Searcher->Stop(); });
  };
  h.Searcher->Execute();
  EXPECT_TRUE(detectStarted);
  EXPECT_EQ(h.Searcher->State(), ssIdle);
  EXPECT_FALSE(h.Searcher->Running());
  h.Dispatcher.RunUntil([] { return false; }, 50ms, 5ms);
  EXPECT_TRUE(h.Log.empty()) << ::testing::PrintToString(h.Log);
  EXPECT_TRUE(h.Server.Requests().empty());
}

TEST(HttpSearcherIntegration, EnginesNeedingCredentialsAskTheOwner) {
  SearchHarness h;
  h.SetPage("/members?q=lamp&sub=1&it=0", 200, ListPage({{"Lamp", "30", kLamp}}));
  h.AddEngine("members", "AuthorizationRequired = True");
  h.AddEngine("declined", "AuthorizationRequired = True");
  h.Searcher->OnEngineAuthorize = [&](TSearchEngine& e, bool& stop) {
    h.Log.push_back("authorize " + e.Name);
    if (e.Name == "members") {
      e.UserName = "ann";
      e.Password = "secret";
    } else {
      stop = true;
    }
  };
  ASSERT_TRUE(h.Run());
  auto requests = h.Server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("Authorization"), "Basic YW5uOnNlY3JldA==");
  EXPECT_EQ(std::count(h.Log.begin(), h.Log.end(), "authorize declined"), 1);
  EXPECT_EQ(std::count(h.Log.begin(), h.Log.end(), "done declined"), 1);
  EXPECT_EQ(h.Searcher->Engines().Find("declined")->ErrorCode, 0);
}

TEST(HttpSearcherIntegration, AFailedConnectionTestStartsNothing) {
  SearchHarness h;
  h.SetPage("/alpha?q=lamp&sub=1&it=0", 200, ListPage({{"Lamp", "30", kLamp}}));
  h.AddEngine("alpha");
  h.Searcher->DetectConnection = true;
  int answer = 11001;  // host not found
  h.Searcher->Detector().SetResolver([&answer](const std::string&) { return answer; });
  h.Searcher->Execute();
  EXPECT_EQ(h.Searcher->State(), ssIdle);
  EXPECT_FALSE(h.Searcher->Running());
  EXPECT_TRUE(h.Log.empty());
  answer = 0;
  ASSERT_TRUE(h.Run());
  EXPECT_EQ(h.Log.front(), "start");
  EXPECT_EQ(h.Searcher->ResultManager().Masters().Count(), 1u);
}

TEST(HttpSearcherIntegration, AnotherSearchTypeRebindsEnginesAndDropsTheirResults) {
  SearchHarness h;
  h.SetPage("/alpha?q=lamp&sub=1&it=0", 200, ListPage({{"Lamp", "30", kLamp}}));
  h.SetPage("/alpha?q=desk&sub=1&it=0", 200, ListPage({{"Desk", "80", kDesk}}));
  h.AddEngine("alpha");
  ASSERT_TRUE(h.Run());
  TTypeFromSource other(GadgetType());
  h.Searcher->SetSearchType(&other.Reader);
  EXPECT_EQ(h.Searcher->EngineResults().Find("alpha")->Count(), 0u);
  EXPECT_EQ(h.Searcher->ResultManager().Masters().Count(), 0u);
  h.Searcher->Instance().InputFields.Find("Keywords")->SetString("desk");
  ASSERT_TRUE(h.Run());
  ASSERT_EQ(h.Searcher->ResultManager().Masters().Count(), 1u);
  EXPECT_EQ(FieldText(*h.Master(kDesk).Representative, "title"), "Desk");
  EXPECT_EQ(h.Master(kDesk).Representative->Instance, &h.Searcher->Instance());
}

TEST(HttpSearcherIntegration, RunsThatCannotStartSayWhy) {
  SearchHarness h;
  std::vector<int> statuses;
  h.Searcher->OnStatus = [&](THttpSearcher& s) { statuses.push_back(s.ErrorCode); };
  h.Searcher->Execute();  // no engine
  h.AddEngine("alpha");
  h.Searcher->SetMaxThreads(0);
  h.Searcher->Execute();
  EXPECT_EQ(statuses, (std::vector<int>{hseNoEngine, hseNoThread}));
  EXPECT_EQ(h.Searcher->ErrorText, "Select at least 1 thread");
  EXPECT_EQ(h.Searcher->State(), ssIdle);
  EXPECT_FALSE(h.Searcher->Running());
  EXPECT_TRUE(h.Log.empty());
  EXPECT_EQ(HttpSearcherErrorText(104), "SourceUrl is empty");
  EXPECT_EQ(HttpSearcherErrorText(7), "()");
}

}  // namespace
}  // namespace vandrel

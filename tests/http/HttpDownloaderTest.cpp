#include "http/HttpDownloader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "http/TestOriginServer.h"
#include "http/TestPeers.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using test::TestOriginServer;

TEST(HttpDownloader, SafeFileNameNeverLeavesItsFolder) {
  const std::string def = "index.htm";
  struct Case {
    std::string in, out;
  } cases[] = {
      {"a.htm", "a.htm"},
      {"", def},
      {".", def},
      {"..", def},
      {"...", def},
      {"a/../b", "a_.._b"},
      {"..\\x", ".._x"},
      {"x\ny\x01", "x_y_"},
      {"con:1?*|\"<>", "con_1______"},
  };
  for (const auto& c : cases) EXPECT_EQ(THttpDownloader::SafeFileName(c.in, def), c.out) << c.in;
  auto longName = THttpDownloader::SafeFileName(std::string(300, 'x') + ".html", def);
  EXPECT_LE(longName.size(), 200u);
  EXPECT_EQ(longName.substr(longName.size() - 5), ".html");
}

TEST(HttpDownloader, AddItemTakesHttpAddressesOnly) {
  MainDispatcher dispatcher;
  THttpDownloader downloader(dispatcher);
  auto item = downloader.AddItem("  host/x ");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->Url(), "http://host/x");
  EXPECT_EQ(item->Result()->State(), hisSuspended);
  EXPECT_EQ(item->Result()->UniqueId(), item->UniqueId());
  ASSERT_TRUE(downloader.AddItem("localhost:8080/x"));
  EXPECT_EQ(downloader.AddItem("localhost:8080/x")->Url(), "http://localhost:8080/x");
  EXPECT_FALSE(downloader.AddItem("ftp://host/x"));
  EXPECT_FALSE(downloader.AddItem("mailto:someone@host"));
  EXPECT_FALSE(downloader.AddItem(""));
}

TEST(HttpDownloader, DetectsTheConnectionWithItsOwnDetector) {
  MainDispatcher dispatcher;
  THttpDownloader downloader(dispatcher);
  downloader.SetConnectionDetectorLink("http://localhost/");
  int starts = 0, status = -99;
  THttpDownloaderEvents events;
  events.OnDetectStart = [&] { ++starts; };
  events.OnDetectDone = [&](int s) { status = s; };
  downloader.SetEvents(events);
  downloader.DetectConnection();
  EXPECT_EQ(downloader.State(), hdsDetectingConnection);
  EXPECT_FALSE(downloader.SetSettings(downloader.Settings()));  // settings wait for idle
  ASSERT_TRUE(dispatcher.RunUntil([&] { return status != -99; }, 10s, 2ms));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(downloader.State(), hdsIdle);
}

// One downloader on a dispatcher of the test's own, with every event recorded.
struct Harness {
  explicit Harness(std::function<void(THttpDownloaderSettings&)> setup = {}) {
    auto s = downloader.Settings();
    s.CruncherMode = true;
    s.StoreInMemory = true;
    s.ParsePages = false;
    s.KeepResults = true;
    if (setup) setup(s);
    EXPECT_TRUE(downloader.SetSettings(s));
    THttpDownloaderEvents e;
    e.OnItemDone = [this](const IHttpResultPtr& r) { ++itemDone[r->UniqueId()]; };
    e.OnPageDone = [this](const IHttpResultPtr& r) { ++pageDone[r->UniqueId()]; };
    e.OnItemHeaders = [this](const IHttpResultPtr&) { ++headers; };
    e.OnDone = [this] { ++runDone; };
    downloader.SetEvents(e);
  }
  IHttpItemPtr Add(const std::string& url, const std::string& dest = {}) {
    auto item = downloader.AddItem(url, dest);
    EXPECT_TRUE(item) << url;
    return item;
  }
  // Runs the items one by one (as the searcher does) and waits for each to be done.
  void RunAll(const std::vector<IHttpItemPtr>& items, std::chrono::milliseconds limit = 20s) {
    for (auto& i : items) i->Run();
    ASSERT_TRUE(dispatcher.RunUntil(
        [&] {
          for (auto& i : items)
            if (!itemDone.count(i->UniqueId())) return false;
          return true;
        },
        limit, 2ms));
    dispatcher.RunUntil([&] { return downloader.IsIdle(); }, 5s, 2ms);
  }

  MainDispatcher dispatcher;
  THttpDownloader downloader{dispatcher};
  std::map<int, int> itemDone, pageDone;
  std::atomic<int> headers{0};
  int runDone = 0;
};

TEST(HttpDownloaderIntegration, ContentTypeAndAddressDecideHowADocumentIsProcessed) {
  TestOriginServer server;
  server.Route("/plain", TestOriginServer::Reply(200, "a < b", {"Content-Type: text/plain"}));
  server.Route("/dir/", TestOriginServer::Respond("HTTP/1.0 200 OK\r\n\r\n<p>page</p>"));
  server.Route("/a.gif", TestOriginServer::Respond("HTTP/1.0 200 OK\r\n\r\nGIF89a\x01"));
  Harness h([](THttpDownloaderSettings& s) { s.BrowseMode = true; });
  auto plain = h.Add(server.Url("/plain"));
  auto dir = h.Add(server.Url("/dir/"));
  auto gif = h.Add(server.Url("/a.gif"));
  h.RunAll({plain, dir, gif});

  auto r = plain->Result();
  EXPECT_EQ(r->ResultType(), rtText);
  EXPECT_EQ(r->DocumentType(), dtText);
  EXPECT_EQ(r->Content().Text, "<html><body><pre>a < b</pre></body></html>");
  EXPECT_EQ(r->State(), hisDonePage);
  EXPECT_EQ(r->ResultCode(), 0);
  EXPECT_EQ(r->StatusCode(), 200);
  EXPECT_EQ(r->Headers().front().rfind("HTTP/1.1 200 ", 0), 0u);

  EXPECT_EQ(dir->Result()->ResultType(), rtHtml);
  EXPECT_EQ(dir->Result()->Content().Text, "<p>page</p>");
  EXPECT_EQ(gif->Result()->ResultType(), rtImage);
  EXPECT_EQ(gif->Result()->DocumentType(), dtBinary);
  EXPECT_EQ(gif->Result()->Content().Kind, 0);
  EXPECT_EQ(gif->Result()->Content().Stream, std::string("GIF89a\x01"));
  for (auto& i : {plain, dir, gif}) {
    EXPECT_EQ(h.itemDone[i->UniqueId()], 1);
    EXPECT_EQ(h.pageDone[i->UniqueId()], 1);
  }
  EXPECT_GE(h.headers.load(), 3);

  // A forced document type wins over the content type.
  auto forced = h.Add(server.Url("/plain"));
  forced->Params().DocumentType.Set(dtBinary);
  h.RunAll({forced});
  EXPECT_EQ(forced->Result()->ResultType(), rtText);
  EXPECT_EQ(forced->Result()->Content().Stream, "a < b");
}

TEST(HttpDownloaderIntegration, FailuresEndInOneStateWithTheirText) {
  TestOriginServer server;
  server.Route("/big", TestOriginServer::Reply(200, std::string(5000, 'x'), {"Content-Type: image/png"}));
  server.Route("/unsized", TestOriginServer::Respond("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" +
                                                     std::string(3000, 'h')));
  server.Route("/loop", TestOriginServer::Respond(
                            "HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\n\r\n"));
  Harness h([](THttpDownloaderSettings& s) { s.MaxFileSize = 1000; });
  auto missing = h.Add(server.Url("/missing"));
  auto big = h.Add(server.Url("/big"));
  auto unsized = h.Add(server.Url("/unsized"));
  auto loop = h.Add(server.Url("/loop"));
  auto refused = h.Add("http://127.0.0.1:1/");
  h.RunAll({missing, big, unsized, loop, refused});

  EXPECT_EQ(missing->Result()->State(), hisError);
  EXPECT_EQ(missing->Result()->ErrorText(), "Not found");
  EXPECT_EQ(missing->Result()->ResultCode(), 1);
  // A size known in advance skips the file, reported as such.
  EXPECT_EQ(big->Result()->State(), hisSkipped);
  EXPECT_EQ(big->Result()->ErrorText(), "File skipped");
  // A page cut by the limit keeps what came, with the reason after it.
  auto cut = unsized->Result();
  EXPECT_EQ(cut->ResultCode(), 1);
  EXPECT_EQ(cut->ErrorText(), "File exceeded 1 KB, transfer interrupted");
  auto text = cut->Content().Text;
  EXPECT_EQ(text.rfind("hhh", 0), 0u);
  EXPECT_NE(text.find("<B>File exceeded 1 KB, transfer interrupted</TABLE>"), std::string::npos);
  EXPECT_EQ(loop->Result()->ErrorText(), "Not found");
  EXPECT_EQ(refused->Result()->State(), hisError);
  EXPECT_EQ(refused->Result()->ErrorText(), "Connection refused");
  // Failed pages are still finished as pages, once.
  for (auto& i : {missing, big, unsized, loop, refused}) {
    EXPECT_EQ(h.itemDone[i->UniqueId()], 1) << i->Url();
    EXPECT_EQ(h.pageDone[i->UniqueId()], 1) << i->Url();
  }
}

TEST(HttpDownloaderIntegration, TheServerNeverSeesMoreConnectionsThanAllowed) {
  TestOriginServer server;
  std::atomic<int> now{0}, peak{0};
  server.SetFallback([&](test::TOriginConnection& c) {
    int v = ++now;
    int seen = peak.load();
    while (v > seen && !peak.compare_exchange_weak(seen, v)) {
    }
    std::this_thread::sleep_for(40ms);
    --now;
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  });
  Harness h([](THttpDownloaderSettings& s) {
    s.CruncherMode = false;
    s.MaxDownloadThreads = 3;
  });
  std::vector<IHttpItemPtr> items;
  for (int i = 0; i < 10; ++i) items.push_back(h.Add(server.Url("/p" + std::to_string(i))));
  h.downloader.Start();
  ASSERT_TRUE(h.dispatcher.RunUntil([&] { return h.runDone == 1; }, 20s, 2ms));
  EXPECT_EQ(peak.load(), 3);
  for (auto& i : items) {
    EXPECT_EQ(h.itemDone[i->UniqueId()], 1);
    EXPECT_EQ(i->Result()->Content().Text, "ok");
  }
  EXPECT_EQ(server.Requests().size(), 10u);
}

TEST(HttpDownloaderIntegration, OneItemsTimeLimitDoesNotFailAnotherTransfer) {
  TestOriginServer server;
  server.Route("/stall", [](test::TOriginConnection& c) { c.Stall(10s); });
  server.Route("/slow", [](test::TOriginConnection& c) {
    c.Drip("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789", 30ms, 8);
  });
  Harness h([](THttpDownloaderSettings& s) { s.UseTimeLimit = true; });
  auto stalled = h.Add(server.Url("/stall"));
  stalled->Params().TimeLimit.Set(150);
  auto slow = h.Add(server.Url("/slow"));
  h.RunAll({stalled, slow});
  EXPECT_EQ(stalled->Result()->State(), hisTimedOut);
  EXPECT_EQ(stalled->ThreadItem()->GetState(), tisTimedOut);
  EXPECT_EQ(stalled->Result()->ResultCode(), 1);
  EXPECT_EQ(h.itemDone[stalled->UniqueId()], 1);
  // The other transfer was blocked in a receive when the first was canceled, and still completes.
  EXPECT_EQ(slow->Result()->State(), hisDonePage);
  EXPECT_EQ(slow->Result()->Content().Text, "0123456789");
}

TEST(HttpDownloaderIntegration, StoppingLeavesFinishedPagesAlone) {
  TestOriginServer server;
  server.Route("/stall", [](test::TOriginConnection& c) { c.Stall(10s); });
  server.Route("/x", TestOriginServer::Reply(200, "x", {"Content-Type: text/html"}));
  Harness h;
  auto page = h.Add(server.Url("/x"));
  h.RunAll({page});
  auto stall = h.Add(server.Url("/stall"));
  stall->Run();
  // The manager delivers its events on this thread, so waiting here must keep pumping.
  ASSERT_TRUE(h.dispatcher.RunUntil([&] { return server.Requests().size() == 2; }, 10s, 2ms));
  h.downloader.Stop();
  ASSERT_TRUE(h.dispatcher.RunUntil([&] { return h.itemDone.count(stall->UniqueId()) > 0; }, 10s, 2ms));
  EXPECT_EQ(stall->Result()->State(), hisCanceled);
  EXPECT_EQ(h.pageDone.count(stall->UniqueId()), 0u);  // canceled pages are not reported as pages
  auto client = std::dynamic_pointer_cast<IClientItem>(page);
  ASSERT_TRUE(client);
  client->Stop();
  EXPECT_EQ(page->Result()->State(), hisDonePage);
}

TEST(HttpDownloaderIntegration, FilesGetUniqueNamesInsideTheirFolder) {
  TestOriginServer server;
  server.SetFallback(TestOriginServer::Reply(200, "<p>x</p>", {"Content-Type: text/html"}));
  test::TTempDir dir;
  Harness h([&](THttpDownloaderSettings& s) {
    s.StoreInMemory = false;
    s.DestFolder = dir.Path();
  });
  auto a = h.Add(server.Url("/a.htm"));
  auto b = h.Add(server.Url("/A.htm"));
  auto up = h.Add(server.Url("/sub/..%2F..%2Fescape"));
  auto root = h.Add(server.Url("/"));
  h.RunAll({a, b, up, root});
  // Names are taken as the transfers start, in whatever order they do.
  std::set<std::string> names = {a->Result()->LocalFileName(), b->Result()->LocalFileName()};
  EXPECT_EQ(names, (std::set<std::string>{dir.File("a.htm"), dir.File("a1.htm")}));
  EXPECT_EQ(root->Result()->LocalFileName(), dir.File("index.htm"));
  namespace fs = std::filesystem;
  auto upName = fs::path(up->Result()->LocalFileName());
  EXPECT_EQ(upName.parent_path(), fs::path(dir.Path()));
  for (auto& i : {a, b, up, root}) {
    std::ifstream in(i->Result()->LocalFileName());
    std::stringstream body;
    body << in.rdbuf();
    EXPECT_EQ(body.str(), "<p>x</p>") << i->Url();
  }
}

TEST(HttpDownloaderIntegration, PostSendsTheFormDataAndRedirectsAreRecorded) {
  TestOriginServer server;
  server.Route("/form", TestOriginServer::Respond(
                            "HTTP/1.1 302 Found\r\nLocation: /done\r\nContent-Length: 0\r\n\r\n"));
  server.Route("/done", TestOriginServer::Reply(200, "thanks", {"Content-Type: text/html"}));
  Harness h;
  auto item = h.Add(server.Url("/form"));
  item->Params().TransferMethod.Set(hmPost);
  item->Params().Vars = {"q=shoe size", "n=2"};
  h.RunAll({item});
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Method, "POST");
  EXPECT_EQ(requests[0].Body, "q=shoe%20size&n=2");
  EXPECT_EQ(requests[1].Method, "GET");
  auto r = item->Result();
  EXPECT_TRUE(r->WasRedirected());
  EXPECT_EQ(r->Visited().back(), server.Url("/done"));
  EXPECT_EQ(r->Content().Text, "thanks");
}

}  // namespace
}  // namespace vandrel

#include "http/HttpDownloader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

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
  test::TempFolder dir;
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
  EXPECT_EQ(names, (std::set<std::string>{dir / "a.htm", dir / "a1.htm"}));
  EXPECT_EQ(root->Result()->LocalFileName(), dir / "index.htm");
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

// A local file that cannot be written never takes the process down, whatever else goes wrong with the
// transfer; each item still ends in its own state with its own text.
TEST(HttpDownloaderIntegration, AnUnwritableFileEndsTheItemAsAnError) {
  TestOriginServer server;
  server.Route("/short", TestOriginServer::Respond("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                                                   "Content-Length: 100\r\n\r\nonly this"));
  server.Route("/whole", TestOriginServer::Reply(200, "<p>whole</p>", {"Content-Type: text/html"}));
  server.Route("/unsized", TestOriginServer::Respond("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n" +
                                                     std::string(3000, 'h')));
  server.Route("/stall", [](test::TOriginConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 100\r\n\r\npart");
    c.Stall(10s);
  });
  Harness h([](THttpDownloaderSettings& s) {
    s.StoreInMemory = false;
    s.MaxFileSize = 1000;
    s.UseTimeLimit = true;
  });
  auto shortBody = h.Add(server.Url("/short"), "/dev/full");
  auto whole = h.Add(server.Url("/whole"), "/dev/full");
  auto unsized = h.Add(server.Url("/unsized"), "/dev/full");
  auto timed = h.Add(server.Url("/stall"), "/dev/full");
  timed->Params().TimeLimit.Set(300);
  h.RunAll({shortBody, whole, unsized, timed});

  const std::tuple<IHttpItemPtr, THttpItemState, std::string> expected[] = {
      {shortBody, hisError, "Connection reset by peer"},
      {whole, hisError, "Cannot write file /dev/full"},
      {unsized, hisError, "File exceeded 1 KB, transfer interrupted"},
      {timed, hisTimedOut, "Operation timed out"},
  };
  for (const auto& [item, state, text] : expected) {
    auto r = item->Result();
    EXPECT_EQ(r->State(), state) << item->Url();
    EXPECT_EQ(r->ErrorText(), text) << item->Url();
    EXPECT_EQ(r->ResultCode(), 1) << item->Url();
    EXPECT_EQ(h.pageDone[item->UniqueId()], 1) << item->Url();
  }

  // Stopped by the user while the body comes in.
  auto canceled = h.Add(server.Url("/stall"), "/dev/full");
  canceled->Run();
  ASSERT_TRUE(h.dispatcher.RunUntil([&] { return server.Requests().size() == 5; }, 10s, 2ms));
  std::this_thread::sleep_for(50ms);
  h.downloader.Stop();
  ASSERT_TRUE(h.dispatcher.RunUntil([&] { return h.itemDone.count(canceled->UniqueId()) > 0; }, 10s, 2ms));
  EXPECT_EQ(canceled->Result()->State(), hisCanceled);
  EXPECT_EQ(canceled->Result()->ErrorText(), "Operation has been canceled");
}

// Records the order in which items and pages finish.
struct OrderHarness : Harness {
  explicit OrderHarness(std::function<void(THttpDownloaderSettings&)> setup) : Harness(std::move(setup)) {
    THttpDownloaderEvents e;
    e.OnItemDone = [this](const IHttpResultPtr& r) {
      ++itemDone[r->UniqueId()];
      order.push_back("item " + r->Url());
    };
    e.OnPageDone = [this](const IHttpResultPtr& r) {
      ++pageDone[r->UniqueId()];
      order.push_back("page " + r->Url());
    };
    downloader.SetEvents(e);
  }
  std::vector<std::string> order;
};

const char* const kFramePage =
    "<html><head><title>Shop</title></head>"
    "<frameset><frame src=\"left.htm\"><frame src='/right.htm'><frame src=\"left.htm\"></frameset>"
    "<body><a href=\"next.htm\">next</a><img src=\"pic.gif\"><!-- gone --></body></html>";

// Frames of a page are fetched as sub-items; the page is reported done once, after the last of them.
TEST(HttpDownloaderIntegration, APageWithFramesIsDoneAfterItsFrames) {
  TestOriginServer server;
  server.Route("/shop/index.htm", TestOriginServer::Reply(200, kFramePage, {"Content-Type: text/html"}));
  server.Route("/shop/left.htm", [](test::TOriginConnection& c) {
    std::this_thread::sleep_for(100ms);  // finishes last
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 4\r\n\r\nleft");
  });
  server.Route("/right.htm", TestOriginServer::Reply(200, "right", {"Content-Type: text/html"}));
  OrderHarness h([](THttpDownloaderSettings& s) {
    s.ParsePages = true;
    s.DownloadFrames = true;
    s.UpdateLinks = true;
  });
  auto page = h.Add(server.Url("/shop/index.htm"));
  page->Run();
  ASSERT_TRUE(h.dispatcher.RunUntil([&] { return h.pageDone.count(page->UniqueId()) > 0; }, 20s, 2ms));
  h.dispatcher.RunUntil([&] { return h.downloader.IsIdle(); }, 5s, 2ms);

  auto r = page->Result();
  const std::string left = server.Url("/shop/left.htm"), right = server.Url("/right.htm");
  EXPECT_EQ(r->Content().Frames, (std::vector<std::string>{left, right}));
  EXPECT_EQ(r->Content().Images, (std::vector<std::string>{server.Url("/shop/pic.gif")}));
  EXPECT_EQ(r->Content().Links, (std::vector<std::string>{server.Url("/shop/next.htm")}));
  EXPECT_EQ(r->SubItemCount(), 2);
  EXPECT_EQ(r->SubItemsDone(), 2);
  EXPECT_EQ(h.pageDone[page->UniqueId()], 1);
  // Each frame once, then the page.
  ASSERT_FALSE(h.order.empty());
  EXPECT_EQ(h.order.back(), "page " + page->Url());
  EXPECT_EQ(std::count(h.order.begin(), h.order.end(), "item " + left), 1);
  EXPECT_EQ(std::count(h.order.begin(), h.order.end(), "item " + right), 1);
  std::multiset<std::string> paths;
  for (const auto& q : server.Requests()) paths.insert(q.PathAndQuery());
  EXPECT_EQ(paths, (std::multiset<std::string>{"/shop/index.htm", "/shop/left.htm", "/right.htm"}));
  // In memory the frames keep their addresses, resolved as links are; the comment is gone.
  const std::string text = r->Content().Text;
  EXPECT_NE(text.find("<frame src=\"" + left + "\">"), std::string::npos) << text;
  EXPECT_NE(text.find("<a href=\"" + server.Url("/shop/next.htm") + "\">"), std::string::npos) << text;
  EXPECT_EQ(text.find("gone"), std::string::npos) << text;
}

TEST(HttpDownloaderIntegration, DownloadedFramesAndImagesAreLinkedByTheirLocalNames) {
  TestOriginServer server;
  server.Route("/shop/index.htm", TestOriginServer::Reply(200, kFramePage, {"Content-Type: text/html"}));
  server.Route("/shop/left.htm", TestOriginServer::Reply(200, "left", {"Content-Type: text/html"}));
  server.Route("/right.htm", TestOriginServer::Reply(200, "right", {"Content-Type: text/html"}));
  server.Route("/shop/pic.gif", TestOriginServer::Reply(200, "GIF89a", {"Content-Type: image/gif"}));
  test::TempFolder dir;
  test::WriteWholeFile(dir / "left.htm", "taken");  // a name already in use gets a counter
  OrderHarness h([&](THttpDownloaderSettings& s) {
    s.StoreInMemory = false;
    s.DestFolder = dir.Path();
    s.ParsePages = true;
    s.DownloadFrames = true;
    s.DownloadImages = true;
  });
  auto page = h.Add(server.Url("/shop/index.htm"));
  page->Run();
  ASSERT_TRUE(h.dispatcher.RunUntil([&] { return h.pageDone.count(page->UniqueId()) > 0; }, 20s, 2ms));
  h.dispatcher.RunUntil([&] { return h.downloader.IsIdle(); }, 5s, 2ms);
  EXPECT_EQ(page->Result()->SubItemCount(), 3);
  EXPECT_EQ(page->Result()->SubItemsDone(), 3);
  std::ifstream in(dir / "index.htm");
  std::stringstream saved;
  saved << in.rdbuf();
  const std::string text = saved.str();
  // Both uses of the left frame point at its one copy; the link not downloaded stays as written.
  EXPECT_EQ(text,
            "<html><head><title>Shop</title></head>"
            "<frameset><frame src=\"left1.htm\"><frame src='right.htm'><frame src=\"left1.htm\"></frameset>"
            "<body><a href=\"next.htm\">next</a><img src=\"pic.gif\"></body></html>");
  std::ifstream left(dir / "left1.htm");
  std::stringstream leftBody;
  leftBody << left.rdbuf();
  EXPECT_EQ(leftBody.str(), "left");
  EXPECT_TRUE(std::filesystem::exists(dir / "pic.gif"));
  EXPECT_EQ(h.order.back(), "page " + page->Url());
}

}  // namespace
}  // namespace vandrel

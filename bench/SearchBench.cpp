// A whole search (30 engines x 3 pages x 100 records on loopback) against downloading the same pages
// alone in the same pattern, and merging 10,000 records of which half repeat a key.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engines/SearchTypeCompiler.h"
#include "search/HttpSearcher.h"

namespace {

using Clock = std::chrono::steady_clock;
using vandrel::MainDispatcher;

constexpr int kEngines = 30;
constexpr int kPagesPerEngine = 3;
constexpr int kRecordsPerPage = 100;
constexpr int kMaxThreads = 10;
// Stores answer after a while, as real ones do; without it loopback makes downloading free.
constexpr auto kPageDelay = std::chrono::milliseconds(50);

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Products overlap between engines: about every second engine lists each one again.
std::string StorePage(int engine, int page) {
  std::string html = "<html><body><h1>Store " + std::to_string(engine) + "</h1><ul>\n";
  for (int i = 0; i < kRecordsPerPage; ++i) {
    int product = (page * kRecordsPerPage + i + engine * 150) % 4500;
    html += "<li><a href=\"http://www.store.test/item/" + std::to_string(product) + "\"><b>Lamp model " +
            std::to_string(product) + "</b></a> $" + std::to_string(10 + (product * 7 + engine) % 90) +
            "<br><small>Ships in 24 hours</small></li>\n";
  }
  return html + "</ul></body></html>";
}

// Serves "/s<engine>?it=<page-1>", one thread per connection, closing after each answer.
class StoreServer {
 public:
  StoreServer() {
    for (int e = 0; e < kEngines; ++e)
      for (int p = 0; p < kPagesPerEngine; ++p)
        pages_["/s" + std::to_string(e) + "?it=" + std::to_string(p)] = StorePage(e, p);
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd_, 256) != 0) {
      std::perror("store server");
      std::abort();
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }
  ~StoreServer() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    acceptor_.join();
    ::close(fd_);
    std::vector<std::thread> workers;
    {
      std::lock_guard<std::mutex> g(lock_);
      workers.swap(workers_);
    }
    for (auto& t : workers) t.join();
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  size_t PageBytes() const {
    size_t n = 0;
    for (const auto& [path, body] : pages_) n += body.size();
    return n;
  }

 private:
  void AcceptLoop() {
    while (!stop_) {
      int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) {
        if (stop_) return;
        continue;
      }
      std::lock_guard<std::mutex> g(lock_);
      workers_.emplace_back([this, c] { Serve(c); });
    }
  }
  void Serve(int c) {
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, static_cast<size_t>(n));
    }
    size_t sp = request.find(' '), sp2 = request.find(' ', sp + 1);
    std::string target =
        sp == std::string::npos || sp2 == std::string::npos ? "" : request.substr(sp + 1, sp2 - sp - 1);
    auto it = pages_.find(target);
    std::this_thread::sleep_for(kPageDelay);
    std::string body = it == pages_.end() ? std::string("<html>none</html>") : it->second;
    std::string head =
        std::string(it == pages_.end() ? "HTTP/1.1 404 Not Found" : "HTTP/1.1 200 OK") +
        "\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n\r\n";
    std::string all = head + body;
    size_t sent = 0;
    while (sent < all.size()) {
      ssize_t n = ::send(c, all.data() + sent, all.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    ::shutdown(c, SHUT_WR);
    while (::recv(c, buf, sizeof buf, 0) > 0) {
    }
    ::close(c);
  }

  std::map<std::string, std::string> pages_;
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

const char* kSearchType = R"src(Procedure Register
  Name = "lamps"
  f = AddInputField("Keywords")
  f = AddOutputField("title")
  f = AddOutputField("price")
  f.datatype = DT_FLOAT
  f = AddOutputField("url")
  f.isurl = True
  f = AddOutputField("shipping")
  f = AddOutputField("score")
  f.datatype = DT_INTEGER
  f.formula = "KeywordScore(title, shipping, '')"
  AddSortKey "price", SK_ASCENDING
  UniqueKey = "url"
  UrlReduction = REDUC_SLASH + REDUC_WWW + REDUC_DEFAULTPAGE
  Filter = "price > 0"
EndProcedure
)src";

std::string EngineSource(const std::string& base, int engine) {
  return "Procedure Init\n  ResultsPerPage = 100\nEndProcedure\nProcedure BeforeDownload\n  SourceUrl = \"" +
         base + "/s" + std::to_string(engine) + "?it=\" + StrFormat(\"%d\", Iteration)\nEndProcedure\n" +
         R"src(
Procedure AfterDownload
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
  Rules["shipping"].startmarker = "<small>"
  Rules["shipping"].endmarker = "</small>"
EndProcedure
)src";
}

struct Definitions {
  std::filesystem::path Dir;
  vandrel::TSearchTypeReader Type;
  explicit Definitions(const std::string& base) {
    Dir = std::filesystem::temp_directory_path() / ("vandrel-searchbench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(Dir);
    std::ofstream(Dir / "lamps.sst") << kSearchType;
    for (int e = 0; e < kEngines; ++e)
      std::ofstream(Dir / ("s" + std::to_string(e) + ".sen")) << EngineSource(base, e);
    if (!Type.Load((Dir / "lamps.sst").string())) {
      std::fprintf(stderr, "search type did not load\n");
      std::abort();
    }
  }
  ~Definitions() {
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
  }
};

// Pumps the dispatcher until `done`, timing each batch of tasks; the longest batch bounds the longest task.
Clock::duration Pump(MainDispatcher& d, const std::function<bool()>& done) {
  Clock::duration longest{};
  auto limit = Clock::now() + std::chrono::minutes(2);
  while (!done() && Clock::now() < limit) {
    auto t0 = Clock::now();
    size_t ran = d.ProcessPending();
    auto took = Clock::now() - t0;
    if (ran > 0)
      longest = std::max(longest, took);
    else
      std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return longest;
}

// The same pages, the same pattern (10 stores at a time, each store's pages one after another), with
// nothing done to them.
double DownloadAlone(MainDispatcher& d, const std::string& base) {
  vandrel::THttpDownloader downloader(d);
  auto s = downloader.Settings();
  s.CruncherMode = true;
  s.KeepResults = true;
  s.StoreInMemory = true;
  s.ParsePages = false;
  s.DownloadOnError = true;
  s.MaxDownloadThreads = kMaxThreads;
  downloader.SetSettings(s);
  std::map<int, int> engineOf, pageOf;
  int nextEngine = 0, finished = 0;
  std::function<void(int, int)> request = [&](int engine, int page) {
    auto item = downloader.AddItem(base + "/s" + std::to_string(engine) + "?it=" + std::to_string(page));
    item->Params().DocumentType.Set(vandrel::dtHtml);
    engineOf[item->UniqueId()] = engine;
    pageOf[item->UniqueId()] = page;
    item->Run();
  };
  vandrel::THttpDownloaderEvents events;
  events.OnItemDone = [&](const vandrel::IHttpResultPtr& r) {
    int id = r->UniqueId();
    d.Post([&, id] {
      int engine = engineOf[id], page = pageOf[id];
      if (page + 1 < kPagesPerEngine) {
        request(engine, page + 1);
      } else {
        ++finished;
        if (nextEngine < kEngines) request(nextEngine++, 0);
      }
    });
  };
  downloader.SetEvents(events);
  auto t0 = Clock::now();
  while (nextEngine < kMaxThreads) request(nextEngine++, 0);
  Pump(d, [&] { return finished == kEngines; });
  double took = Seconds(Clock::now() - t0);
  d.RunUntil([&] { return downloader.IsIdle(); }, std::chrono::seconds(10), std::chrono::milliseconds(1));
  return took;
}

void BM_SearchAgainstDownloadAlone(benchmark::State& state) {
  MainDispatcher dispatcher;
  StoreServer server;
  Definitions defs(server.Base());
  for (auto _ : state) {
    double alone = DownloadAlone(dispatcher, server.Base());

    vandrel::THttpSearchManager searcher(&defs.Type, dispatcher);
    searcher.SetMaxThreads(kMaxThreads);
    searcher.SetResultsPerEngine(kPagesPerEngine * kRecordsPerPage);
    searcher.Instance().InputFields.Find("Keywords")->SetString("lamp");
    for (int e = 0; e < kEngines; ++e) {
      std::string name = "s" + std::to_string(e);
      searcher.Engines().FindOrAdd(name, (defs.Dir / (name + ".sen")).string());
    }
    size_t merged = 0;
    int errors = 0;
    searcher.OnEngineResults = [&](vandrel::TSearchEngine& e) { merged += e.PageResults.Count(); };
    searcher.OnEngineError = [&](vandrel::TSearchEngine& e) {
      if (++errors == 1) std::fprintf(stderr, "engine %s: %s\n", e.Name.c_str(), e.ErrorText.c_str());
    };
    auto t0 = Clock::now();
    searcher.Execute();
    // Execute loads and compiles every engine, then starts the first ones: one main-thread task.
    Clock::duration execute = Clock::now() - t0;
    Clock::duration longest = Pump(dispatcher, [&] { return !searcher.Running(); });
    double total = Seconds(Clock::now() - t0);

    state.SetIterationTime(total);
    state.counters["search_s"] = total;
    state.counters["download_alone_s"] = alone;
    state.counters["ratio"] = total / alone;
    state.counters["execute_ms"] = Seconds(execute) * 1000;
    state.counters["longest_batch_ms"] = Seconds(longest) * 1000;
    state.counters["records_merged_per_s"] = static_cast<double>(merged) / total;
    state.counters["engine_errors"] = errors;
    std::printf(
        "search %.3f s, download alone %.3f s, ratio %.2f (target <= 1.5); main thread: Execute %.1f ms, "
        "longest later batch %.1f ms (target <= 50); %zu records merged into %zu masters, %.0f records/s; "
        "%zu page bytes\n",
        total, alone, total / alone, Seconds(execute) * 1000, Seconds(longest) * 1000, merged,
        searcher.ResultManager().Masters().Count(), merged / total, server.PageBytes());
  }
}
BENCHMARK(BM_SearchAgainstDownloadAlone)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// 10,000 records, every key twice: 5,000 masters of two records each.
void BM_Merge10000HalfDuplicates(benchmark::State& state) {
  Definitions defs("http://127.0.0.1:1");
  for (auto _ : state) {
    state.PauseTiming();
    vandrel::TSearchTypeInstance instance(&defs.Type);
    instance.Variables.SetInteger("ResultsPerEngine", 100);
    instance.InputFields.Find("Keywords")->SetString("lamp");
    vandrel::TSearchResultList records(&instance, true);
    for (int i = 0; i < 10000; ++i) {
      auto r = std::make_unique<vandrel::TResultRecord>(&instance, "");
      int product = i % 5000;
      r->FindField("title")->SetString("Lamp model " + std::to_string(product));
      r->FindField("price")->SetFloat(10 + (i * 7) % 90);
      r->FindField("url")->SetString((i < 5000 ? "http://www.store.test/item/" : "http://store.test/item/") +
                                     std::to_string(product) + (i < 5000 ? "" : "/"));
      r->FindField("shipping")->SetString("Ships in 24 hours");
      r->Rank = i % 100 + 1;
      records.Add(std::move(r));
    }
    vandrel::TResultManager manager;
    manager.SetInstance(&instance);
    manager.Reset();
    state.ResumeTiming();
    auto t0 = Clock::now();
    for (size_t i = 0; i < records.Count(); ++i) manager.Merge(records.At(i));
    double took = Seconds(Clock::now() - t0);
    state.PauseTiming();
    state.counters["masters"] = static_cast<double>(manager.Masters().Count());
    state.counters["records_per_s"] = 10000 / took;
    std::printf("merge: 10000 records into %zu masters in %.3f s, %.0f records/s\n",
                manager.Masters().Count(), took, 10000 / took);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Merge10000HalfDuplicates)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "search/HttpSearcher.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;

// Answers every request with a list of three products named after the request; "/stall..." hangs until
// the client goes.
class StoreServer {
 public:
  StoreServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(::listen(fd_, 64), 0);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] {
      for (;;) {
        int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        std::lock_guard<std::mutex> g(lock_);
        workers_.emplace_back([c] { Serve(c); });
      }
    });
  }
  ~StoreServer() {
    ::shutdown(fd_, SHUT_RDWR);
    acceptor_.join();
    ::close(fd_);
    for (auto& w : workers_) w.join();
  }
  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  static void Serve(int c) {
    std::string head;
    char buf[2048];
    while (head.find("\r\n\r\n") == std::string::npos) {
      ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      head.append(buf, static_cast<size_t>(n));
    }
    if (head.find(" /stall") != std::string::npos) {
      while (::recv(c, buf, sizeof buf, 0) > 0) {
      }
    } else {
      std::string target = head.substr(4, head.find(' ', 4) - 4);
      std::string body = "<ul>";
      for (int i = 0; i < 3; ++i)
        body += "<li><a href=\"http://shop.test/" + std::to_string(i) + "\"><b>" + target +
                "</b></a> $5<br></li>\n";
      body += "</ul>";
      std::string answer =
          "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
          "\r\n\r\n" + body;
      ::send(c, answer.data(), answer.size(), MSG_NOSIGNAL);
    }
    ::close(c);
  }

  int fd_ = -1;
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::mutex lock_;
  std::vector<std::thread> workers_;
};

struct Definitions {
  std::filesystem::path Dir;
  TSearchTypeReader Type;
  Definitions(const std::string& base, int engines) {
    Dir = std::filesystem::temp_directory_path() / ("vandrel-searchthreads-" + std::to_string(::getpid()));
    std::filesystem::create_directories(Dir);
    std::ofstream(Dir / "t.sst")
        << "Procedure Register\n  f = AddInputField(\"Keywords\")\n"
           "  f = AddOutputField(\"title\")\n  f = AddOutputField(\"price\")\n"
           "  f.datatype = DT_FLOAT\n  f = AddOutputField(\"url\")\n  f.isurl = True\n"
           "  UniqueKey = \"url\"\nEndProcedure\n";
    for (int e = 0; e < engines; ++e) {
      std::string path = e % 4 == 3 ? "/stall" : "/e" + std::to_string(e);
      std::ofstream(Dir / ("e" + std::to_string(e) + ".sen"))
          << "Procedure Init\n  ResultsPerPage = 3\nEndProcedure\nProcedure BeforeDownload\n  SourceUrl = \""
          << base << path << "?it=\" + StrFormat(\"%d\", Iteration)\nEndProcedure\n"
          << "Procedure AfterDownload\n  ParseType = PT_EXPRESSION\n  ParseExpression = \"<li>\"\n"
             "  Rules[\"Range\"].startmarker = \"<ul>\"\n  Rules[\"Range\"].endmarker = \"</ul>\"\n"
             "  Rules[\"url\"].key = True\n  Rules[\"url\"].startmarker = 'href=\"'\n"
             "  Rules[\"url\"].endmarker = '\"'\n  Rules[\"title\"].startmarker = \"<b>\"\n"
             "  Rules[\"title\"].endmarker = \"</b>\"\n  Rules[\"price\"].startmarker = \"$\"\n"
             "  Rules[\"price\"].endmarker = \"<\"\nEndProcedure\n";
    }
    EXPECT_TRUE(Type.Load((Dir / "t.sst").string()));
  }
  ~Definitions() {
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
  }
};

TEST(HttpSearcherThreads, ManyEnginesOnFewThreadsFinishOrStopCleanly) {
  constexpr int kEngines = 12;
  StoreServer server;
  Definitions defs(server.Base(), kEngines);
  MainDispatcher dispatcher;
  THttpSearchManager searcher(&defs.Type, dispatcher);
  searcher.SetMaxThreads(3);
  searcher.SetResultsPerEngine(9);
  searcher.SetEngineTimeLimit(300);  // the stalling stores run out of time
  searcher.Instance().InputFields.Find("Keywords")->SetString("x");
  for (int e = 0; e < kEngines; ++e) {
    std::string name = "e" + std::to_string(e);
    searcher.Engines().FindOrAdd(name, (defs.Dir / (name + ".sen")).string());
  }
  int finished = 0, errors = 0, mostActive = 0;
  searcher.OnEngineStarted = [&](TSearchEngine&) {
    mostActive = std::max(mostActive, searcher.GetActiveCount());
  };
  searcher.OnEngineDone = [&](TSearchEngine&) { ++finished; };
  searcher.OnEngineError = [&](TSearchEngine&) { ++errors; };
  searcher.Execute();
  ASSERT_TRUE(dispatcher.RunUntil([&] { return !searcher.Running(); }, 60s, 2ms));
  EXPECT_EQ(finished, kEngines);
  EXPECT_EQ(errors, kEngines / 4);  // the stalling ones timed out
  EXPECT_LE(mostActive, 3);
  EXPECT_EQ(searcher.GetActiveCount(), 0);
  EXPECT_EQ(searcher.ResultManager().Masters().Count(), 3u);

  // Again, stopped while pages are on their way.
  finished = 0;
  searcher.SetEngineTimeLimit(0);
  searcher.Execute();
  dispatcher.RunUntil([] { return false; }, 30ms, 2ms);
  searcher.Stop();
  ASSERT_TRUE(dispatcher.RunUntil([&] { return !searcher.Running(); }, 30s, 2ms));
  EXPECT_EQ(searcher.State(), ssIdle);
  EXPECT_EQ(searcher.GetActiveCount(), 0);
}

}  // namespace
}  // namespace vandrel

// Stores that never finish, trickle or answer garbage, against `fetch` and `search` run as processes: each
// ends with its reason, in bounded time and memory, and a search goes on with the other stores.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "TempFolder.h"
#include "data/DemoSite.h"
#include "http/TestOriginServer.h"
#include "http/TestPeers.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using test::TestOriginServer;
using test::TOriginConnection;

struct TMeasuredRun {
  int Status = -1;
  std::string Out, Err;
  long PeakKb = 0;  // the child's peak resident set
  std::chrono::milliseconds Elapsed{0};
};

std::string ReadAll(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the command-line program and reads its peak memory from wait4. The sanitizers' quarantine is kept
// small, so that what is measured is what the program holds rather than freed blocks held back for checks.
TMeasuredRun RunMeasured(const std::vector<std::string>& args) {
  static int counter = 0;
  const std::string base = test::ProcessTempDir() + "/hostile-" + std::to_string(++counter);
  const std::string out = base + ".out", err = base + ".err";
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    setenv("ASAN_OPTIONS", "quarantine_size_mb=1:detect_leaks=0", 1);
    std::vector<char*> argv{const_cast<char*>(VANDREL_CLI)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VANDREL_CLI, argv.data());
    _exit(127);
  }
  TMeasuredRun run;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) == pid) {
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    run.PeakKb = usage.ru_maxrss;
  }
  run.Elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  run.Out = ReadAll(out);
  run.Err = ReadAll(err);
  return run;
}

// What the program holds on top of what it holds doing nothing at all: the sanitizer builds the tests run on
// start far above a release build's size, and that start-up share is the same for every command.
long GrowthKb(const TMeasuredRun& run) {
  static const long baseline = RunMeasured({"version"}).PeakKb;
  return run.PeakKb - baseline;
}

// Far past any page limit, but bounded, so that a client without a limit still ends.
constexpr size_t kEndlessCap = 48u << 20;

// Sends `head`, then `filler` again and again until the client goes or the cap is reached.
test::TOriginScript Endless(std::string head, std::string filler) {
  return [head = std::move(head), filler = std::move(filler)](TOriginConnection& c) {
    std::string block;
    while (block.size() < 64 * 1024) block += filler;
    if (!c.Send(head)) return;
    for (size_t sent = 0; sent < kEndlessCap; sent += block.size())
      if (!c.Send(block)) return;
  };
}

TEST(HostileStoreIntegration, FetchEndsEachHostileAnswerWithItsReason) {
  TestOriginServer server;
  server.Route("/endless", Endless("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", "<p>more</p>\n"));
  server.Route("/endlessheaders",
               Endless("HTTP/1.1 200 OK\r\n", "X-More: " + std::string(100, 'h') + "\r\n"));
  server.Route("/trickle", [](TOriginConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 40\r\n\r\n");
    c.Drip(std::string(40, 't'), 1s);
  });
  server.Route("/negative",
               TestOriginServer::Respond(
                   "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-5\r\nhello\r\n0\r\n\r\n"));
  test::TempFolder dir;

  // The default limit ends the page; what came before it is kept, with the reason after it.
  auto endless = RunMeasured({"fetch", server.Url("/endless"), "-o", dir / "endless.htm"});
  EXPECT_EQ(endless.Status, 1) << endless.Err;
  EXPECT_NE(endless.Err.find("File exceeded 16384 KB, transfer interrupted"), std::string::npos)
      << endless.Err;
  EXPECT_LT(GrowthKb(endless), 100 * 1024) << endless.PeakKb;
  const std::string kept = ReadAll(dir / "endless.htm");
  EXPECT_GE(kept.size(), 16u << 20);
  EXPECT_LT(kept.size(), 17u << 20);
  EXPECT_NE(kept.find("File exceeded 16384 KB", kept.size() - 200), std::string::npos);
  // A limit of one's own.
  auto small = RunMeasured({"fetch", server.Url("/endless"), "--max-size", "100000", "-o", dir / "s.htm"});
  EXPECT_EQ(small.Status, 1);
  EXPECT_NE(small.Err.find("File exceeded 98 KB, transfer interrupted"), std::string::npos) << small.Err;

  auto headers = RunMeasured({"fetch", server.Url("/endlessheaders")});
  EXPECT_EQ(headers.Status, 1);
  EXPECT_NE(headers.Err.find("Server returned invalid reply"), std::string::npos) << headers.Err;
  EXPECT_LT(GrowthKb(headers), 100 * 1024) << headers.PeakKb;

  // --timeout bounds the whole transfer, not each read.
  auto trickle = RunMeasured({"fetch", server.Url("/trickle"), "--timeout", "2"});
  EXPECT_EQ(trickle.Status, 1);
  EXPECT_NE(trickle.Err.find("Operation timed out"), std::string::npos) << trickle.Err;
  EXPECT_LT(trickle.Elapsed, 15s);  // a byte a second would take 40

  auto negative = RunMeasured({"fetch", server.Url("/negative")});
  EXPECT_EQ(negative.Status, 1);
  EXPECT_NE(negative.Err.find("Server returned invalid reply"), std::string::npos) << negative.Err;
}

// The demo store site behind a server of the test's own, which answers one store's pages endlessly and
// relays everything else.
TEST(HostileStoreIntegration, ASearchOutlivesAStoreThatNeverEnds) {
  test::TDemoSite site;
  ASSERT_NE(site.Port, 0) << "the demo store site did not start";
  TestOriginServer server;
  server.Route("/brokenbazaar/search",
               Endless("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", "<p>more</p>\n"));
  const std::string siteAddress = site.Address();
  server.SetFallback([siteAddress](TOriginConnection& c) {
    const test::THttpAnswer answer = test::HttpGet(siteAddress + c.Request().PathAndQuery().substr(1));
    c.Send("HTTP/1.1 " + std::to_string(answer.Status) +
           " Relayed\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(answer.Body.size()) +
           "\r\n\r\n" + answer.Body);
  });

  auto run =
      RunMeasured({"search", "--data", test::CompiledDataDir(), "--define",
                   "DemoStoreAddress=" + server.Url("/"), "--root", test::ProcessTempDir() + "/hostile-root",
                   "--no-store", "--category", "buyelectronics", "--set", "Keywords=volta", "--json"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_LT(GrowthKb(run), 100 * 1024) << run.PeakKb;
  EXPECT_NE(run.Err.find("brokenbazaar: error"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("File exceeded 16384 KB, transfer interrupted"), std::string::npos) << run.Err;
  // The other stores were heard.
  EXPECT_NE(run.Out.find("\"voltmart\""), std::string::npos) << run.Out.substr(0, 2000);
  EXPECT_NE(run.Out.find("\"megamart\""), std::string::npos);
}

}  // namespace
}  // namespace vandrel

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "http/TestOriginServer.h"
#include "http/TestPeers.h"

extern char** environ;

namespace vandrel {
namespace {

using test::TestOriginServer;

struct RunResult {
  int exit = -1;
  std::string out, err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the CLI with `args`, its output captured in files of `dir`.
RunResult RunCli(const test::TempFolder& dir, std::vector<std::string> args) {
  args.insert(args.begin(), {VANDREL_CLI, "fetch"});
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  auto out = dir / "stdout", err = dir / "stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid;
  RunResult r;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  r.out = ReadFile(out);
  r.err = ReadFile(err);
  return r;
}

TEST(FetchCliIntegration, PrintsHeadersAndBodyAndExitsByTheResult) {
  TestOriginServer server;
  std::string binary("\0\x01\xff page", 8);
  server.Route("/ok", TestOriginServer::Reply(200, binary, {"Content-Type: text/html", "X-Test: yes"}));
  server.Route("/form", TestOriginServer::Reply(201, "made", {"Content-Type: text/html"}));
  test::TempFolder dir;

  auto ok = RunCli(dir, {server.Url("/ok")});
  EXPECT_EQ(ok.exit, 0) << ok.err;
  EXPECT_EQ(ok.out, binary);
  EXPECT_EQ(ok.err.rfind("HTTP/1.1 200 ", 0), 0u);
  EXPECT_NE(ok.err.find("X-Test: yes"), std::string::npos);

  // An error page is fetched as an engine gets it, and still ends with a failing exit.
  auto missing = RunCli(dir, {server.Url("/missing")});
  EXPECT_EQ(missing.exit, 1);
  EXPECT_EQ(missing.out, "not found");
  EXPECT_NE(missing.err.find("Not found"), std::string::npos);

  auto posted = RunCli(dir, {"--post", "a=1&b=two words", server.Url("/form"), "-o", dir / "body"});
  EXPECT_EQ(posted.exit, 0) << posted.err;
  EXPECT_EQ(ReadFile(dir / "body"), "made");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].Method, "POST");
  EXPECT_EQ(requests[2].Body, "a=1&b=two%20words");

  auto refused = RunCli(dir, {"http://127.0.0.1:1/", "--timeout", "5"});
  EXPECT_EQ(refused.exit, 1);
  EXPECT_NE(refused.err.find("Connection refused"), std::string::npos);
}

// Cookies are on, as for an engine: the ones a redirection sets go with the request that follows it.
TEST(FetchCliIntegration, CookiesSetByARedirectionAreSentOn) {
  TestOriginServer server;
  server.Route("/login",
               TestOriginServer::Reply(
                   302, "", {"Set-Cookie: a=1; path=/", "Set-Cookie: b=2; path=/", "Location: /home"}));
  server.Route("/home", TestOriginServer::Reply(200, "home", {"Content-Type: text/html"}));
  test::TempFolder dir;
  auto run = RunCli(dir, {server.Url("/login")});
  EXPECT_EQ(run.exit, 0) << run.err;
  EXPECT_EQ(run.out, "home");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Header("Cookie"), "");
  EXPECT_EQ(requests[1].Header("Cookie"), "b=2; a=1");
}

TEST(FetchCliIntegration, LimitsAndBadArguments) {
  TestOriginServer server;
  server.Route("/big", TestOriginServer::Reply(200, std::string(5000, 'x'), {"Content-Type: text/html"}));
  test::TempFolder dir;
  auto cut = RunCli(dir, {server.Url("/big"), "--max-size", "1000"});
  EXPECT_EQ(cut.exit, 1);
  EXPECT_NE(cut.err.find("File skipped"), std::string::npos);

  for (const auto& bad : std::vector<std::vector<std::string>>{
           {},
           {"--timeout", "x", "http://h/"},
           {"http://h/", "http://g/"},
           {"--proxy", "nohost", "http://h/"},
           {"--proxy", "p:1", "--socks", "s:2", "http://h/"},
           {"--proxy-user", "u:p", "http://h/"},
           {"--bogus", "http://h/"},
           {"ftp://h/"},
       }) {
    auto r = RunCli(dir, bad);
    EXPECT_EQ(r.exit, 2) << (bad.empty() ? "" : bad[0]);
    EXPECT_NE(r.err.find("usage:"), std::string::npos);
  }
}

TEST(FetchCliIntegration, ThroughHttpAndSocksProxies) {
  TestOriginServer server;
  server.Route("/p", TestOriginServer::Reply(200, "via proxy", {"Content-Type: text/html"}));
  test::TempFolder dir;
  test::TTinyproxy proxy("shopper", "s3cret");
  auto through =
      RunCli(dir, {server.Url("/p"), "--proxy", proxy.HostPort(), "--proxy-user", "shopper:s3cret"});
  EXPECT_EQ(through.exit, 0) << through.err;
  EXPECT_EQ(through.out, "via proxy");
  auto denied = RunCli(dir, {server.Url("/p"), "--proxy", proxy.HostPort(), "--proxy-user", "shopper:wrong"});
  EXPECT_EQ(denied.exit, 1);
  // tinyproxy refuses with 401 rather than 407.
  EXPECT_NE(denied.err.find("Unauthorized"), std::string::npos) << denied.err;

  test::TDanteSocks socks;
  auto tunneled = RunCli(dir, {server.Url("/p"), "--socks", socks.HostPort()});
  EXPECT_EQ(tunneled.exit, 0) << tunneled.err;
  EXPECT_EQ(tunneled.out, "via proxy");
}

}  // namespace
}  // namespace vandrel

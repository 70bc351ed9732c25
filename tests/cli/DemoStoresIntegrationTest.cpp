#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "TempFolder.h"
#include "cli/CliTestSupport.h"

namespace vandrel {
namespace {

using clitest::StartCli;
using clitest::WaitForExit;

struct HttpAnswer {
  int Status = 0;
  std::string Head;
  std::string Body;
};

HttpAnswer Fetch(uint16_t port, const std::string& request) {
  HttpAnswer answer;
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return answer;
  }
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string raw;
  char buffer[4096];
  ssize_t n;
  while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) raw.append(buffer, static_cast<size_t>(n));
  close(fd);
  const size_t end = raw.find("\r\n\r\n");
  if (raw.compare(0, 9, "HTTP/1.1 ") != 0 || end == std::string::npos) return answer;
  answer.Status = std::stoi(raw.substr(9, 3));
  answer.Head = raw.substr(0, end);
  answer.Body = raw.substr(end + 4);
  return answer;
}

HttpAnswer Get(uint16_t port, const std::string& target) {
  return Fetch(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

// Links of the result rows, in page order, whatever the store's layout: every product page address.
std::vector<std::string> ResultLinks(const std::string& page) {
  std::vector<std::string> links;
  const std::string marker = "href=\"http://";
  for (size_t at = page.find(marker); at != std::string::npos; at = page.find(marker, at + 1)) {
    const size_t start = at + 6;
    const std::string link = page.substr(start, page.find('"', start) - start);
    if (link.find("/item/") != std::string::npos) links.push_back(link);
  }
  return links;
}

class DemoStoresIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string ready = vandrel::test::ProcessTempDir() + "/demo-stores.port";
    std::filesystem::remove(ready);
    Port = 0;
    Pid = StartCli({"demo-stores", "--port", "0", "--once-ready-file", ready});
    for (int i = 0; i < 600 && Port == 0; ++i) {
      std::ifstream in(ready);
      unsigned port = 0;
      if (in >> port)
        Port = static_cast<uint16_t>(port);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  static void TearDownTestSuite() {
    if (Pid > 0 && WaitForExit(Pid, 0) == -1) {
      kill(Pid, SIGKILL);
      waitpid(Pid, nullptr, 0);
    }
  }
  void SetUp() override { ASSERT_NE(Port, 0) << "the demo store site did not start"; }

  static inline pid_t Pid = -1;
  static inline uint16_t Port = 0;
};

TEST_F(DemoStoresIntegration, MatchingProductsComeFirstAndPagesGoDeeper) {
  const HttpAnswer first = Get(Port, "/pageturner/search?q=mira+castell");
  ASSERT_EQ(first.Status, 200);
  EXPECT_NE(first.Head.find("Content-Length: " + std::to_string(first.Body.size())), std::string::npos);
  const auto links = ResultLinks(first.Body);
  ASSERT_EQ(links.size(), 5u);
  EXPECT_EQ(links[0], "http://books.catalog.test/item/harbour-of-glass");
  EXPECT_EQ(links[1], "http://books.catalog.test/item/night-ferry");
  EXPECT_EQ(links[2], "http://books.catalog.test/item/glass-city");
  EXPECT_NE(first.Body.find("page=2"), std::string::npos);

  const auto second = ResultLinks(Get(Port, "/pageturner/search?q=mira%20castell&page=2").Body);
  ASSERT_FALSE(second.empty());
  for (const auto& link : second) EXPECT_EQ(std::count(links.begin(), links.end(), link), 0) << link;
  EXPECT_TRUE(ResultLinks(Get(Port, "/pageturner/search?q=mira+castell&page=9").Body).empty());
}

TEST_F(DemoStoresIntegration, StoresDifferInCurrencyAddressesAndMissingPrices) {
  const std::string usd = Get(Port, "/pageturner/search?q=harbour+glass").Body;
  const std::string gbp = Get(Port, "/bookbarn/search?q=harbour+glass").Body;
  const std::string eur = Get(Port, "/leafandspine/search?q=salt+cedar").Body;
  const std::string cad = Get(Port, "/circuitnorth/search?q=volta&page=1").Body;
  EXPECT_NE(usd.find("$14.99"), std::string::npos);
  EXPECT_NE(gbp.find("&pound;11.84"), std::string::npos);
  EXPECT_NE(eur.find("11,95 &euro;"), std::string::npos);
  EXPECT_NE(cad.find("CDN$ 176.79"), std::string::npos);
  // One product, three ways of writing its address.
  EXPECT_EQ(ResultLinks(gbp).at(0), "http://www.books.catalog.test/item/harbour-of-glass");
  EXPECT_EQ(ResultLinks(eur).at(0), "http://books.catalog.test/item/salt-and-cedar/");
  EXPECT_EQ(ResultLinks(Get(Port, "/groovecrate/search?q=copper").Body).at(0),
            "http://music.catalog.test/item/copper-sky/index.html");
  EXPECT_NE(Get(Port, "/pageturner/search?q=mira+castell").Body.find("Price not available"),
            std::string::npos);
}

TEST_F(DemoStoresIntegration, AnswersAreRepeatableAndUnknownQueriesStaySmall) {
  const HttpAnswer a = Get(Port, "/reelhouse/search?q=zzzz+qqqq");
  ASSERT_EQ(a.Status, 200);
  EXPECT_EQ(ResultLinks(a.Body).size(), 4u);
  EXPECT_EQ(a.Body, Get(Port, "/reelhouse/search?q=zzzz+qqqq").Body);
  EXPECT_EQ(a.Body.find("page=2"), std::string::npos);
  // The query is echoed into the page; markup in it must not survive.
  EXPECT_EQ(Get(Port, "/reelhouse/search?q=%3Cscript%3E").Body.find("<script>"), std::string::npos);
}

TEST_F(DemoStoresIntegration, MisbehavingAndMalformedRequestsGetErrors) {
  EXPECT_EQ(Get(Port, "/brokenbazaar/search?q=volta").Status, 500);
  const HttpAnswer garbage = Get(Port, "/brokenbazaar/search?q=volta&page=2");
  EXPECT_EQ(garbage.Status, 200);
  EXPECT_EQ(garbage.Body.find("</html>"), std::string::npos);
  EXPECT_EQ(Get(Port, "/nosuchstore/search?q=x").Status, 404);
  EXPECT_EQ(Get(Port, "/pageturner/search?q=x&page=-3").Status, 400);
  EXPECT_EQ(Fetch(Port, "POST /pageturner/search HTTP/1.1\r\nContent-Length: 0\r\n\r\n").Status, 405);
  EXPECT_EQ(Fetch(Port, "nonsense\r\n\r\n").Status, 400);
  EXPECT_EQ(Fetch(Port, "GET / HTTP/1.1\r\nX: " + std::string(40000, 'a') + "\r\n\r\n").Status, 431);
  const HttpAnswer head = Fetch(Port, "HEAD /voltmart/search?q=arc HTTP/1.1\r\n\r\n");
  EXPECT_EQ(head.Status, 200);
  EXPECT_TRUE(head.Body.empty());
}

TEST_F(DemoStoresIntegration, ServesConcurrentClientsWhileOneStalls) {
  // A client that never finishes its request must not hold up the others.
  const int stalled = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(Port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(stalled, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  send(stalled, "GET /", 5, MSG_NOSIGNAL);

  const std::string expected = Get(Port, "/voltmart/search?q=volta").Body;
  std::vector<std::future<std::string>> clients;
  for (int i = 0; i < 8; ++i)
    clients.push_back(
        std::async(std::launch::async, [] { return Get(Port, "/voltmart/search?q=volta").Body; }));
  for (auto& c : clients) EXPECT_EQ(c.get(), expected);
  close(stalled);
}

TEST(DemoStoresCommandIntegration, RefusesOtherAddressesAndStopsOnSignal) {
  EXPECT_EQ(WaitForExit(StartCli({"demo-stores", "--port", "0", "--address", "0.0.0.0"}), 20), 2);
  EXPECT_EQ(WaitForExit(StartCli({"demo-stores"}), 20), 2);

  const std::string ready = vandrel::test::ProcessTempDir() + "/demo-stores-signal.port";
  std::filesystem::remove(ready);
  const pid_t pid = StartCli({"demo-stores", "--port", "0", "--once-ready-file", ready});
  for (int i = 0; i < 600 && !std::filesystem::exists(ready); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(std::filesystem::exists(ready));
  kill(pid, SIGTERM);
  const int status = WaitForExit(pid, 20);
  if (status == -1) kill(pid, SIGKILL);
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace vandrel

#include "platform/net/HttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vandrel {
namespace {

// Sends `request` raw and reads until the server closes; empty when the connection failed.
std::string Exchange(uint16_t port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval timeout{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string raw;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) raw.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return raw;
}

int StatusOf(const std::string& raw) {
  return raw.size() >= 12 ? std::stoi(raw.substr(9, 3)) : 0;
}
std::string BodyOf(const std::string& raw) {
  const size_t end = raw.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : raw.substr(end + 4);
}

// A server on a loopback port, run on its own thread until the fixture ends.
class HttpServerTest : public ::testing::Test {
 protected:
  void Start(THttpServerLimits limits) {
    limits.ServerName = "test-site";
    Server = std::make_unique<THttpServer>(
        [this](const THttpServerRequest& request) {
          if (request.Target == "/held") {
            Entered.set_value();
            Release.wait_for(std::chrono::seconds(10));
          }
          THttpServerResponse response;
          response.Body = request.Method + " " + request.Target + " [" + request.Body + "]";
          response.LogNote = "handled";
          return response;
        },
        limits,
        [this](const THttpServerRequest& request, const THttpServerResponse& response) {
          std::lock_guard<std::mutex> guard(LogLock);
          Logged.push_back(request.Method + " " + std::to_string(response.Status) + " " + response.LogNote);
        });
    std::string error;
    ASSERT_TRUE(Server->Listen("127.0.0.1", 0, error)) << error;
    ASSERT_EQ(pipe(StopPipe), 0);
    Runner = std::thread([this] { Server->Run(StopPipe[0]); });
  }
  void TearDown() override {
    if (Runner.joinable()) {
      ASSERT_EQ(write(StopPipe[1], "x", 1), 1);
      Runner.join();
      close(StopPipe[0]);
      close(StopPipe[1]);
    }
  }

  std::unique_ptr<THttpServer> Server;
  std::thread Runner;
  int StopPipe[2] = {-1, -1};
  std::mutex LogLock;
  std::vector<std::string> Logged;
  std::promise<void> Entered;      // the handler has taken "/held"
  std::promise<void> ReleaseHeld;  // lets it answer
  std::shared_future<void> Release = ReleaseHeld.get_future().share();
};

TEST_F(HttpServerTest, AnswersGetAndHeadAndRefusesOtherMethodsWhenNoBodyIsTaken) {
  Start({});
  const std::string get = Exchange(Server->Port(), "GET /a?b=1 HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(StatusOf(get), 200);
  EXPECT_NE(get.find("Server: test-site\r\n"), std::string::npos);
  EXPECT_NE(get.find("Connection: close\r\n"), std::string::npos);
  EXPECT_EQ(BodyOf(get), "GET /a?b=1 []");

  // HEAD announces the length of the body it leaves out.
  const std::string head = Exchange(Server->Port(), "HEAD /a HTTP/1.1\r\n\r\n");
  EXPECT_EQ(StatusOf(head), 200);
  EXPECT_NE(head.find("Content-Length: 10\r\n"), std::string::npos);
  EXPECT_EQ(BodyOf(head), "");

  EXPECT_EQ(StatusOf(Exchange(Server->Port(), "POST /a HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi")), 405);
  EXPECT_EQ(StatusOf(Exchange(Server->Port(), "GET /a\r\n\r\n")), 400);
  EXPECT_EQ(StatusOf(Exchange(Server->Port(), "GARBAGE\r\n\r\n")), 400);
}

TEST_F(HttpServerTest, TakesOnlyBoundedDeclaredBodies) {
  THttpServerLimits limits;
  limits.MaxRequestBody = 8;
  Start(limits);
  // The body may arrive with the head or after it; bytes past the declared length are not the body.
  EXPECT_EQ(BodyOf(Exchange(Server->Port(), "POST /u HTTP/1.1\r\nContent-Length: 5\r\n\r\nhelloEXTRA")),
            "POST /u [hello]");
  EXPECT_EQ(BodyOf(Exchange(Server->Port(), "POST /u HTTP/1.1\r\ncontent-length:  0 \r\n\r\n")),
            "POST /u []");
  EXPECT_EQ(StatusOf(Exchange(Server->Port(), "POST /u HTTP/1.1\r\n\r\nhello")), 411);
  EXPECT_EQ(
      StatusOf(Exchange(Server->Port(),
                        "POST /u HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n")),
      411);
  EXPECT_EQ(StatusOf(Exchange(Server->Port(), "POST /u HTTP/1.1\r\nContent-Length: 9\r\n\r\n123456789")),
            413);
  EXPECT_EQ(StatusOf(Exchange(Server->Port(), "POST /u HTTP/1.1\r\nContent-Length: -1\r\n\r\n")), 400);
  EXPECT_EQ(StatusOf(Exchange(Server->Port(), "POST /u HTTP/1.1\r\nContent-Length: 5x\r\n\r\nhello")), 400);
}

TEST_F(HttpServerTest, RefusesAnOversizedHeadAndLogsRefusalsToo) {
  THttpServerLimits limits;
  limits.MaxRequestHead = 1024;
  Start(limits);
  const std::string longHead = "GET / HTTP/1.1\r\nX-Filler: " + std::string(4096, 'a') + "\r\n\r\n";
  EXPECT_EQ(StatusOf(Exchange(Server->Port(), longHead)), 431);
  EXPECT_EQ(StatusOf(Exchange(Server->Port(), "GET / HTTP/1.1\r\n\r\n")), 200);
  std::lock_guard<std::mutex> guard(LogLock);
  EXPECT_EQ(Logged, (std::vector<std::string>{" 431 ", "GET 200 handled"}));
}

TEST_F(HttpServerTest, ClientsPastTheConnectionLimitAreRefusedAtOnce) {
  THttpServerLimits limits;
  limits.MaxConnections = 1;
  Start(limits);
  std::string held;
  std::thread first([&] { held = Exchange(Server->Port(), "GET /held HTTP/1.1\r\n\r\n"); });
  EXPECT_EQ(Entered.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(StatusOf(Exchange(Server->Port(), "GET /other HTTP/1.1\r\n\r\n")), 503);
  ReleaseHeld.set_value();
  first.join();
  EXPECT_EQ(BodyOf(held), "GET /held []");
}

TEST(HttpServerListenTest, RefusesAnAddressThatIsNotALiteral) {
  THttpServer server([](const THttpServerRequest&) { return THttpServerResponse{}; }, {});
  std::string error;
  EXPECT_FALSE(server.Listen("localhost", 0, error));
  EXPECT_EQ(error, "not an IP address: localhost");
}

}  // namespace
}  // namespace vandrel

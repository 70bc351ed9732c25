// The socket layer against real peers: cancel and time-out, socket errors, SOCKS 4 and TLS.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "http/HttpErrors.h"
#include "http/TestOriginServer.h"
#include "http/TestPeers.h"
#include "http/ZSocket.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using test::TestOriginServer;

// Opens, connects and sends a request line to `server`, then waits for the answer's first line.
std::string FirstLine(TZSocket& socket) {
  socket.Open();
  socket.Connect();
  socket.SendLine("GET /x HTTP/1.1\r\nHost: t\r\n");
  return socket.ReadLine();
}

std::string ErrorOf(TZSocket& socket) {
  try {
    FirstLine(socket);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

TEST(ZSocketIntegration, CancelEndsOneStalledTransferAndLeavesTheOther) {
  TestOriginServer server;
  server.Route("/x", [](test::TOriginConnection& c) { c.Stall(5s); });
  TZSocket first, second;
  first.Host = second.Host = server.HostPort();
  auto run = [](TZSocket& s) { return std::async(std::launch::async, [&s] { return ErrorOf(s); }); };
  auto a = run(first);
  auto b = run(second);
  ASSERT_TRUE(server.WaitForRequests(2, 5s));
  const auto start = std::chrono::steady_clock::now();
  first.Cancel();
  ASSERT_EQ(a.wait_for(1s), std::future_status::ready);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_EQ(a.get(), "Operation has been canceled");
  EXPECT_EQ(b.wait_for(300ms), std::future_status::timeout) << "the other transfer must keep waiting";
  EXPECT_FALSE(second.Canceled());
  second.Cancel();
  EXPECT_EQ(b.get(), "Operation has been canceled");
}

TEST(ZSocketIntegration, CancelStaysInForceForLaterConnections) {
  TestOriginServer server;
  server.Route("/x", TestOriginServer::Reply(200, "ok"));
  TZSocket socket;
  socket.Host = server.HostPort();
  socket.Cancel();
  EXPECT_EQ(ErrorOf(socket), "Operation has been canceled");
  EXPECT_EQ(ErrorOf(socket), "Operation has been canceled");
}

TEST(ZSocketIntegration, StalledPeerTimesOut) {
  TestOriginServer server;
  server.Route("/x", [](test::TOriginConnection& c) { c.Stall(5s); });
  TZSocket socket;
  socket.Host = server.HostPort();
  socket.TimeOut = 1;
  std::string announced;
  socket.OnError = [&](const std::string& m) { announced = m; };
  EXPECT_EQ(ErrorOf(socket), "Operation timed out");
  EXPECT_EQ(announced, "Operation timed out");
  EXPECT_TRUE(socket.TimedOut());
}

TEST(ZSocketIntegration, SocketFailuresCarryTheirTexts) {
  TestOriginServer server;
  server.Route("/x", [](test::TOriginConnection& c) { c.Reset(); });
  TZSocket reset;
  reset.Host = server.HostPort();
  EXPECT_EQ(ErrorOf(reset), "Connection reset by peer");

  TZSocket refused;
  refused.Host = "127.0.0.1:" + std::to_string(test::FreeLoopbackPort());
  EXPECT_EQ(ErrorOf(refused), "Connection refused");

  TZSocket noHost;
  EXPECT_EQ(ErrorOf(noHost), "Server name is required");

  TZSocket noService;
  noService.Host = "127.0.0.1";
  EXPECT_EQ(ErrorOf(noService), "Service name is required");

  TZSocket noHostPart;
  noHostPart.Host = ":8080";
  EXPECT_EQ(ErrorOf(noHostPart), "Error resolving remote host");

  TZSocket unknown;
  unknown.Host = "no-such-host.invalid:80";
  const std::string lookupError = ErrorOf(unknown);
  EXPECT_TRUE(lookupError == "Host not found" || lookupError == "Non-authoritative host not found")
      << lookupError;

  TZSocket notOpen;
  try {
    notOpen.ReadLine();
    ADD_FAILURE() << "read without a connection";
  } catch (const ESocketError& e) {
    EXPECT_STREQ(e.what(), "You have to connect to the server first");
  }
}

TEST(ZSocketIntegration, OverlongLineIsRefused) {
  TestOriginServer server;
  server.Route("/x", TestOriginServer::Respond(std::string(TagSocket::kMaxLineLength + 10, 'a') + "\r\n"));
  TZSocket socket;
  socket.Host = server.HostPort();
  EXPECT_EQ(ErrorOf(socket), "Server returned invalid reply");
}

TEST(ZSocketIntegration, SocksProxyTunnelsToTheDestination) {
  TestOriginServer server;
  server.Route("/x", TestOriginServer::Reply(200, "ok"));
  test::TDanteSocks socks;
  TZSocket socket;
  socket.Host = server.HostPort();
  socket.SetSocksServer("socks://" + socks.HostPort());
  EXPECT_EQ(FirstLine(socket), "HTTP/1.1 200 Test");

  TZSocket nowhere;
  nowhere.Host = "127.0.0.1:" + std::to_string(test::FreeLoopbackPort());
  nowhere.SetSocksServer(socks.HostPort());
  EXPECT_EQ(ErrorOf(nowhere), "SOCKS request failed");

  TZSocket noPort;
  EXPECT_THROW(noPort.SetSocksServer("127.0.0.1"), ESocketError);
}

class TTlsSocket : public TZSocket {
 public:
  using TagSocket::StartTls;
  // Connects to `port` and starts TLS for `serverName`; the first answer line, or the failure's text.
  std::string Fetch(uint16_t port, const std::string& serverName) {
    try {
      Host = "127.0.0.1:" + std::to_string(port);
      Open();
      Connect();
      StartTls(serverName);
      SendLine("GET /hello.txt HTTP/1.0\r\n");
      const std::string line = ReadLine();
      Close();  // s_server serves one connection at a time
      return line;
    } catch (const std::exception& e) {
      Close();
      return e.what();
    }
  }
};

TEST(ZSocketIntegration, TlsTrustsOnlyAVerifiedServerForItsName) {
  test::TTestCa ca;
  test::TTlsFileServer server(ca);
  server.AddFile("hello.txt", "hello");
  test::TTlsFileServer stranger(ca, true);

  TTlsSocket good;
  good.TlsCaFile = ca.CaFile();
  EXPECT_EQ(good.Fetch(server.Port(), "localhost"), "HTTP/1.0 200 ok");

  TTlsSocket wrongName;
  wrongName.TlsCaFile = ca.CaFile();
  EXPECT_EQ(wrongName.Fetch(server.Port(), "127.0.0.1"), "Server certificate is not trusted");

  TTlsSocket untrusted;
  untrusted.TlsCaFile = ca.CaFile();
  EXPECT_EQ(untrusted.Fetch(stranger.Port(), "localhost"), "Server certificate is not trusted");

  TTlsSocket systemStore;  // the test CA is in no system store
  EXPECT_EQ(systemStore.Fetch(server.Port(), "localhost"), "Server certificate is not trusted");

  // A plain server answers the client hello with text.
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  const uint16_t plainPort = ntohs(addr.sin_port);
  std::thread plain([listener] {
    const int fd = accept(listener, nullptr, nullptr);
    char buf[512];
    [[maybe_unused]] ssize_t n = recv(fd, buf, sizeof buf, 0);
    const char reply[] = "HTTP/1.1 400 Bad Request\r\n\r\n";
    n = send(fd, reply, sizeof reply - 1, MSG_NOSIGNAL);
    close(fd);
  });
  TTlsSocket notTls;
  notTls.TlsCaFile = ca.CaFile();
  notTls.TimeOut = 2;
  EXPECT_EQ(notTls.Fetch(plainPort, "localhost"), "TLS handshake failed");
  plain.join();
  close(listener);
}

}  // namespace
}  // namespace vandrel

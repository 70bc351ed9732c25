// The HTTP client against real peers: request bytes, redirections, bodies, limits, cancel, proxies and TLS.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "http/CookieManager.h"
#include "http/HttpErrors.h"
#include "http/TestOriginServer.h"
#include "http/TestPeers.h"
#include "http/ZHttp.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using test::TestOriginServer;
using test::TOriginConnection;

const std::string kAgent = "User-Agent: Mozilla/4.5 [en] (Win98; I)\r\n";

// A client that keeps its body in memory, with the outcome of Execute as text.
struct TClient {
  TZHttp Http;
  std::vector<int> Percents;
  TClient() {
    Http.Storage = hsMemory;
    Http.TimeOut = 5;
    Http.OnProgress = [this](int perc, int64_t) { Percents.push_back(perc); };
  }
  // The result code, or the text of the failure.
  std::string Run(const std::string& url) {
    try {
      Http.SetURL(url);
      return std::to_string(Http.Execute());
    } catch (const std::exception& e) {
      return e.what();
    }
  }
};

TEST(ZHttpIntegration, DirectGetSendsExactBytes) {
  TestOriginServer server;
  server.Route("/a%20b", TestOriginServer::Reply(
                             200, "hello", {"Content-Type: text/html", "X-Name: =?ISO-8859-1?Q?J=F6rg?="}));
  server.SetFallback(TestOriginServer::Reply(200, "hello"));
  TClient client;
  client.Http.Vars = {"q=shoe size"};
  EXPECT_EQ(client.Run(server.Url("/a b")), "200");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].Raw, "GET /a%20b?q=shoe%20size HTTP/1.1\r\nHost: " + server.HostPort() +
                                          "\r\nAccept: */*\r\nConnection: close\r\n" + kAgent + "\r\n");
  EXPECT_TRUE(client.Http.Succeeded);
  EXPECT_EQ(client.Http.Body, "hello");
  EXPECT_EQ(client.Http.BodySize, 5);
  EXPECT_EQ(client.Http.ContentLength, 5);
  EXPECT_EQ(client.Http.ContentType, "text/html");
  EXPECT_EQ(client.Http.GetHeaderValue("x-name"), "J\xF6rg");
  EXPECT_EQ(client.Http.Headers.Lines.front(), "HTTP/1.1 200 Test");
}

TEST(ZHttpIntegration, ControlBytesCannotSplitTheRequest) {
  TestOriginServer server;
  server.SetFallback(TestOriginServer::Reply(200, ""));
  TClient client;
  EXPECT_EQ(client.Run(server.Url("/a\r\nX-Evil: 1\x7f")), "200");
  TClient header;
  header.Http.ExtraHeaders = {"X-A: 1\r\nX-Evil: 2"};
  header.Http.UserAgent = "agent\nX-Evil: 3";
  EXPECT_EQ(header.Run(server.Url("/h")), "200");
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(server.Requests()[0].Target, "/a%0D%0AX-Evil:%201%7F");
  EXPECT_EQ(server.Requests()[0].Header("X-Evil"), "");
  EXPECT_EQ(server.Requests()[1].Header("X-A"), "1  X-Evil: 2");
  EXPECT_EQ(server.Requests()[1].Header("X-Evil"), "");
}

TEST(ZHttpIntegration, ProxiedGetSendsAbsoluteTargetAndCredentials) {
  TestOriginServer proxy;  // records what a proxy would receive
  proxy.SetFallback(TestOriginServer::Reply(200, "via proxy"));
  TClient client;
  client.Http.SetProxyServer("http://" + proxy.HostPort());
  client.Http.NoCache = true;
  client.Http.ProxyUserName = "alice";
  client.Http.ProxyPassword = std::string(300, 'p');  // long credentials are encoded whole
  client.Http.Vars = {"q=shoe size"};
  EXPECT_EQ(client.Run("http://shop.test/a b"), "200");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0].Raw,
            "GET http://shop.test/a%20b?q=shoe%20size HTTP/1.1\r\nHost: shop.test\r\nAccept: */*\r\n"
            "Connection: close\r\n" +
                kAgent + "Pragma: no-cache\r\nProxy-Authorization: Basic " +
                EncodeBase64("alice:" + std::string(300, 'p')) + "\r\n\r\n");
  EXPECT_EQ(client.Http.Body, "via proxy");
}

TEST(ZHttpIntegration, PostSendsFormDataOrStream) {
  TestOriginServer server;
  server.SetFallback(TestOriginServer::Reply(200, "done"));
  TClient form;
  form.Http.Method = hmPost;
  form.Http.Vars = {"a=1", "b=x y"};
  form.Http.UserName = "u";
  form.Http.Password = "p";
  EXPECT_EQ(form.Run(server.Url("/form")), "200");
  TClient stream;
  stream.Http.Method = hmPost;
  stream.Http.PostStream = std::string(5000, 'z');
  stream.Http.ExtraHeaders = {"X-One: 1", "", "X-Two: 2"};
  EXPECT_EQ(stream.Run(server.Url("/upload")), "200");
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(server.Requests()[0].Raw, "POST /form HTTP/1.1\r\nHost: " + server.HostPort() +
                                          "\r\nAccept: */*\r\nConnection: close\r\n" + kAgent +
                                          "Authorization: Basic dTpw\r\nContent-Type: "
                                          "application/x-www-form-urlencoded\r\nContent-Length: 11\r\n\r\n"
                                          "a=1&b=x%20y");
  EXPECT_EQ(server.Requests()[1].Head, "POST /upload HTTP/1.1\r\nHost: " + server.HostPort() +
                                           "\r\nAccept: */*\r\nConnection: close\r\n" + kAgent +
                                           "X-One: 1\r\nX-Two: 2\r\nContent-Type: multipart/form-data\r\n"
                                           "Content-Length: 5000\r\n\r\n");
  EXPECT_EQ(server.Requests()[1].Body, std::string(5000, 'z'));
}

TEST(ZHttpIntegration, RedirectionRules) {
  TestOriginServer server;
  auto redirect = [](int code, std::string to) {
    return TestOriginServer::Reply(code, "", {"Location: " + to});
  };
  server.Route("/post302", redirect(302, "landing"));
  server.Route("/post301", redirect(301, "/landing"));
  server.Route("/loop1", redirect(302, "/loop2"));
  server.Route("/loop2", redirect(303, server.Url("/loop1")));
  server.Route("/ftp", redirect(302, "ftp://files.test/x"));
  server.Route("/landing", TestOriginServer::Reply(200, "landed"));
  for (int i = 0; i < 30; ++i)
    server.Route("/hop" + std::to_string(i), redirect(302, "/hop" + std::to_string(i + 1)));

  TClient post302;
  post302.Http.Method = hmPost;
  post302.Http.Vars = {"a=1"};
  EXPECT_EQ(post302.Run(server.Url("/post302")), "200");
  EXPECT_EQ(post302.Http.Body, "landed");
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].Method + " " + requests[1].Target, "GET /landing");
  EXPECT_EQ(requests[1].Body, "");

  TClient post301;
  post301.Http.Method = hmPost;
  post301.Http.Vars = {"a=1"};
  EXPECT_EQ(post301.Run(server.Url("/post301")), "200");
  requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[3].Method, "POST");
  EXPECT_EQ(requests[3].Header("Content-Length"), "0");

  struct TRefusal {
    const char* Path;
    bool NoRedirections;
    bool HandlerFollows;
    size_t Requests;  // requests the refused chain made
  };
  const TRefusal refusals[] = {
      {"/loop1", false, true, 2},     // back to an address already visited
      {"/post302", true, true, 1},    // redirections switched off
      {"/post302", false, false, 1},  // the handler says no
      {"/ftp", false, true, 1},       // not an http address
      {"/hop0", false, true, 21},     // chains end after twenty redirections
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.Path);
    const size_t before = server.Requests().size();
    TClient client;
    client.Http.NoRedirections = r.NoRedirections;
    std::vector<std::string> offered;
    client.Http.OnRedirection = [&](const std::string& url, bool& follow) {
      offered.push_back(url);
      follow = r.HandlerFollows;
    };
    EXPECT_EQ(client.Run(server.Url(r.Path)), "404");
    EXPECT_EQ(client.Http.StatusCode, 404);
    EXPECT_FALSE(client.Http.Succeeded);
    EXPECT_EQ(server.Requests().size() - before, r.Requests);
  }
}

TEST(ZHttpIntegration, CredentialsStayWithTheirHost) {
  TestOriginServer first, second;
  first.Route("/same", TestOriginServer::Reply(302, "", {"Location: /end"}));
  first.Route("/away",
              TestOriginServer::Reply(
                  302, "", {"Location: http://localhost:" + std::to_string(second.Port()) + "/end"}));
  first.Route("/end", TestOriginServer::Reply(200, ""));
  second.SetFallback(TestOriginServer::Reply(200, ""));
  for (const char* path : {"/same", "/away"}) {
    TClient client;
    client.Http.UserName = "u";
    client.Http.Password = "p";
    EXPECT_EQ(client.Run(first.Url(path)), "200");
  }
  ASSERT_EQ(first.Requests().size(), 3u);
  EXPECT_EQ(first.Requests()[1].Header("Authorization"), "Basic dTpw");
  ASSERT_EQ(second.Requests().size(), 1u);
  EXPECT_EQ(second.Requests()[0].Header("Authorization"), "");
}

TEST(ZHttpIntegration, BodiesChunkedSizedAndUntilClose) {
  TestOriginServer server;
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  server.Route("/chunked", TestOriginServer::Respond(chunked + "5\r\nhello\r\n0\r\n\r\n"));
  server.Route("/ext", TestOriginServer::Respond(chunked + "5;name=v\r\nhello\r\n6 \r\n world\r\n0\r\n\r\n"));
  server.Route("/close", TestOriginServer::Respond("HTTP/1.0 200 OK\r\n\r\nuntil close"));
  server.Route("/drip", [](TOriginConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 20000\r\n\r\n");
    c.Drip(std::string(20000, 'd'), 1ms, 4000);
  });
  server.Route("/continue", TestOriginServer::Respond("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\n"
                                                      "Content-Length: 2\r\n\r\nok"));
  server.Route("/nostatus", TestOriginServer::Respond("hello\r\n\r\n"));

  TClient c1;
  EXPECT_EQ(c1.Run(server.Url("/chunked")), "200");
  EXPECT_EQ(c1.Http.Body, "hello");
  EXPECT_EQ(c1.Percents, (std::vector<int>{0, -1}));

  TClient c2;
  EXPECT_EQ(c2.Run(server.Url("/ext")), "200");
  EXPECT_EQ(c2.Http.Body, "hello world");

  TClient c3;
  EXPECT_EQ(c3.Run(server.Url("/close")), "200");
  EXPECT_EQ(c3.Http.Body, "until close");

  test::TempFolder dir;
  TClient c4;
  c4.Http.Storage = hsFile;
  c4.Http.LocalFileName = dir / "body.bin";
  EXPECT_EQ(c4.Run(server.Url("/drip")), "200");
  EXPECT_EQ(std::filesystem::file_size(dir / "body.bin"), 20000u);
  EXPECT_EQ(c4.Http.BodySize, 20000);
  EXPECT_EQ(c4.Percents.front(), 0);
  EXPECT_EQ(c4.Percents.back(), 100);

  TClient c5;
  EXPECT_EQ(c5.Run(server.Url("/continue")), "201");
  EXPECT_EQ(c5.Http.Body, "ok");

  TClient c6;
  EXPECT_EQ(c6.Run(server.Url("/nostatus")), "-1");
  EXPECT_FALSE(c6.Http.Succeeded);
}

TEST(ZHttpIntegration, HeadAnsweredWith405IsRetriedAsGet) {
  TestOriginServer server;
  server.SetFallback([](TOriginConnection& c) {
    if (c.Request().Method == "HEAD") {
      c.Send("HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n");
    } else {
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nContent-Type: text/plain\r\n\r\nbody");
    }
  });
  TClient client;
  client.Http.Method = hmHead;
  EXPECT_EQ(client.Run(server.Url("/h")), "200");
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(server.Requests()[0].Method, "HEAD");
  EXPECT_EQ(server.Requests()[1].Method, "GET");
  EXPECT_EQ(client.Http.ContentType, "text/plain");
  EXPECT_EQ(client.Http.Body, "");
}

TEST(ZHttpIntegration, SizeLimits) {
  TestOriginServer server;
  server.Route("/sized", TestOriginServer::Reply(200, std::string(5000, 's')));
  server.Route("/unsized", TestOriginServer::Respond("HTTP/1.1 200 OK\r\n\r\n" + std::string(5000, 'u')));
  server.Route("/onechunk",
               TestOriginServer::Respond("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1388\r\n" +
                                         std::string(5000, 'c') + "\r\n0\r\n\r\n"));
  std::vector<std::string> announced;
  TClient skipped;
  skipped.Http.MaxFileSize = 1000;
  skipped.Http.OnError = [&](const std::string& m) { announced.push_back(m); };
  EXPECT_EQ(skipped.Run(server.Url("/sized")), "File skipped");
  EXPECT_EQ(skipped.Http.Body, "");
  EXPECT_EQ(announced, std::vector<std::string>{"File skipped"});

  for (const char* path : {"/unsized", "/onechunk"}) {
    SCOPED_TRACE(path);
    TClient exceeded;
    exceeded.Http.MaxFileSize = 1000;
    EXPECT_EQ(exceeded.Run(server.Url(path)), "File exceeded 1 KB, transfer interrupted");
    EXPECT_TRUE(exceeded.Http.SizeExceeded());
    EXPECT_FALSE(exceeded.Http.Succeeded);
    EXPECT_GT(exceeded.Http.BodySize, 1000);
  }
}

TEST(ZHttpIntegration, BrokenAnswersAreErrors) {
  TestOriginServer server;
  server.Route("/short", [](TOriginConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this");
  });
  server.Route("/shortchunk", TestOriginServer::Respond(
                                  "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n"));
  server.Route("/reset", [](TOriginConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\npart");
    std::this_thread::sleep_for(50ms);
    c.Reset();
  });
  std::string bigHead = "HTTP/1.1 200 OK\r\n";
  while (bigHead.size() <= TagSocket::kMaxHeaderBlock)
    bigHead += "X-Filler: " + std::string(1000, 'f') + "\r\n";
  server.Route("/bighead", TestOriginServer::Respond(bigHead + "\r\n"));

  const std::pair<const char*, const char*> cases[] = {
      {"/short", "Connection reset by peer"},
      {"/shortchunk", "Connection reset by peer"},
      {"/reset", "Connection reset by peer"},
      {"/bighead", "Server returned invalid reply"},
  };
  for (const auto& [path, text] : cases) {
    TClient client;
    EXPECT_EQ(client.Run(server.Url(path)), text) << path;
    EXPECT_FALSE(client.Http.Succeeded);
  }
  TClient ftp;
  EXPECT_EQ(ftp.Run("ftp://files.test/x"), "Invalid URL");
  TClient refused;
  EXPECT_EQ(refused.Run("http://127.0.0.1:" + std::to_string(test::FreeLoopbackPort()) + "/"),
            "Connection refused");
}

// A peer that stops in the middle of its answer has not answered, whichever part it cut.
TEST(ZHttpIntegration, CutHeadersAndBadChunkSizesAreErrors) {
  TestOriginServer server;
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  server.Route("/nohead", TestOriginServer::Respond("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"));
  server.Route("/midline", TestOriginServer::Respond("HTTP/1.1 200 OK\r\nContent-Ty"));
  server.Route("/negative", TestOriginServer::Respond(chunked + "-5\r\nhello\r\n0\r\n\r\n"));
  server.Route("/nothex", TestOriginServer::Respond(chunked + "zz\r\nhello\r\n0\r\n\r\n"));
  const std::pair<const char*, const char*> cases[] = {
      {"/nohead", "Connection reset by peer"},
      {"/midline", "Connection reset by peer"},
      {"/negative", "Server returned invalid reply"},
      {"/nothex", "Server returned invalid reply"},
  };
  for (const auto& [path, text] : cases) {
    TClient client;
    EXPECT_EQ(client.Run(server.Url(path)), text) << path;
    EXPECT_FALSE(client.Http.Succeeded) << path;
  }
  // Nothing at all is no status line, as before.
  server.Route("/silent", TestOriginServer::Respond(""));
  TClient silent;
  EXPECT_EQ(silent.Run(server.Url("/silent")), "-1");
}

TEST(ZHttpIntegration, PortsOutsideTheRangeAreInvalidAddresses) {
  TestOriginServer server;
  server.SetFallback(TestOriginServer::Reply(200, "ok"));
  for (const char* port : {"0", "65536", "70000", "-1", "8x", "99999999999"}) {
    TClient client;
    EXPECT_EQ(client.Run(std::string("http://127.0.0.1:") + port + "/"), "Invalid URL") << port;
  }
  EXPECT_TRUE(server.Requests().empty());
  TClient good;
  EXPECT_EQ(good.Run(server.Url("/")), "200");
}

TEST(ZHttpIntegration, TimeOutAndCancelArePerTransfer) {
  TestOriginServer server;
  server.Route("/stall", [](TOriginConnection& c) { c.Stall(10s); });
  server.Route("/drip", [](TOriginConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
    c.Drip(std::string(1000, 'd'), 50ms);
  });
  TClient slow;
  slow.Http.TimeOut = 1;
  EXPECT_EQ(slow.Run(server.Url("/stall")), "Operation timed out");
  EXPECT_FALSE(slow.Http.Succeeded);

  TClient a, b;
  auto fa = std::async(std::launch::async, [&] { return a.Run(server.Url("/stall")); });
  auto fb = std::async(std::launch::async, [&] { return b.Run(server.Url("/drip")); });
  ASSERT_TRUE(server.WaitForRequests(3, 5s));
  std::this_thread::sleep_for(100ms);
  const auto start = std::chrono::steady_clock::now();
  a.Http.Cancel();
  ASSERT_EQ(fa.wait_for(1s), std::future_status::ready);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_EQ(fa.get(), "Operation has been canceled");
  EXPECT_FALSE(a.Http.Succeeded);
  EXPECT_EQ(fb.wait_for(200ms), std::future_status::timeout);
  b.Http.Cancel();
  EXPECT_EQ(fb.get(), "Operation has been canceled");
  EXPECT_GT(b.Http.BodySize, 0);
}

TEST(ZHttpIntegration, CookiesRoundTrip) {
  TestOriginServer server;
  server.Route("/login", TestOriginServer::Reply(302, "",
                                                 {"Set-Cookie: id=5; Max-Age=60; Path=/",
                                                  "Set-Cookie: s=1; secure", "Location: /home"}));
  server.SetFallback(TestOriginServer::Reply(200, "home"));
  TCookieManager cookies;
  TClient client;
  client.Http.UseCookies = true;
  client.Http.OnReceiveCookie = [&](const TCookie& c) { cookies.Receive(c); };
  client.Http.OnSendCookie = [&](const std::string& url, std::string& text) {
    text = cookies.GetCookieString(url);
  };
  EXPECT_EQ(client.Run(server.Url("/login")), "200");
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(server.Requests()[0].Header("Cookie"), "");
  EXPECT_EQ(server.Requests()[1].Header("Cookie"), "id=5");  // the secure one stays off clear text
}

TEST(ZHttpIntegration, ThroughTinyproxyWithBasicAuthentication) {
  TestOriginServer server;
  server.SetFallback(TestOriginServer::Reply(200, "origin"));
  test::TTinyproxy proxy("alice", "s3cret");
  TClient good;
  good.Http.SetProxyServer(proxy.HostPort());
  good.Http.ProxyUserName = "alice";
  good.Http.ProxyPassword = "s3cret";
  EXPECT_EQ(good.Run(server.Url("/p")), "200");
  EXPECT_EQ(good.Http.Body, "origin");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].Header("Proxy-Authorization"), "");

  TClient none;
  none.Http.SetProxyServer(proxy.HostPort());
  EXPECT_EQ(none.Run(server.Url("/p")), "407");
  EXPECT_EQ(HttpStatusText(none.Http.StatusCode), "Proxy authentication required");
  EXPECT_FALSE(none.Http.Succeeded);

  TClient bad;  // tinyproxy answers wrong credentials with 401
  bad.Http.SetProxyServer(proxy.HostPort());
  bad.Http.ProxyUserName = "alice";
  bad.Http.ProxyPassword = "wrong";
  EXPECT_EQ(bad.Run(server.Url("/p")), "401");
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(ZHttpIntegration, ThroughDanteSocks4) {
  TestOriginServer server;
  server.SetFallback(TestOriginServer::Reply(200, "origin"));
  test::TDanteSocks socks;
  TClient client;
  client.Http.SetSocksServer(socks.HostPort());
  client.Http.NoCache = true;
  EXPECT_EQ(client.Run(server.Url("/s")), "200");
  EXPECT_EQ(client.Http.Body, "origin");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].Header("Pragma"), "no-cache");
}

TEST(ZHttpIntegration, HttpsDirectThroughProxiesAndAfterRedirection) {
  test::TTestCa ca;
  test::TTlsFileServer tls(ca);
  tls.AddFile("hello.txt", "hello over tls");
  const std::string secureUrl = "https://localhost:" + std::to_string(tls.Port()) + "/hello.txt";
  auto secureClient = [&] {
    auto client = std::make_unique<TClient>();
    client->Http.TlsCaFile = ca.CaFile();
    return client;
  };

  auto direct = secureClient();
  EXPECT_EQ(direct->Run(secureUrl), "200");
  EXPECT_EQ(direct->Http.Body, "hello over tls");

  auto wrongName = secureClient();
  EXPECT_EQ(wrongName->Run("https://127.0.0.1:" + std::to_string(tls.Port()) + "/hello.txt"),
            "Server certificate is not trusted");

  test::TTinyproxy proxy("alice", "s3cret");
  auto tunnelled = secureClient();
  tunnelled->Http.SetProxyServer(proxy.HostPort());
  tunnelled->Http.ProxyUserName = "alice";
  tunnelled->Http.ProxyPassword = "s3cret";
  EXPECT_EQ(tunnelled->Run(secureUrl), "200");
  EXPECT_EQ(tunnelled->Http.Body, "hello over tls");

  auto refusedTunnel = secureClient();
  refusedTunnel->Http.SetProxyServer(proxy.HostPort());
  EXPECT_EQ(refusedTunnel->Run(secureUrl), "407");

  test::TDanteSocks socks;
  auto socksTls = secureClient();
  socksTls->Http.SetSocksServer(socks.HostPort());
  EXPECT_EQ(socksTls->Run(secureUrl), "200");
  EXPECT_EQ(socksTls->Http.Body, "hello over tls");

  TestOriginServer plain;
  plain.SetFallback(TestOriginServer::Reply(301, "", {"Location: " + secureUrl}));
  auto upgraded = secureClient();
  EXPECT_EQ(upgraded->Run(plain.Url("/old")), "200");
  EXPECT_EQ(upgraded->Http.Body, "hello over tls");
  EXPECT_EQ(upgraded->Http.URL(), secureUrl);
}

}  // namespace
}  // namespace vandrel

// The HTTP/1.1 client of one transfer: request, proxies, redirections, response headers and body.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "http/CookieParser.h"
#include "http/ZSocket.h"

namespace vandrel {

enum TZHttpMethod { hmGet, hmHead, hmPost };
enum TZHttpStorage { hsFile, hsMemory };

// The raw header lines of a response, status line first.
class TmsHeaders {
 public:
  // The value of the first line named `name` (case-insensitive), trimmed, with continuation lines joined
  // by one space; encoded words (=?charset?B|Q?...?=) are decoded except in Content-Type. Empty when absent.
  std::string GetValue(std::string_view name) const;

  std::vector<std::string> Lines;
};

// Decodes RFC 2047 encoded words into their bytes (the charset is not converted).
std::string DecodeMimeWords(std::string_view text);
// Standard Base64 with "=" padding.
std::string EncodeBase64(std::string_view data);

// Configured, executed once and freed, by one worker thread; Cancel (inherited) may come from any thread.
class TZHttp : public TZSocket {
 public:
  TZHttp();

  // Sets the address; "http" and "https" only, else ESocketError "Invalid URL".
  void SetURL(const std::string& value);
  // The HTTP proxy as "host:port"; empty for none.
  void SetProxyServer(const std::string& value);
  const std::string& URL() const { return url_; }  // escaped, absolute
  const std::string& ProxyServer() const { return proxyServer_; }
  const std::string& HostHeader() const { return hostHeader_; }
  const std::string& RequestPath() const { return requestPath_; }
  const std::string& FileName() const { return fileName_; }

  // Runs the transfer (following redirections); the code of the last response read, -1 if none.
  int Execute();
  std::string GetHeaderValue(std::string_view name) const { return Headers.GetValue(name); }

  // Request settings.
  std::string LocalFileName;  // body file for hsFile
  TZHttpMethod Method = hmGet;
  TZHttpStorage Storage = hsFile;
  std::vector<std::string> Vars;  // form data as name=value lines
  std::string PostStream;         // raw POST body; wins over Vars
  std::string UserName, Password;
  std::string ProxyUserName, ProxyPassword;
  std::string UserAgent = "Mozilla/4.5 [en] (Win98; I)";
  bool UseCookies = false;
  bool NoCache = false;
  bool NoRedirections = false;
  std::vector<std::string> ExtraHeaders;  // complete header lines, sent as given
  std::string RequestContentType = "application/x-www-form-urlencoded";

  std::function<void()> OnOpenSession, OnCloseSession, OnSending, OnHeadersLoaded;
  std::function<void(const std::string& line)> OnHeader;
  std::function<void(const TCookie& cookie)> OnReceiveCookie;
  std::function<void(const std::string& redirection, bool& follow)> OnRedirection;
  std::function<void(const std::string& url, std::string& cookieString)> OnSendCookie;

  // Response state, reset before every request.
  int StatusCode = 0;
  bool Succeeded = false;
  std::string ContentEncoding;
  int64_t ContentLength = 0;  // 0 when absent or not a number
  std::string ContentType;
  double Date = 0;          // local date-time, 0 when absent
  double LastModified = 0;  // local date-time, 0 when absent
  std::string Location;
  int64_t BodySize = 0;  // bytes stored
  TmsHeaders Headers;
  std::string Body;  // the body with hsMemory

  // A redirection chain longer than this ends like a refused redirection.
  static constexpr int kMaxRedirections = 20;

 protected:
  // One response on the open connection: the header block (the code of its first line, -1 if none)
  // and the body. Execute's own steps, open to tests and fuzzers over an adopted connection.
  int ReadHeaders() { return ApplyHeaders(ReadHeaderBlock()); }
  void ReadBody();

 private:
  bool IsHttps() const { return scheme_ == "https"; }
  void ResetResponse();
  // Opens and connects for the current URL, tunnels through the proxy and starts TLS for https; false
  // when the proxy refused the tunnel, whose answer is then the response.
  bool OpenSession();
  std::string FormData() const;
  void SendRequest(const char* method, const std::string& credentials);
  // Reads a header block; 256 KiB at most.
  std::vector<std::string> ReadHeaderBlock();
  int ApplyHeaders(std::vector<std::string> lines);
  void ReadChunkedBody(TByteSink& sink);

  std::string url_, scheme_ = "http", proxyServer_, hostHeader_, requestPath_, fileName_;
};

}  // namespace vandrel

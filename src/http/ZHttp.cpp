#include "http/ZHttp.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <memory>

#include "http/HttpDates.h"
#include "http/HttpErrors.h"
#include "platform/CharCodes.h"
#include "platform/TextUtils.h"
#include "platform/UrlUtils.h"
#include "platform/net/NetError.h"

namespace vandrel {

namespace {

int64_t ToInt64(std::string_view text, int64_t fallback) {
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() ? value : fallback;
}

char Hex(int v) {
  return "0123456789ABCDEF"[v & 15];
}

// The path as sent on the request line: spaces and control bytes escaped so that no byte of the address
// can end the request line or start a header of its own.
std::string RequestPathText(std::string_view text) {
  std::string out;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 32 || c == 127) {
      out += '%';
      out += Hex(c >> 4);
      out += Hex(c);
    } else {
      out += ch;
    }
  }
  return out;
}

// Header lines never carry line breaks of their own, whatever cookie, agent or extra header text says.
std::string HeaderLine(std::string line) {
  std::replace_if(
      line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return line;
}

bool IsRedirection(int code) {
  return code == 301 || code == 302 || code == 303;
}

class TFileSink final : public TByteSink {
 public:
  explicit TFileSink(const std::string& name) : name_(name), file_(std::fopen(name.c_str(), "wb")) {
    if (!file_) throw EStreamWriteError("Cannot create file " + name);
  }
  // Closes quietly: a transfer that failed already has its error, and nothing may leave a destructor.
  ~TFileSink() override {
    if (file_) std::fclose(file_);
  }
  void Append(const char* data, size_t size) override {
    if (std::fwrite(data, 1, size, file_) != size) throw EStreamWriteError("Cannot write file " + name_);
    size_ += static_cast<int64_t>(size);
  }
  int64_t Size() const override { return size_; }
  // Closes the file; raises when what was written could not all be kept.
  void Finish() {
    std::FILE* file = file_;
    file_ = nullptr;
    if (file && std::fclose(file) != 0) throw EStreamWriteError("Cannot write file " + name_);
  }

 private:
  std::string name_;
  std::FILE* file_;
  int64_t size_ = 0;
};

bool DecodeBase64(std::string_view text, std::string& out) {
  int bits = 0, value = 0;
  for (const char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z') {
      v = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      v = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      v = c - '0' + 52;
    } else if (c == '+') {
      v = 62;
    } else if (c == '/') {
      v = 63;
    } else if (c == '=') {
      break;
    } else {
      return false;
    }
    value = (value << 6) | v;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xFF);
    }
  }
  return true;
}

// Decodes one encoded word starting at `pos` ("=?"); false when the text there is no encoded word.
bool DecodeWord(std::string_view text, size_t pos, std::string& out, size_t& next) {
  const size_t q1 = text.find('?', pos + 2);
  if (q1 == std::string_view::npos || q1 + 2 >= text.size() || text[q1 + 2] != '?') return false;
  const char encoding = AsciiUpper(text[q1 + 1]);
  const size_t end = text.find("?=", q1 + 3);
  if (end == std::string_view::npos) return false;
  const std::string_view payload = text.substr(q1 + 3, end - q1 - 3);
  std::string decoded;
  if (encoding == 'B') {
    if (!DecodeBase64(payload, decoded)) return false;
  } else if (encoding == 'Q') {
    for (size_t i = 0; i < payload.size(); ++i) {
      if (payload[i] == '_') {
        decoded += ' ';
      } else if (payload[i] == '=' && i + 2 < payload.size() && HexDigitValue(payload[i + 1]) >= 0 &&
                 HexDigitValue(payload[i + 2]) >= 0) {
        decoded += static_cast<char>(HexDigitValue(payload[i + 1]) * 16 + HexDigitValue(payload[i + 2]));
        i += 2;
      } else {
        decoded += payload[i];
      }
    }
  } else {
    return false;
  }
  out += decoded;
  next = end + 2;
  return true;
}

}  // namespace

std::string DecodeMimeWords(std::string_view text) {
  std::string out;
  size_t pos = 0;
  bool afterWord = false;  // blanks between two encoded words are dropped
  while (pos < text.size()) {
    const size_t start = text.find("=?", pos);
    if (start == std::string_view::npos) {
      out.append(text.substr(pos));
      break;
    }
    std::string decoded;
    size_t next = 0;
    if (DecodeWord(text, start, decoded, next)) {
      const std::string_view between = text.substr(pos, start - pos);
      if (!(afterWord && Trim(between, kAsciiControlsAndSpace).empty())) out.append(between);
      out += decoded;
      pos = next;
      afterWord = true;
    } else {
      out.append(text.substr(pos, start + 2 - pos));
      pos = start + 2;
      afterWord = false;
    }
  }
  return out;
}

std::string EncodeBase64(std::string_view data) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const uint32_t v = static_cast<unsigned char>(data[i]) << 16 |
                       static_cast<unsigned char>(data[i + 1]) << 8 | static_cast<unsigned char>(data[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < data.size()) {
    const bool two = i + 1 < data.size();
    const uint32_t v =
        static_cast<unsigned char>(data[i]) << 16 | (two ? static_cast<unsigned char>(data[i + 1]) << 8 : 0);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += two ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string TmsHeaders::GetValue(std::string_view name) const {
  std::string key(name);
  if (key.empty() || key.back() != ':') key += ':';
  for (size_t i = 0; i < Lines.size(); ++i) {
    if (!StartsWithText(Lines[i], key)) continue;
    std::string value(Trim(std::string_view(Lines[i]).substr(key.size()), kAsciiControlsAndSpace));
    for (size_t k = i + 1;
         k < Lines.size() && !Lines[k].empty() && (Lines[k][0] == ' ' || Lines[k][0] == '\t'); ++k) {
      value += ' ';
      value += Trim(Lines[k], kAsciiControlsAndSpace);
    }
    return StartsWithText(key, "Content-Type:") ? value : DecodeMimeWords(value);
  }
  return "";
}

TZHttp::TZHttp() {
  Service = "http";
}

void TZHttp::SetURL(const std::string& value) {
  TUrlParserEx parser(value);
  const std::string scheme = parser.Scheme();
  const std::string netLoc = parser.NetLoc();
  const bool controlInHost = std::any_of(netLoc.begin(), netLoc.end(), [](char c) {
    return static_cast<unsigned char>(c) <= 32 || static_cast<unsigned char>(c) == 127;
  });
  if ((scheme != "http" && scheme != "https") || controlInHost || !HasValidPort(netLoc)) {
    const std::string message = SocketErrorText(kErrInvalidUrl);
    if (OnError) OnError(message);
    throw ESocketError(kErrInvalidUrl, message);
  }
  scheme_ = scheme;
  Service = scheme;
  DefaultPort = scheme == "https" ? 443 : 80;
  Host = hostHeader_ = netLoc;
  std::string path = "/" + parser.Path();
  if (!parser.Params().empty()) path += ";" + parser.Params();
  if (!parser.Query().empty()) path += "?" + parser.Query();
  requestPath_ = RequestPathText(path);
  url_ = scheme + "://" + netLoc + EscapeUrlText(requestPath_);
  fileName_ = parser.FileName();
  if (!proxyServer_.empty()) SetProxyServer(proxyServer_);
}

void TZHttp::SetProxyServer(const std::string& value) {
  proxyServer_ = NormalizeProxyValue(value);
  if (!proxyServer_.empty()) Host = proxyServer_;
}

std::string TZHttp::FormData() const {
  std::string joined;
  for (size_t i = 0; i < Vars.size(); ++i) {
    if (i > 0) joined += '&';
    joined += Vars[i];
  }
  return EscapeUrlText(joined);
}

void TZHttp::ResetResponse() {
  ContentEncoding.clear();
  ContentLength = 0;
  ContentType.clear();
  Date = LastModified = 0;
  BodySize = 0;
  ResetFlags();
}

std::vector<std::string> TZHttp::ReadHeaderBlock() {
  std::vector<std::string> lines;
  size_t total = 0;
  for (;;) {
    std::string line = ReadLine();
    if (line.empty()) {
      // The peer closing before the blank line cut the block: that is no answer, as a cut body is none.
      // Closing before a single line is left to the caller (no status line).
      if (PeerClosed() && !lines.empty()) Fail(kNetConnReset);
      break;
    }
    total += line.size() + 2;
    if (total > kMaxHeaderBlock) Fail(kErrInvalidReply);
    lines.push_back(std::move(line));
  }
  return lines;
}

int TZHttp::ApplyHeaders(std::vector<std::string> lines) {
  Headers.Lines.clear();
  for (const auto& line : lines) {
    Headers.Lines.push_back(line);
    if (OnHeader) OnHeader(line);
    if (AsciiUpperCase(std::string_view(line).substr(0, 4)) == "HTTP") {
      const size_t space = line.find(' ');
      if (space != std::string::npos) {
        size_t end = space + 1;
        while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
        // At most nine digits, so that the code fits an int.
        if (end > space + 1)
          StatusCode =
              static_cast<int>(ToInt64(line.substr(space + 1, std::min<size_t>(end - space - 1, 9)), 0));
      }
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string name =
        AsciiUpperCase(Trim(std::string_view(line).substr(0, colon), kAsciiControlsAndSpace));
    const std::string value(Trim(std::string_view(line).substr(colon + 1), kAsciiControlsAndSpace));
    if (value.empty()) continue;
    if (name == "CONTENT-ENCODING") {
      ContentEncoding = value;
    } else if (name == "CONTENT-LENGTH") {
      ContentLength = std::max<int64_t>(ToInt64(value, 0), 0);
    } else if (name == "CONTENT-TYPE") {
      ContentType = value;
    } else if (name == "DATE") {
      Date = UtcToLocalDateTime(ParseHttpDate(value));
    } else if (name == "LAST-MODIFIED") {
      LastModified = UtcToLocalDateTime(ParseHttpDate(value));
    } else if (name == "LOCATION") {
      Location = value;
    } else if (name == "SET-COOKIE" && UseCookies) {
      const TCookie cookie(value, url_);
      if (cookie.Valid && OnReceiveCookie) OnReceiveCookie(cookie);
    }
  }
  int result = -1;
  if (!lines.empty()) {
    const std::string& first = lines.front();
    const size_t start = first.find(' ');
    if (start != std::string::npos) {
      const size_t end = first.find(' ', start + 1);
      const std::string word = first.substr(start + 1, end == std::string::npos ? end : end - start - 1);
      const int64_t code = ToInt64(word, -1);
      result = code >= 0 && code <= 999 ? static_cast<int>(code) : -1;
    }
  }
  if (MaxFileSize > 0 && ContentLength > MaxFileSize) {
    if (OnError) OnError(SocketErrorText(kErrFileSkipped));
    throw EFileSkippedError();
  }
  if (OnHeadersLoaded) OnHeadersLoaded();
  return result;
}

bool TZHttp::OpenSession() {
  Open();
  Connect();
  if (!IsHttps()) return true;
  std::string host = hostHeader_.substr(hostHeader_.rfind('@') + 1);
  std::string hostPort = host;
  if (host.find(':') == std::string::npos) {
    hostPort += ":443";
  } else {
    host.erase(host.find(':'));
  }
  if (!proxyServer_.empty()) {
    std::string request = "CONNECT " + hostPort + " HTTP/1.1\r\nHost: " + hostPort;
    if (!ProxyUserName.empty() && !ProxyPassword.empty())
      request += "\r\nProxy-Authorization: Basic " + EncodeBase64(ProxyUserName + ":" + ProxyPassword);
    if (!UserAgent.empty()) request += "\r\n" + HeaderLine("User-Agent: " + UserAgent);
    SendLine(request + "\r\n");
    std::vector<std::string> answer = ReadHeaderBlock();
    const std::string first = answer.empty() ? "" : answer.front();
    const size_t space = first.find(' ');
    const int64_t code = space == std::string::npos ? -1 : ToInt64(first.substr(space + 1, 3), -1);
    if (code < 200 || code > 299) {
      // The proxy's refusal (407 and the like) is what the caller gets to see.
      ApplyHeaders(std::move(answer));
      return false;
    }
  }
  StartTls(host);
  return true;
}

void TZHttp::SendRequest(const char* method, const std::string& credentials) {
  if (OnSending) OnSending();
  const bool clearProxy = !proxyServer_.empty() && !IsHttps();
  std::string target = clearProxy ? url_ : requestPath_;
  const std::string form = FormData();
  if (Method == hmGet && !form.empty()) target += "?" + form;

  std::vector<std::string> lines;
  lines.push_back(std::string(method) + " " + target + " HTTP/1.1");
  lines.push_back("Host: " + hostHeader_);
  if (UseCookies && OnSendCookie) {
    std::string cookies;
    OnSendCookie(url_, cookies);
    if (!cookies.empty()) lines.push_back("Cookie: " + cookies);
  }
  lines.push_back("Accept: */*");
  lines.push_back("Connection: close");
  if (!UserAgent.empty()) lines.push_back("User-Agent: " + UserAgent);
  for (const auto& extra : ExtraHeaders)
    if (!extra.empty()) lines.push_back(extra);
  if (NoCache && (!proxyServer_.empty() || !SocksServer().empty())) lines.push_back("Pragma: no-cache");
  // Through a tunnel the proxy credentials went with CONNECT; the origin never sees them.
  if (clearProxy && !ProxyUserName.empty() && !ProxyPassword.empty())
    lines.push_back("Proxy-Authorization: Basic " + EncodeBase64(ProxyUserName + ":" + ProxyPassword));
  if (!credentials.empty()) lines.push_back("Authorization: Basic " + EncodeBase64(credentials));
  if (Method == hmPost) {
    RequestContentType = PostStream.empty() ? "application/x-www-form-urlencoded" : "multipart/form-data";
    lines.push_back("Content-Type: " + RequestContentType);
    lines.push_back("Content-Length: " +
                    std::to_string(PostStream.empty() ? form.size() : PostStream.size()));
  }
  std::string block;
  for (auto& line : lines) block += HeaderLine(std::move(line)) + "\r\n";
  SendLine(block);
  if (Method == hmPost) {
    if (!PostStream.empty()) {
      SendStream(PostStream);
    } else if (!form.empty()) {
      SendAll(form);
    }
  }
}

void TZHttp::ReadChunkedBody(TByteSink& sink) {
  Chunked = true;
  for (;;) {
    std::string line(Trim(ReadLine(), kAsciiControlsAndSpace));
    if (line.empty()) line = Trim(ReadLine(), kAsciiControlsAndSpace);
    // The peer closing before the last chunk is a broken body, not an empty one.
    if (line.empty() && PeerClosed()) Fail(kNetConnReset);
    // The size is the leading hex digits; an extension (";name=value") or blank after them is ignored.
    int64_t size = 0;
    size_t digits = 0;
    while (digits < line.size() && HexDigitValue(line[digits]) >= 0) {
      if (digits >= 15) Fail(kErrInvalidReply);
      size = size * 16 + HexDigitValue(line[digits]);
      ++digits;
    }
    // A size line must start with a hex digit ("-5" or an empty line is no size); 0 is the last chunk.
    if (digits == 0) Fail(kErrInvalidReply);
    if (size == 0) break;
    ReceiveToStream(sink, size);
  }
}

void TZHttp::ReadBody() {
  std::unique_ptr<TByteSink> sink;
  if (Storage == hsMemory) {
    Body.clear();
    sink = std::make_unique<TMemorySink>(Body);
  } else {
    sink = std::make_unique<TFileSink>(LocalFileName);
  }
  struct TFinish {
    TZHttp& Http;
    TByteSink& Sink;
    ~TFinish() { Http.BodySize = Sink.Size(); }
  } finish{*this, *sink};
  const std::string encoding = AsciiUpperCase(GetHeaderValue("Transfer-Encoding"));
  if (encoding.find("CHUNKED") != std::string::npos) {
    ReadChunkedBody(*sink);
  } else {
    ReceiveToStream(*sink, ToInt64(Trim(GetHeaderValue("Content-Length"), kAsciiControlsAndSpace), -1));
  }
  if (auto* file = dynamic_cast<TFileSink*>(sink.get())) file->Finish();
}

int TZHttp::Execute() {
  StatusCode = 0;
  Succeeded = false;
  int result = -1;
  if (OnOpenSession) OnOpenSession();
  std::vector<std::string> visited{url_};
  // Credentials belong to the origin they were given for and do not follow a redirection elsewhere.
  auto originOf = [this] { return scheme_ + "://" + AsciiUpperCase(hostHeader_); };
  const std::string authOrigin = originOf();
  int hops = 0;
  auto finish = [&](bool failed) {
    // A transfer that ended in an error did not succeed, whatever its status line said.
    Succeeded = !failed && result >= 200 && result <= 299 && !Canceled() && !TimedOut() && !SizeExceeded();
    if (OnCloseSession) OnCloseSession();
  };
  try {
    do {
      ResetResponse();
      if (IsRedirection(StatusCode)) {
        TUrlParserEx location(Location);
        std::string next = location.Relative() ? ResolveUrl(url_, Location)
                                               : std::string(Trim(Location, kAsciiControlsAndSpace));
        if (Trim(Location, kAsciiControlsAndSpace).empty()) next.clear();
        bool follow = true;
        if (OnRedirection) OnRedirection(next, follow);
        bool refused = !follow || NoRedirections || next.empty() ||
                       std::find(visited.begin(), visited.end(), next) != visited.end() ||
                       ++hops > kMaxRedirections;
        if (!refused) {
          visited.push_back(next);
          try {
            SetURL(next);
          } catch (const ESocketError&) {
            refused = true;
          }
        }
        if (refused) {
          StatusCode = result = 404;
          if (OnHeadersLoaded) OnHeadersLoaded();
          break;
        }
        Vars.clear();
        PostStream.clear();
        if (Method == hmPost && StatusCode != 301) Method = hmGet;
        Location.clear();
      }
      const std::string credentials =
          !UserName.empty() && !Password.empty() && originOf() == authOrigin ? UserName + ":" + Password : "";
      if (OpenSession()) {
        SendRequest(Method == hmGet ? "GET" : Method == hmHead ? "HEAD" : "POST", credentials);
        result = ReadHeaders();
        if (result == 100) result = ReadHeaders();
        if (Method == hmHead && (result == -1 || result == 405 || result == 500)) {
          Close();
          if (OpenSession()) {
            SendRequest("GET", credentials);
            result = ReadHeaders();
            if (result == 100) result = ReadHeaders();
          }
        }
      } else {
        result = StatusCode;
      }
      if (Method != hmHead) ReadBody();
      Close();
    } while (IsRedirection(StatusCode));
  } catch (...) {
    Close();
    finish(true);
    throw;
  }
  finish(false);
  return result;
}

}  // namespace vandrel

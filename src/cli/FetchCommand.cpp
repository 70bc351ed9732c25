// `fetch`: one address through the downloader, set up the way a search engine's page is fetched.
#include <charconv>
#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "http/HttpDownloader.h"

namespace vandrel::cli {

namespace {

constexpr const char* kFetchUsage =
    "usage: vandrel-shopper-cli fetch URL [--post DATA] [--proxy HOST:PORT [--proxy-user U:P]] "
    "[--socks HOST:PORT] [--max-size BYTES] [--timeout S] [-o FILE]\n";

int BadArguments(const std::string& why) {
  std::fprintf(stderr, "fetch: %s\n%s", why.c_str(), kFetchUsage);
  return 2;
}

bool ParseNumber(const std::string& text, int64_t& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= 0;
}

// "host:port" with a port of 1..65535.
bool ParseHostPort(const std::string& text, std::string& host, int& port) {
  auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  int64_t p = 0;
  if (!ParseNumber(text.substr(colon + 1), p) || p < 1 || p > 65535) return false;
  host = text.substr(0, colon);
  port = static_cast<int>(p);
  return true;
}

std::vector<std::string> SplitFormData(const std::string& data) {
  std::vector<std::string> vars;
  size_t start = 0;
  while (start <= data.size()) {
    auto amp = data.find('&', start);
    auto piece = data.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
    if (!piece.empty()) vars.push_back(piece);
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return vars;
}

bool WriteAll(FILE* out, const std::string& bytes) {
  return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

}  // namespace

int RunFetch(const Args& args) {
  std::string url, post, outFile, proxy, proxyUser, socks;
  bool hasPost = false;
  int64_t maxSize = 0, timeout = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& into) {
      if (i + 1 >= args.size()) return false;
      into = args[++i];
      return true;
    };
    std::string number;
    if (a == "--post") {
      if (!value(post)) return BadArguments("--post needs DATA");
      hasPost = true;
    } else if (a == "--proxy") {
      if (!value(proxy)) return BadArguments("--proxy needs HOST:PORT");
    } else if (a == "--proxy-user") {
      if (!value(proxyUser) || proxyUser.find(':') == std::string::npos)
        return BadArguments("--proxy-user needs USER:PASSWORD");
    } else if (a == "--socks") {
      if (!value(socks)) return BadArguments("--socks needs HOST:PORT");
    } else if (a == "--max-size") {
      if (!value(number) || !ParseNumber(number, maxSize))
        return BadArguments("--max-size needs a byte count");
    } else if (a == "--timeout") {
      if (!value(number) || !ParseNumber(number, timeout) || timeout < 1 || timeout > 86400)
        return BadArguments("--timeout needs seconds (1-86400)");
    } else if (a == "-o") {
      if (!value(outFile) || outFile.empty()) return BadArguments("-o needs FILE");
    } else if (!a.empty() && a[0] == '-') {
      return BadArguments("unknown option " + a);
    } else if (url.empty()) {
      url = a;
    } else {
      return BadArguments("more than one URL");
    }
  }
  if (url.empty()) return BadArguments("no URL");
  if (!proxy.empty() && !socks.empty()) return BadArguments("--proxy and --socks exclude each other");
  if (!proxyUser.empty() && proxy.empty()) return BadArguments("--proxy-user needs --proxy");

  MainDispatcher& dispatcher = MainDispatcher::Default();
  dispatcher.AdoptCurrentThread();
  THttpDownloader downloader(dispatcher);
  auto settings = downloader.Settings();
  // As the searcher sets its downloader up.
  settings.CruncherMode = true;
  settings.KeepResults = true;
  settings.StoreInMemory = true;
  settings.DownloadFrames = false;
  settings.ParsePages = false;
  settings.MaxFileSize = maxSize;
  if (timeout > 0) settings.Timeout = static_cast<int>(timeout);
  if (!proxy.empty()) {
    if (!ParseHostPort(proxy, settings.ProxyAddress, settings.ProxyPort))
      return BadArguments("--proxy needs HOST:PORT");
    settings.UseProxy = true;
    settings.ProxyType = ptHttp;
    if (!proxyUser.empty()) {
      auto colon = proxyUser.find(':');
      settings.UseProxyAuthenticate = true;
      settings.ProxyUserName = proxyUser.substr(0, colon);
      settings.ProxyPassword = proxyUser.substr(colon + 1);
    }
  } else if (!socks.empty()) {
    if (!ParseHostPort(socks, settings.ProxyAddress, settings.ProxyPort))
      return BadArguments("--socks needs HOST:PORT");
    settings.UseProxy = true;
    settings.ProxyType = ptSocks;
  }
  downloader.SetSettings(settings);

  auto item = downloader.AddItem(url);
  if (!item) return BadArguments("not an http or https address: " + url);
  item->Params().DocumentType.Set(dtHtml);
  item->Params().TransferMethod.Set(hasPost ? hmPost : hmGet);
  if (hasPost) item->Params().Vars = SplitFormData(post);

  bool done = false;
  THttpDownloaderEvents events;
  events.OnItemDone = [&](const IHttpResultPtr&) { done = true; };
  downloader.SetEvents(events);
  item->Run();
  dispatcher.RunUntil([&] { return done; }, std::chrono::hours(24));

  auto result = item->Result();
  for (const auto& line : result->Headers()) std::fprintf(stderr, "%s\n", line.c_str());
  int status = result->StatusCode();
  auto state = result->State();
  bool ok = status >= 200 && status <= 299 && result->ResultCode() == 0 &&
            (state == hisDoneItem || state == hisDonePage);
  if (!ok) {
    auto text = result->ErrorText();
    if (text.empty()) text = "HTTP status " + std::to_string(status);
    std::fprintf(stderr, "fetch: %s\n", text.c_str());
    return 1;
  }
  auto content = result->Content();
  const std::string& body = content.Kind == 0 ? content.Stream : content.Text;
  if (outFile.empty()) {
    if (!WriteAll(stdout, body) || std::fflush(stdout) != 0) return 1;
    return 0;
  }
  FILE* out = std::fopen(outFile.c_str(), "wb");
  if (!out) {
    std::fprintf(stderr, "fetch: cannot write %s\n", outFile.c_str());
    return 1;
  }
  bool written = WriteAll(out, body);
  if (std::fclose(out) != 0 || !written) {
    std::fprintf(stderr, "fetch: cannot write %s\n", outFile.c_str());
    return 1;
  }
  return 0;
}

}  // namespace vandrel::cli

// `fetch`: one address through the downloader, set up the way a search engine's page is fetched, so that an
// engine author sees what the engine will see.
#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "http/HttpDownloader.h"
#include "http/HttpErrors.h"
#include "platform/CommandLineOptions.h"
#include "search/HttpSearcher.h"

namespace vandrel::cli {

namespace {

constexpr const char* kFetchUsage =
    "usage: vandrel-shopper-cli fetch URL [--post DATA] [--proxy HOST:PORT [--proxy-user U:P]] "
    "[--socks HOST:PORT] [--max-size BYTES] [--timeout S] [-o FILE]\n"
    "  --max-size  largest page kept, in bytes (default 16 MiB; 0: no limit)\n"
    "  --timeout   seconds the whole transfer may take (default: the engine time limit, 10)\n";

// The engine time limit's default, which bounds every page of a search.
constexpr int kEngineTimeLimitMs = 10000;

int BadArguments(const std::string& why) {
  std::fprintf(stderr, "fetch: %s\n%s", why.c_str(), kFetchUsage);
  return 2;
}

// "host:port" with a port of 1..65535.
bool ParseHostPort(const std::string& text, std::string& host, int& port) {
  auto colon = text.rfind(':');
  int64_t p = 0;
  std::string error;
  if (colon == std::string::npos || colon == 0 ||
      !ParseIntegerArg(text.substr(colon + 1), 1, 65535, p, error))
    return false;
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

// Writes `body` to standard output or to `file`; says so on stderr when it cannot.
bool WriteBody(const std::string& file, const std::string& body) {
  if (file.empty()) {
    if (WriteAll(stdout, body) && std::fflush(stdout) == 0) return true;
    std::fprintf(stderr, "fetch: cannot write the output\n");
    return false;
  }
  FILE* out = std::fopen(file.c_str(), "wb");
  bool written = out && WriteAll(out, body);
  if (out && std::fclose(out) != 0) written = false;
  if (!written) std::fprintf(stderr, "fetch: cannot write %s\n", file.c_str());
  return written;
}

struct TFetchRequest {
  std::string Url, OutFile;
  bool Post = false;
  std::string PostData;
};

// The downloader's settings from the options, as the searcher sets its own: error pages are kept, a page
// has a size limit and the whole transfer a time limit. Answers an error text, empty when all is well.
std::string ReadOptions(TCommandLine& line, THttpDownloaderSettings& s, TFetchRequest& request) {
  if (line.Positionals().empty()) return "no URL";
  if (line.Positionals().size() > 1) return "more than one URL";
  request.Url = line.Positionals()[0];
  request.OutFile = line.Value("output");
  if (line.Has("output") && request.OutFile.empty()) return "-o needs FILE";
  request.Post = line.Has("post");
  request.PostData = line.Value("post");
  std::optional<int64_t> maxSize, timeout;
  if (!line.Integer("max-size", 0, INT64_MAX, maxSize)) return "--max-size needs a byte count";
  if (!line.Integer("timeout", 1, 86400, timeout)) return "--timeout needs seconds (1-86400)";
  const std::string proxy = line.Value("proxy"), proxyUser = line.Value("proxy-user"),
                    socks = line.Value("socks");
  if (!proxy.empty() && !socks.empty()) return "--proxy and --socks exclude each other";
  if (!proxyUser.empty() && proxy.empty()) return "--proxy-user needs --proxy";
  if (line.Has("proxy-user") && proxyUser.find(':') == std::string::npos)
    return "--proxy-user needs USER:PASSWORD";

  ReadPagesAsSearches(s);
  s.MaxFileSize = maxSize.value_or(kDefaultPageSizeLimit);
  s.UseTimeLimit = true;
  s.TimeLimit = timeout ? static_cast<int>(*timeout * 1000) : kEngineTimeLimitMs;
  if (timeout) s.Timeout = static_cast<int>(*timeout);
  if (line.Has("proxy")) {
    if (!ParseHostPort(proxy, s.ProxyAddress, s.ProxyPort)) return "--proxy needs HOST:PORT";
    s.UseProxy = true;
    s.ProxyType = ptHttp;
    if (!proxyUser.empty()) {
      auto colon = proxyUser.find(':');
      s.UseProxyAuthenticate = true;
      s.ProxyUserName = proxyUser.substr(0, colon);
      s.ProxyPassword = proxyUser.substr(colon + 1);
    }
  } else if (line.Has("socks")) {
    if (!ParseHostPort(socks, s.ProxyAddress, s.ProxyPort)) return "--socks needs HOST:PORT";
    s.UseProxy = true;
    s.ProxyType = ptSocks;
  }
  return "";
}

}  // namespace

int RunFetch(const Args& args) {
  TCommandLine line({{"post", TOptionKind::Value},
                     {"proxy", TOptionKind::Value},
                     {"proxy-user", TOptionKind::Value},
                     {"socks", TOptionKind::Value},
                     {"max-size", TOptionKind::Value},
                     {"timeout", TOptionKind::Value},
                     {"output", TOptionKind::Value}});
  Args words = args;
  for (auto& w : words)
    if (w == "-o") w = "--output";
  if (!line.Parse(words)) return BadArguments(line.Error());
  if (line.HelpAsked()) {
    std::fputs(kFetchUsage, stdout);
    return 0;
  }

  MainDispatcher& dispatcher = MainDispatcher::Default();
  dispatcher.AdoptCurrentThread();
  THttpDownloader downloader(dispatcher);
  auto settings = downloader.Settings();
  TFetchRequest request;
  if (auto problem = ReadOptions(line, settings, request); !problem.empty()) return BadArguments(problem);
  downloader.SetSettings(settings);

  auto item = downloader.AddItem(request.Url);
  if (!item) return BadArguments("not an http or https address: " + request.Url);
  item->Params().DocumentType.Set(dtHtml);
  item->Params().UseCookies.Set(true);  // an engine's UseCookies is on unless it turns it off
  item->Params().TransferMethod.Set(request.Post ? hmPost : hmGet);
  if (request.Post) item->Params().Vars = SplitFormData(request.PostData);

  bool done = false;
  THttpDownloaderEvents events;
  events.OnItemDone = [&](const IHttpResultPtr&) { done = true; };
  downloader.SetEvents(events);
  item->Run();
  dispatcher.RunUntil([&] { return done; }, std::chrono::hours(24));

  auto result = item->Result();
  for (const auto& headerLine : result->Headers()) std::fprintf(stderr, "%s\n", headerLine.c_str());
  // What came is written even when the page failed (an error page, a page cut by the size limit): it is
  // what an engine would parse. The exit status tells whether it is a whole page.
  const THttpContent content = result->Content();
  if (!WriteBody(request.OutFile, content.Kind == 0 ? content.Stream : content.Text)) return 1;
  const int status = result->StatusCode();
  const auto state = result->State();
  if (status >= 200 && status <= 299 && result->ResultCode() == 0 &&
      (state == hisDoneItem || state == hisDonePage))
    return 0;
  std::string text = result->ErrorText();
  if (text.empty()) text = HttpStatusText(status);
  if (text.empty()) text = "HTTP status " + std::to_string(status);
  std::fprintf(stderr, "fetch: %s\n", text.c_str());
  return 1;
}

}  // namespace vandrel::cli

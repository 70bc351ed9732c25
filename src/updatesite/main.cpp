// vandrel-update-site: serves a folder of definitions as an update site, for publishers and for tests.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>

#include "platform/BuildInfo.h"
#include "platform/CommandLineOptions.h"
#include "platform/net/HttpServer.h"
#include "updatesite/UpdateSiteContent.h"

using namespace vandrel;

namespace {

constexpr const char* kUsage =
    "usage: vandrel-update-site --data DIR --port N [--once-ready-file F] [--listen ADDR] [--edition NAME]\n"
    "  Serves DIR's search types, categories (with their engine folders) and shared scripts, as sources or\n"
    "  compiled files, to the engine update; the update exchange is a POST at any path. Listens on\n"
    "  127.0.0.1 unless --listen names another address. A hand-written DIR/site.vui may add [VUI] settings\n"
    "  and [SoftwareUpdates] entries.\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "vandrel-update-site: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

std::mutex LogLock;

// One line per request on stdout: the publisher's access log.
void LogRequest(const THttpServerRequest& request, const THttpServerResponse& response) {
  std::lock_guard<std::mutex> guard(LogLock);
  std::printf("%s %s %s %d %zu%s%s\n", request.Peer.c_str(), request.Method.c_str(), request.Target.c_str(),
              response.Status, response.Body.size(), response.LogNote.empty() ? "" : " ",
              response.LogNote.c_str());
  std::fflush(stdout);
}

void PrintWarnings(site::TUpdateSiteContent& content) {
  for (const std::string& warning : content.TakeWarnings())
    std::fprintf(stderr, "vandrel-update-site: %s\n", warning.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  TCommandLine options({{"data", TOptionKind::Value},
                        {"port", TOptionKind::Value},
                        {"once-ready-file", TOptionKind::Value},
                        {"listen", TOptionKind::Value},
                        {"edition", TOptionKind::Value}});
  if (!options.Parse(std::vector<std::string>(argv + 1, argv + argc))) return Usage(options.Error());
  if (options.HelpAsked()) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::optional<int64_t> port;
  if (!options.Integer("port", 0, 65535, port)) return Usage(options.Error());
  if (!port) return Usage("--port is required");
  const std::string data = options.Value("data");
  if (data.empty()) return Usage("--data is required");
  if (!options.Positionals().empty())
    return Usage("unexpected argument '" + options.Positionals().front() + "'");
  std::error_code ec;
  if (!std::filesystem::is_directory(data, ec)) return Usage("not a folder: " + data);

  char scratchPattern[] = "/tmp/vandrel-update-site-XXXXXX";
  if (!mkdtemp(scratchPattern)) {
    std::perror("vandrel-update-site: mkdtemp");
    return 1;
  }
  const std::string scratch = scratchPattern;
  site::TUpdateSiteContent content(data, options.Value("edition", build::kEdition), scratch);

  THttpServerLimits limits;
  limits.ServerName = "vandrel-update-site";
  limits.MaxConnections = 32;
  limits.MaxRequestBody = 1024 * 1024;
  limits.IoTimeoutSeconds = 30;
  THttpServer server(
      [&content](const THttpServerRequest& request) {
        THttpServerResponse response;
        if (request.Method == "POST") {
          size_t asked = 0, sent = 0;
          response.ContentType = "application/octet-stream";
          response.Body = content.Answer(request.Body, asked, sent);
          response.LogNote = "asked=" + std::to_string(asked) + " sent=" + std::to_string(sent);
        } else {
          // Anything else gets the list of what the site offers.
          for (const std::string& name : content.Names()) response.Body += name + "\n";
        }
        PrintWarnings(content);
        return response;
      },
      limits, LogRequest);
  TServeSettings settings;
  settings.Program = "vandrel-update-site";
  settings.Address = options.Value("listen", "127.0.0.1");
  settings.Port = static_cast<uint16_t>(*port);
  settings.ReadyFile = options.Value("once-ready-file");
  settings.Announce = [&](uint16_t boundPort) {
    // Built once before the first request, so a publisher sees problems with the folder at once.
    content.Names();
    PrintWarnings(content);
    const bool v6 = settings.Address.find(':') != std::string::npos;
    std::printf("update site for %s at http://%s%s%s:%u/ (version file %s)\n", data.c_str(), v6 ? "[" : "",
                settings.Address.c_str(), v6 ? "]" : "", static_cast<unsigned>(boundPort),
                content.VersionFileName().c_str());
    std::fflush(stdout);
  };
  const int status = ServeUntilSignal(server, settings);
  std::filesystem::remove_all(scratch, ec);
  return status;
}

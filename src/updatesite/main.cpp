// vandrel-update-site: serves a folder of definitions as an update site, for publishers and for tests.
#include <signal.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/BuildInfo.h"
#include "platform/CommandLineOptions.h"
#include "updatesite/UpdateSiteContent.h"
#include "updatesite/UpdateSiteServer.h"

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

// Written through a rename so a waiting reader never sees a half-written port.
bool WriteReadyFile(const std::string& path, uint16_t port) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << port << "\n";
    if (!out.flush()) return false;
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  return !ec;
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

  // Blocked before any worker starts so every thread inherits the mask and the signals reach only the fd.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  int status = 1;
  if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) == 0) {
    const int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    site::TUpdateSiteServer server([&content](const site::TSiteRequest& request) {
      site::TSiteResponse response;
      if (request.Method == "POST") {
        size_t asked = 0, sent = 0;
        response.Body = content.Answer(request.Body, asked, sent);
        response.LogNote = "asked=" + std::to_string(asked) + " sent=" + std::to_string(sent);
      } else {
        // Anything else gets the list of what the site offers.
        response.ContentType = "text/plain; charset=utf-8";
        for (const std::string& name : content.Names()) response.Body += name + "\n";
      }
      PrintWarnings(content);
      return response;
    });
    std::string error;
    const std::string address = options.Value("listen", "127.0.0.1");
    if (stopFd < 0) {
      std::perror("vandrel-update-site: signalfd");
    } else if (!server.Listen(address, static_cast<uint16_t>(*port), error)) {
      std::fprintf(stderr, "vandrel-update-site: cannot listen on %s port %lld: %s\n", address.c_str(),
                   static_cast<long long>(*port), error.c_str());
    } else {
      // Built once before the first request, so a publisher sees problems with the folder at once.
      content.Names();
      PrintWarnings(content);
      const bool v6 = address.find(':') != std::string::npos;
      std::printf("update site for %s at http://%s%s%s:%u/ (version file %s)\n", data.c_str(), v6 ? "[" : "",
                  address.c_str(), v6 ? "]" : "", static_cast<unsigned>(server.Port()),
                  content.VersionFileName().c_str());
      std::fflush(stdout);
      const std::string readyFile = options.Value("once-ready-file");
      if (!readyFile.empty() && !WriteReadyFile(readyFile, server.Port())) {
        std::fprintf(stderr, "vandrel-update-site: cannot write %s\n", readyFile.c_str());
      } else {
        server.Run(stopFd);
        status = 0;
      }
    }
    if (stopFd >= 0) close(stopFd);
  }
  std::filesystem::remove_all(scratch, ec);
  return status;
}

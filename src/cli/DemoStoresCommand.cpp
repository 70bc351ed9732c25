// The "demo-stores" subcommand: runs the demo store site until it is interrupted.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "cli/CommandArguments.h"
#include "cli/Commands.h"
#include "cli/DemoStoreServer.h"

namespace vandrel::cli {
namespace {

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

}  // namespace

int RunDemoStores(const Args& args) {
  TDemoStoresArguments o;
  std::string error;
  if (!ParseDemoStoresArguments(args, o, error)) return UsageError("demo-stores", error);
  const long port = o.Port;
  const std::string& readyFile = o.ReadyFile;

  // Blocked before any worker starts so every thread inherits the mask and the signals reach only the fd.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) return 1;
  const int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (stopFd < 0) return 1;

  TDemoStoreServer server;
  if (!server.Listen(static_cast<uint16_t>(port), error)) {
    std::fprintf(stderr, "vandrel-shopper-cli: cannot listen on 127.0.0.1:%ld: %s\n", port, error.c_str());
    close(stopFd);
    return 1;
  }
  std::printf("demo stores at http://127.0.0.1:%u/\n", static_cast<unsigned>(server.Port()));
  std::fflush(stdout);
  if (!readyFile.empty() && !WriteReadyFile(readyFile, server.Port())) {
    std::fprintf(stderr, "vandrel-shopper-cli: cannot write %s\n", readyFile.c_str());
    close(stopFd);
    return 1;
  }
  server.Run(stopFd);
  close(stopFd);
  return 0;
}

}  // namespace vandrel::cli

// The "demo-stores" subcommand: runs the demo store site until it is interrupted.
#include <cstdio>

#include "cli/CommandArguments.h"
#include "cli/Commands.h"
#include "cli/DemoStoreServer.h"

namespace vandrel::cli {

int RunDemoStores(const Args& args) {
  TDemoStoresArguments o;
  std::string error;
  if (!ParseDemoStoresArguments(args, o, error)) return UsageError("demo-stores", error);
  TServeSettings settings;
  settings.Program = "vandrel-shopper-cli";
  settings.Port = static_cast<uint16_t>(o.Port);
  settings.ReadyFile = o.ReadyFile;
  settings.Announce = [](uint16_t port) {
    std::printf("demo stores at http://127.0.0.1:%u/\n", static_cast<unsigned>(port));
    std::fflush(stdout);
  };
  return ServeUntilSignal(*NewDemoStoreServer(), settings);
}

}  // namespace vandrel::cli

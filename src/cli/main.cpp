// vandrel-shopper-cli: the headless front end over the core.
#include <cstdio>
#include <cstring>

#include "cli/Commands.h"
#include "platform/BuildInfo.h"

namespace vandrel::cli {

const std::vector<Command>& AllCommands() {
  static const std::vector<Command> commands = {
      {"version", "version                 print the program's version", RunVersion},
      {"config", "config get|set|list ... show or change a setting (--config-dir DIR)", RunConfig},
      {"fetch", "fetch URL [--post D] [--proxy H:P] [--socks H:P] [-o F]  fetch one address", RunFetch},
      {"parse", "parse --search-type F --engine F --page F [--address URL] [--set FIELD=VALUE]... [--json]",
       RunParse},
      {"demo-stores", "demo-stores --port N    serve the demo store site on 127.0.0.1 (--once-ready-file F)",
       RunDemoStores},
      {"search",
       "search --data DIR --category NAME --set FIELD=VALUE... [--engines a,b] [--max-threads N] "
       "[--results-per-engine N] [--currency CODE] [--detect-connection] [--json] [--no-store] "
       "[--define NAME=VALUE] [--root DIR]",
       RunSearch},
      {"catalogue", "catalogue --data DIR [--debug]  refresh a catalogue from DIR and list it", RunCatalogue},
      {"history",
       "history list|show N|delete N|rerun N [--reviews] [--json] [--root DIR] [--data DIR] "
       "[--define NAME=VALUE]  the stored searches",
       RunHistory},
      {"db", "db compact [--root DIR]  pack the database's search and result tables", RunDb},
      {"integration",
       "integration install|remove|status [--root DIR] [--program PATH] [--json]  the desktop and browser "
       "entries",
       RunIntegration},
      {"open", "open URL [--launch]     open a page in the user's browser", RunOpen},
      {"uninstall",
       "uninstall [--keep-user-data|--remove-user-data] [--root DIR]  remove integration and data",
       RunUninstall},
      {"update", "update [--site URL] [--root DIR] [--check-only] [--json]  update the definitions",
       RunUpdate},
  };
  return commands;
}

int RunVersion(const Args&) {
  std::printf("Vandrel Shopper %s\n", build::kVersionText);
  return 0;
}

namespace {

void PrintUsage(FILE* out) {
  std::fprintf(out, "usage: vandrel-shopper-cli COMMAND [ARGS...]\n\ncommands:\n");
  for (const auto& c : AllCommands()) std::fprintf(out, "  %s\n", c.usage);
}

}  // namespace
}  // namespace vandrel::cli

int main(int argc, char** argv) {
  using namespace vandrel::cli;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
    PrintUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  Args args(argv + 2, argv + argc);
  for (const auto& c : AllCommands())
    if (std::strcmp(c.name, argv[1]) == 0) return c.run(args);
  std::fprintf(stderr, "vandrel-shopper-cli: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}

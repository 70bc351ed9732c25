// vandrel-shopper-cli: the headless front end over the core.
#include <cstdio>
#include <exception>

#include "cli/CliOutput.h"
#include "cli/Commands.h"
#include "platform/BuildInfo.h"

namespace vandrel::cli {

const std::vector<Command>& AllCommands() {
  static const std::vector<Command> commands = {
      {"version", "version                 print the program's version", RunVersion},
      {"config", "config [--config-dir DIR] get NAME|set NAME VALUE|list  show or change a setting",
       RunConfig},
      {"fetch", "fetch URL [--post D] [--proxy H:P] [--socks H:P] [-o F]  fetch one address", RunFetch},
      {"parse", "parse --search-type F --engine F --page F [--address URL] [--set FIELD=VALUE]... [--json]",
       RunParse},
      {"demo-stores", "demo-stores --port N    serve the demo store site on 127.0.0.1 (--once-ready-file F)",
       RunDemoStores},
      {"search",
       "search --data DIR --category NAME --set FIELD=VALUE... [--engines a,b] [--max-threads N] "
       "[--results-per-engine N] [--currency CODE] [--detect-connection] [--connection-probe HOST] [--json] "
       "[--no-store] [--define NAME=VALUE] [--root DIR] [--debug] [--no-update] [--update-site URL]",
       RunSearch},
      {"catalogue", "catalogue --data DIR [--debug] [--root DIR]  refresh the catalogue from DIR and list it",
       RunCatalogue},
      {"history",
       "history list|show N|delete N|rerun N|check N RANK[,RANK...] [--uncheck] [--reviews] [--json] [--root "
       "DIR] "
       "[--data DIR] [--group-by NAME|none] [--price-min X] [--price-max Y] [--delivery fastest|normal|all] "
       "[--sort NAME[:asc|:desc]] [--currency CODE] [--find TEXT [--match-case]] [--no-update] "
       "[--update-site URL] "
       "[--define NAME=VALUE]  the stored searches",
       RunHistory},
      {"db", "db compact [--root DIR]  pack the database's tables", RunDb},
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

const Command* FindCommand(std::string_view name) {
  for (const auto& c : AllCommands())
    if (name == c.name) return &c;
  return nullptr;
}

bool HelpAsked(const Args& args) {
  for (const std::string& a : args) {
    if (a == "--") return false;
    if (a == "-h" || a == "--help") return true;
  }
  return false;
}

int UsageError(std::string_view command, const std::string& problem) {
  PrintError(command, problem);
  if (const Command* c = FindCommand(command))
    std::fprintf(stderr, "usage: vandrel-shopper-cli %s\n", c->usage);
  return 2;
}

int RunVersion(const Args& args) {
  if (!args.empty()) return UsageError("version", "unexpected argument '" + args.front() + "'");
  std::printf("Vandrel Shopper %s\n", build::kVersionText);
  return 0;
}

namespace {

void PrintUsage(FILE* out) {
  std::fprintf(out, "usage: vandrel-shopper-cli COMMAND [ARGS...]\n\ncommands:\n");
  for (const auto& c : AllCommands()) std::fprintf(out, "  %s\n", c.usage);
}

int Run(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  const std::string_view name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintUsage(stdout);
    return 0;
  }
  const Command* command = FindCommand(name);
  if (!command) {
    PrintError({}, "unknown command '" + std::string(name) + "'");
    PrintUsage(stderr);
    return 2;
  }
  const Args args(argv + 2, argv + argc);
  if (HelpAsked(args)) {
    std::printf("usage: vandrel-shopper-cli %s\n", command->usage);
    return 0;
  }
  return command->run(args);
}

}  // namespace
}  // namespace vandrel::cli

int main(int argc, char** argv) {
  using namespace vandrel::cli;
  // The last resort: whatever a command did not expect ends here, said plainly, never as an abort.
  try {
    return FinishOutput(Run(argc, argv));
  } catch (const std::exception& e) {
    PrintError({}, std::string("internal error: ") + e.what());
  } catch (...) {
    PrintError({}, "internal error: an unknown exception");
  }
  return 1;
}

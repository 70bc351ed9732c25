// "db": maintenance of the database under the root folder.
#include <cstdio>
#include <string>

#include "cli/Commands.h"
#include "cli/StoredSearches.h"
#include "kernel/AppConfig.h"

namespace vandrel::cli {
namespace {

int Usage(const std::string& problem) {
  std::fprintf(stderr, "vandrel-shopper-cli db: %s\n", problem.c_str());
  std::fprintf(stderr, "usage: vandrel-shopper-cli db compact [--root DIR]\n");
  return 2;
}

}  // namespace

int RunDb(const Args& args) {
  std::string action, root;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--root") {
      if (i + 1 >= args.size()) return Usage("missing value after --root");
      root = args[++i];
    } else if (args[i].rfind("--", 0) == 0 || !action.empty()) {
      return Usage("unknown argument '" + args[i] + "'");
    } else {
      action = args[i];
    }
  }
  if (action != "compact") return Usage(action.empty() ? "no action" : "unknown action '" + action + "'");
  const TAppFolders folders(ResolveRootFolder(root), CurrentUserName());
  std::string error;
  if (!TStoredSearches::Compact(folders, error)) {
    std::fprintf(stderr, "vandrel-shopper-cli db: %s\n", error.c_str());
    return 1;
  }
  std::printf("database compacted\n");
  return 0;
}

}  // namespace vandrel::cli

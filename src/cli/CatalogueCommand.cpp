// "catalogue": builds the catalogue of a data folder in memory and prints what a refresh would store.
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/Commands.h"
#include "search/QuorinEngineRepository.h"
#include "storage/StorageDataViews.h"

namespace vandrel::cli {
namespace {

int Usage(const std::string& problem) {
  std::fprintf(stderr, "vandrel-shopper-cli catalogue: %s\n", problem.c_str());
  std::fprintf(stderr, "usage: vandrel-shopper-cli catalogue --data DIR [--debug]\n");
  return 2;
}

}  // namespace

int RunCatalogue(const Args& args) {
  std::string data;
  bool debug = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--debug") {
      debug = true;
    } else if (args[i] == "--data" && i + 1 < args.size()) {
      data = args[++i];
    } else {
      return Usage("unknown argument '" + args[i] + "'");
    }
  }
  if (data.empty()) return Usage("--data is required");
  std::error_code ec;
  if (!std::filesystem::is_directory(data, ec)) return Usage("no data folder " + data);

  TEngineRepository repository;
  repository.Start(data, debug, /*refresh=*/true, {});

  std::printf("search types\n");
  TSearchTypeStorageList& types = repository.SearchTypes();
  for (size_t i = 0; i < types.Count(); ++i) {
    auto* type = static_cast<TSearchTypeStorageItem*>(types.Item(i));
    std::printf("  %-20s version %-4d %s\n", type->SrtName.c_str(), type->Version, type->DisplayName.c_str());
  }
  std::printf("categories\n");
  TCategoryStorageList& categories = repository.Categories();
  for (size_t i = 0; i < categories.Count(); ++i) {
    TCategoryStorageItem* category = categories.Category(i);
    std::printf("  %-20s version %-4d %s (search type %s)\n", category->CatName.c_str(), category->Version,
                category->DisplayName.c_str(), category->SrtName.c_str());
    TEngineStorageList* engines = repository.EngineLists().EngineList(category->CatName);
    if (!engines) continue;
    TStorageDataListView& sorted = TEngineListCache::Sorted(*engines);
    for (size_t j = 0; j < sorted.Count(); ++j) {
      auto* engine = static_cast<TEngineStorageItem*>(sorted.Item(j));
      std::printf("    %-18s version %-4d %-8s %s\n", engine->EngName.c_str(), engine->Version,
                  engine->Enabled ? "enabled" : "disabled", engine->DisplayName.c_str());
    }
  }
  return 0;
}

}  // namespace vandrel::cli

// "catalogue": refreshes the catalogue from a data folder and prints what it holds.
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/CliKernel.h"
#include "cli/CliOutput.h"
#include "cli/Commands.h"
#include "search/QuorinEngineRepository.h"
#include "storage/StorageDataViews.h"

namespace vandrel::cli {
namespace {

void PrintCatalogue(TEngineRepository& repository) {
  std::printf("search types\n");
  TSearchTypeStorageList& types = repository.SearchTypes();
  for (size_t i = 0; i < types.Count(); ++i) {
    auto* type = static_cast<TSearchTypeStorageItem*>(types.Item(i));
    std::printf("  %-20s version %-4d %s\n", TerminalText(type->SrtName).c_str(), type->Version,
                TerminalText(type->DisplayName).c_str());
  }
  std::printf("categories\n");
  TCategoryStorageList& categories = repository.Categories();
  for (size_t i = 0; i < categories.Count(); ++i) {
    TCategoryStorageItem* category = categories.Category(i);
    std::printf("  %-20s version %-4d %s (search type %s)\n", TerminalText(category->CatName).c_str(),
                category->Version, TerminalText(category->DisplayName).c_str(),
                TerminalText(category->SrtName).c_str());
    TEngineStorageList* engines = repository.EngineLists().EngineList(category->CatName);
    if (!engines) continue;
    TStorageDataListView& sorted = TEngineListCache::Sorted(*engines);
    for (size_t j = 0; j < sorted.Count(); ++j) {
      auto* engine = static_cast<TEngineStorageItem*>(sorted.Item(j));
      std::printf("    %-18s version %-4d %-8s %s\n", TerminalText(engine->EngName).c_str(), engine->Version,
                  engine->Enabled ? "enabled" : "disabled", TerminalText(engine->DisplayName).c_str());
    }
  }
}

}  // namespace

int RunCatalogue(const Args& args) {
  TCatalogueArguments o;
  std::string error;
  if (!ParseCatalogueArguments(args, o, error)) return UsageError("catalogue", error);
  std::error_code ec;
  if (!std::filesystem::is_directory(o.Kernel.Data, ec))
    return UsageError("catalogue", "no data folder " + o.Kernel.Data);
  THeadlessKernel kernel;
  if (!OpenKernel(kernel, o.Kernel, "catalogue")) return 1;
  PrintCatalogue(kernel.Repository());
  return 0;
}

}  // namespace vandrel::cli

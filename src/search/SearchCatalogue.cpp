#include "search/SearchCatalogue.h"

#include <filesystem>

#include "engines/SearchTypeCompiler.h"

namespace vandrel {

std::unique_ptr<TSearchTypeReader> LoadSearchType(ISearchCatalogue& catalogue, const std::string& srtName) {
  const std::string file = catalogue.SearchTypeFile(srtName);
  std::error_code error;
  if (srtName.empty() || !std::filesystem::is_regular_file(file, error)) return nullptr;
  auto reader = std::make_unique<TSearchTypeReader>();
  if (TVariableList* constants = catalogue.Constants()) reader->Variables.AppendParent(constants);
  if (!reader->Load(file)) return nullptr;
  return reader;
}

}  // namespace vandrel

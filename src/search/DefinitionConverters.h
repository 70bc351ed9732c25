// Turns the summaries of loaded definitions into the catalogue's stored items.
#pragma once

#include <string>

#include "search/DefinitionReaders.h"
#include "storage/CategoryStorage.h"
#include "storage/EngineStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {

// The user's own column layout (OutputFieldLayout) is left alone.
void ConvertSearchType(TSearchTypeStorageItem& dest, const TSearchTypeSummary& source);
// Leaves the user's limits (ResultsPerEngine, TotalResults) alone; only the defaults come from the file.
void ConvertCategory(TCategoryStorageItem& dest, const TCategorySummary& source);
// Leaves the user's Enabled, UserName and Password alone. `searchType` is the one its category serves.
void ConvertEngine(TEngineStorageItem& dest, const TEngineSummary& source, const std::string& searchType);

}  // namespace vandrel

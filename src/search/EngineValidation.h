// Whether an engine takes a given search: the engine's own "ValidateInputFields" decides.
#pragma once

namespace vandrel {

class ISearchCatalogue;
class TEngineStorageItem;
class TSearchStorageItem;
class TSearchTypeReader;

// Loads the engine of `search`'s category for an instance of `validationType` filled from `search`, and runs
// its "ValidateInputFields" with Valid preset to true. False when the engine does not load or says no.
bool EngineAcceptsSearch(ISearchCatalogue& catalogue, TSearchTypeReader& validationType,
                         const TSearchStorageItem& search, const TEngineStorageItem& engine);

}  // namespace vandrel

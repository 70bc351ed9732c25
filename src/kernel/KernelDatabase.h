// The database side of start-up: which back ends the catalogue and the histories use.
#pragma once

#include <vector>

#include "storage/CodebaseStorageManager.h"

namespace vandrel {

class TSearchHistory;

// Puts the search-type, category and engine-template lists, in that order, on their back ends; the
// storage manager tells them where their tables live.
void AttachDefinitionStorage(TCodebaseStorageManager& storage, const std::vector<TStorageDataList*>& lists);
// Stops the lists asking the storage manager, which is about to go.
void ReleaseDefinitionStorage(TCodebaseStorageManager& storage, const std::vector<TStorageDataList*>& lists);
// The history's searches and results are kept in the tables of their own history folder.
void UseDatabaseForHistory(TCodebaseStorageManager& storage, TSearchHistory& history);

}  // namespace vandrel

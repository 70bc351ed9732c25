// The database side of start-up: which back ends the catalogue and the histories use, and compaction.
// Kept behind plain declarations because the database headers cannot share a unit with the script's.
#pragma once

#include <vector>

namespace vandrel {

class TClassInfo;
class TCodebaseStorageManager;
class TQuorinApplication;
class TSearchHistory;
class TStorageDataList;

// Puts the search-type, category and engine-template lists, in that order, on their back ends; the
// storage manager tells them where their tables live.
void AttachDefinitionStorage(TCodebaseStorageManager& storage, const std::vector<TStorageDataList*>& lists);
// Stops the lists asking the storage manager, which is about to go.
void ReleaseDefinitionStorage(TCodebaseStorageManager& storage, const std::vector<TStorageDataList*>& lists);
// The history's searches and results are kept in the tables of their own history folder.
void UseDatabaseForHistory(TCodebaseStorageManager& storage, TSearchHistory& history);
// What lists on the database log in with.
const TClassInfo& DatabaseLoginInfoClass();
bool DatabaseCompactionDue(double lastCompaction, double now, int delayDays);
// False when any list's back end failed to pack; every list is tried.
bool CompactDatabaseLists(const std::vector<TStorageDataList*>& lists);

}  // namespace vandrel

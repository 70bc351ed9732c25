#include "kernel/KernelDatabase.h"

#include <memory>
#include <string>

#include "search/SearchHistory.h"
#include "storage/CodebaseHistoryStorages.h"
#include "storage/CodebaseStorageManager.h"

namespace vandrel {

void AttachDefinitionStorage(TCodebaseStorageManager& storage, const std::vector<TStorageDataList*>& lists) {
  const char* const classIds[] = {kSearchTypeStorageCodebase, kCategoryStorageCodebase,
                                  kEngineStorageCodebase};
  for (size_t i = 0; i < lists.size() && i < 3; ++i) {
    lists[i]->AttachStorage(classIds[i]);
    lists[i]->AddObserver(&storage);
  }
}

void ReleaseDefinitionStorage(TCodebaseStorageManager& storage, const std::vector<TStorageDataList*>& lists) {
  for (TStorageDataList* list : lists) list->RemoveObserver(&storage);
}

void UseDatabaseForHistory(TCodebaseStorageManager& storage, TSearchHistory& history) {
  THistoryStorage historyStorage;
  historyStorage.Searches = [](const TFolderItem&) { return std::make_shared<TSearchStorage_Codebase>(); };
  historyStorage.Results = [](const TFolderItem&) { return std::make_shared<TResultStorage_Codebase>(); };
  historyStorage.LoginInfoClass = &TCodebaseStorageLoginInfo::StaticClass();
  historyStorage.ReadOnly = storage.ReadOnly();
  historyStorage.BeforeLogin = [&storage](const std::string& folderPath, TStorageLoginInfo& info) {
    if (auto* codebase = dynamic_cast<TCodebaseStorageLoginInfo*>(&info)) codebase->DataPath = folderPath;
    storage.BeforeLogin(nullptr, &info);
  };
  history.SetStorage(std::move(historyStorage));
}

}  // namespace vandrel

// The database side of the stored searches: back ends bound to the history folders, opening, packing.
#include <filesystem>

#include "cli/StoredSearches.h"
#include "platform/MainDispatcher.h"
#include "storage/CodebaseHistoryStorages.h"
#include "storage/CodebaseStorageManager.h"

namespace vandrel::cli {

namespace fs = std::filesystem;

namespace {

// The history asks its back ends to log in without knowing the database's folders; this one knows them.
class TFolderBackEnd : public IStorageManager {
 public:
  TFolderBackEnd(std::unique_ptr<TCodebaseStorage> inner, std::string systemPath, std::string dataPath)
      : Inner_(std::move(inner)), SystemPath_(std::move(systemPath)), DataPath_(std::move(dataPath)) {}

  bool Login(const TBytes&) override {
    TCodebaseStorageLoginInfo info;
    info.SystemPath = SystemPath_;
    info.DataPath = DataPath_;
    TBytes stream;
    info.SaveToStream(stream);
    return Inner_->Login(stream);
  }
  void Logout() override { Inner_->Logout(); }
  bool AddItems(const TBytes& items) override { return Inner_->AddItems(items); }
  bool UpdateItems(const TBytes& items, int fieldIndex) override {
    return Inner_->UpdateItems(items, fieldIndex);
  }
  bool LoadItems(const TBytes& selection, TBytes& result) override {
    return Inner_->LoadItems(selection, result);
  }
  bool DeleteItems(const TBytes& keys) override { return Inner_->DeleteItems(keys); }
  bool DeleteAllItems(const TBytes& selection) override { return Inner_->DeleteAllItems(selection); }
  bool SetItemsField(const TBytes& keys, const TDynamicValue& value) override {
    return Inner_->SetItemsField(keys, value);
  }
  bool GetNextKey(const TBytes& selection, int32_t& key) override {
    return Inner_->GetNextKey(selection, key);
  }
  bool EmptyStorage() override { return Inner_->EmptyStorage(); }
  bool Compact() override { return Inner_->Compact(); }
  IStorageProgress* GetProgress() override { return Inner_->GetProgress(); }
  void SetProgress(IStorageProgress* progress) override { Inner_->SetProgress(progress); }

 private:
  std::unique_ptr<TCodebaseStorage> Inner_;
  std::string SystemPath_, DataPath_;
};

}  // namespace

TStoredSearches::TStoredSearches() = default;

TStoredSearches::~TStoredSearches() {
  if (Runner_) {
    Runner_->Stop(true);
    MainDispatcher::Default().RunUntil([this] { return Runner_->State() == asIdle && !Runner_->IsBusy(); },
                                       std::chrono::seconds(30));
    Runner_->RemoveObserver(this);
  }
  History_.reset();
  Runner_.reset();
  MainDispatcher::Default().ProcessPending();
}

bool TStoredSearches::OpenDatabase(std::string& error) {
  RegisterCodebaseStorages();
  Storage_ = std::make_unique<TCodebaseStorageManager>(Folders_->UserData());
  if (Storage_->Open()) return true;
  error = "Could not access database in " + Folders_->UserData();
  return false;
}

// Searches and their results live in the opened history folder.
THistoryStorage TStoredSearches::HistoryStorage() const {
  const std::string system = Folders_->UserData();
  return {[system](const TFolderItem& f) -> std::shared_ptr<IStorageManager> {
            return std::make_shared<TFolderBackEnd>(std::make_unique<TSearchStorage_Codebase>(), system,
                                                    WithTrailingSeparator(f.Path()));
          },
          [system](const TFolderItem& f) -> std::shared_ptr<IStorageManager> {
            return std::make_shared<TFolderBackEnd>(std::make_unique<TResultStorage_Codebase>(), system,
                                                    WithTrailingSeparator(f.Path()));
          }};
}

bool TStoredSearches::Compact(const TAppFolders& folders, std::string& error) {
  RegisterCodebaseStorages();
  TCodebaseStorageManager storage(folders.UserData());
  if (!storage.Open()) {
    error = "Could not access database in " + folders.UserData();
    return false;
  }
  bool ok = true;
  for (const char* name : {kCompareFolder, kReviewsFolder}) {
    const std::string folder = folders.UserFolder() + name + "/";
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) continue;
    for (int kind = 0; kind < 2; ++kind) {
      std::unique_ptr<TCodebaseStorage> inner;
      if (kind == 0)
        inner = std::make_unique<TSearchStorage_Codebase>();
      else
        inner = std::make_unique<TResultStorage_Codebase>();
      TFolderBackEnd backEnd(std::move(inner), folders.UserData(), folder);
      if (!backEnd.Login({}) || !backEnd.Compact()) {
        error = "Could not compact the tables in " + folder;
        ok = false;
      }
      backEnd.Logout();
    }
  }
  return ok;
}

}  // namespace vandrel::cli

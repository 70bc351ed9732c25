#include "storage/CodebaseStorageManager.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <thread>

#include "platform/Format.h"
#include "storage/CodebaseDefinitionStorages.h"
#include "storage/CodebaseHistoryStorages.h"

namespace vandrel {

const char* const kSearchTypeStorageCodebase = "TSearchTypeStorage_Codebase";
const char* const kCategoryStorageCodebase = "TCategoryStorage_Codebase";
const char* const kEngineStorageCodebase = "TEngineStorage_Codebase";
const char* const kSearchStorageCodebase = "TSearchStorage_Codebase";
const char* const kResultStorageCodebase = "TResultStorage_Codebase";

void RegisterCodebaseStorages() {
  RegisterClass(TCodebaseStorageLoginInfo::StaticClass());
  RegisterStorageManagerClass(kSearchTypeStorageCodebase,
                              [] { return std::make_shared<TSearchTypeStorage_Codebase>(); });
  RegisterStorageManagerClass(kCategoryStorageCodebase,
                              [] { return std::make_shared<TCategoryStorage_Codebase>(); });
  RegisterStorageManagerClass(kEngineStorageCodebase,
                              [] { return std::make_shared<TEngineStorage_Codebase>(); });
  RegisterStorageManagerClass(kSearchStorageCodebase,
                              [] { return std::make_shared<TSearchStorage_Codebase>(); });
  RegisterStorageManagerClass(kResultStorageCodebase,
                              [] { return std::make_shared<TResultStorage_Codebase>(); });
}

TCodebaseStorageManager::TCodebaseStorageManager(std::string userDataFolder)
    : UserData_(WithTrailingSeparator(std::move(userDataFolder))) {
  RegisterCodebaseStorages();
}

TCodebaseStorageManager::~TCodebaseStorageManager() {
  Close();
}

namespace {

// A folder the kernel cannot write: a read-only mount, or one without write permission.
bool FolderIsReadOnly(const std::string& folder) {
  return ::access(folder.c_str(), W_OK) != 0 && (errno == EROFS || errno == EACCES);
}

}  // namespace

bool TCodebaseStorageManager::Open(bool allowReadOnly) {
  Refusal_.clear();
  ReadOnly_ = false;
  const std::string readOnlyText = Format("The database in %0:s is read-only.", {UserData_});
  // A folder that cannot take the journal cannot take a commit either, whatever its files allow.
  bool readOnly = allowReadOnly && FolderIsReadOnly(UserData_);
  const auto deadline = std::chrono::steady_clock::now() + LockWait;
  for (;;) {
    Db_ = TQuorinDb::Acquire();
    if (readOnly && !Db_->IsOpen()) Db_->SetReadOnly(true);
    if (Db_->EnsureDictionary(UserData_)) {
      ReadOnly_ = Db_->ReadOnly();
      if (ReadOnly_) Refusal_ = readOnlyText;
      return true;
    }
    const int cause = Db_->LastCauseCode();
    const std::string message = Db_->LastErrorMessage();
    Db_.reset();
    if (cause == xbeLocked && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    const bool cannotWrite = cause == xbeReadOnly || FolderIsReadOnly(UserData_);
    if (cannotWrite && allowReadOnly && !readOnly) {
      readOnly = true;
      continue;
    }
    if (cause == xbeLocked)
      Refusal_ = Format("The database in %0:s is in use by another process.", {UserData_});
    else if (cannotWrite && readOnly && cause == xbeReadOnly)
      Refusal_ = readOnlyText + " " + message + ".";
    else if (cannotWrite)
      Refusal_ = readOnlyText;
    else if (cause == xbeDamaged || cause == xbeMemo || cause == xbeJournal)
      Refusal_ = Format("The database in %0:s is damaged: %1:s", {UserData_, message});
    else
      Refusal_ = Format("Could not access database in %0:s: %1:s", {UserData_, message});
    return false;
  }
}

void TCodebaseStorageManager::Close() {
  Db_.reset();
}

void TCodebaseStorageManager::BeforeLogin(TStorageDataList*, TStorageLoginInfo* loginInfo) {
  auto* info = dynamic_cast<TCodebaseStorageLoginInfo*>(loginInfo);
  if (info == nullptr) return;
  info->SystemPath = UserData_;
  info->DataPath = WithTrailingSeparator(info->DataPath.empty() ? UserData_ : info->DataPath);
}

bool IsCompactionDue(double lastCompaction, double now, int delayDays) {
  double days = std::fabs(now - lastCompaction);
  return !(std::trunc(days) < delayDays);
}

bool CompactLists(const std::vector<TStorageDataList*>& lists) {
  bool ok = true;
  for (TStorageDataList* list : lists) {
    if (list == nullptr || list->Storage() == nullptr) continue;
    ok = list->Storage()->Compact() && ok;
  }
  return ok;
}

}  // namespace vandrel

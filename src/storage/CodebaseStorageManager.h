// Sets the database back ends up: which back end serves which list, where each list's tables live, and
// the shared database held open while the program runs.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "storage/CodebaseStorage.h"

namespace vandrel {

// Class identifiers under which AttachStorage finds the five back ends.
extern const char* const kSearchTypeStorageCodebase;
extern const char* const kCategoryStorageCodebase;
extern const char* const kEngineStorageCodebase;
extern const char* const kSearchStorageCodebase;
extern const char* const kResultStorageCodebase;

// Makes the five back ends and their login information known by name. Idempotent.
void RegisterCodebaseStorages();

// Main thread only.
class TCodebaseStorageManager : public IStorageDataListObserver {
 public:
  explicit TCodebaseStorageManager(std::string userDataFolder);
  ~TCodebaseStorageManager() override;

  // Opens the database in the user-data folder; false when it cannot be accessed (the last error is the
  // database's; RefusalText says why). Another process holding the files is waited for a little first.
  // A database that cannot be written (a read-only mount, no permission) is refused, or with
  // `allowReadOnly` opened for reading only.
  bool Open(bool allowReadOnly = false);
  // Why the last Open failed, for the user: in use by another process, read-only, or damaged (naming
  // the file). After a read-only open, why nothing can be written; otherwise empty after a success.
  const std::string& RefusalText() const { return Refusal_; }
  // The last Open succeeded for reading only.
  bool ReadOnly() const { return ReadOnly_; }
  // How long Open waits for another process to let go of the files.
  std::chrono::milliseconds LockWait{2000};
  void Close();
  TQuorinDb* Database() const { return Db_.get(); }
  const std::string& UserDataFolder() const { return UserData_; }

  // SystemPath is the user-data folder; DataPath the folder a search history already gave its search and
  // result lists, else the user-data folder as well.
  void BeforeLogin(TStorageDataList* list, TStorageLoginInfo* loginInfo) override;

 private:
  std::string UserData_;
  std::shared_ptr<TQuorinDb> Db_;  // keeps the dictionary open between logins
  std::string Refusal_;
  bool ReadOnly_ = false;
};

// Whether the start-up compaction is due: at least `delayDays` whole days between the two date-times
// (either way round); a date never set is always long enough ago.
bool IsCompactionDue(double lastCompaction, double now, int delayDays);
// Packs the lists' tables in the given order; false when any back end failed (every list is still tried).
bool CompactLists(const std::vector<TStorageDataList*>& lists);

}  // namespace vandrel

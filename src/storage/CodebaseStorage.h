// What every database back end shares: login over numbered tables, batches, progress, blob rows, packing.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "storage/QuorinDb.h"
#include "storage/StorageDataLists.h"

namespace vandrel {

// The folders a back end opens its tables in; filled in by the storage manager before each login.
class TCodebaseStorageLoginInfo : public TStorageLoginInfo {
  VANDREL_PERSISTENT(TCodebaseStorageLoginInfo)
 public:
  std::string DataPath;    // the list's own tables (a search-history folder for searches and results)
  std::string SystemPath;  // the dictionary and the definition tables
};

// Base of the five back ends. Every operation catches all failures and answers false; kernel errors are
// kept on the shared database. Main thread only.
class TCodebaseStorage : public IStorageManager {
 public:
  ~TCodebaseStorage() override;

  bool Login(const TBytes& loginInfo) override;
  void Logout() override;
  bool EmptyStorage() override;
  bool Compact() override;
  // Only the back ends of numbered items have keys to give.
  bool GetNextKey(const TBytes&, int32_t&) override { return false; }
  IStorageProgress* GetProgress() override { return Progress_; }
  void BeginBatch() override;
  bool EndBatch(bool keep) override;
  void SetProgress(IStorageProgress* progress) override { Progress_ = progress; }

  bool LoggedIn() const { return !Tables_.empty(); }
  TQuorinDb* Database() const { return Db_.get(); }
  int LoginNumber() const { return Number_; }
  const std::string& DataPath() const { return DataPath_; }
  // The logical names of the open tables, in login order.
  std::vector<std::string> TableNames() const;

 protected:
  // `kind` numbers the logins; `dictionaryNames` are the tables opened at login, in order.
  TCodebaseStorage(std::string kind, std::vector<std::string> dictionaryNames);

  TTable* Table(size_t i) const { return Tables_[i]; }
  static TField* Field(TTable* table, const char* name);

  // Runs `body` as one batch: every change reaches the files or none does. Exceptions answer false.
  bool RunBatch(const std::function<bool()>& body);
  // Runs a reading operation; exceptions answer false.
  bool Guard(const std::function<bool()>& body);

  void ProgressStart();
  // After item i of n: every fifth item from the first reports round((i + 1) / n * 99).
  void ProgressItem(size_t i, size_t n);
  void ProgressEnd();

  // Marks deleted every row whose leading primary-key fields equal `key` (every row when empty).
  bool DeleteRows(TTable* table, const std::vector<TDbKeyValue>& key);
  // Seeks the primary key; true when a row was found.
  bool SeekKey(TTable* table, const std::vector<TDbKeyValue>& key);
  // Replaces the blob of row `number`, or appends the row when it is missing.
  bool StoreBlobRow(TTable* table, int32_t number, const char* blobField, const TBytes& data);
  // The blob of row `number`; empty when there is none.
  TBytes ReadBlobRow(TTable* table, int32_t number, const char* blobField);
  // The highest value of the primary key's last field among rows whose leading fields equal `key`.
  int32_t HighestKey(TTable* table, const std::vector<TDbKeyValue>& key, const char* field);
  // A kernel error that spoils one row but not the whole operation: kept on the database.
  void NoteError(int code, const std::string& message);
  // Another back end's table in this login's data folder, opened on first use under a name of this
  // login's own and forgotten at logout; null when it cannot be opened.
  TTable* CompanionTable(const std::string& dictionaryName);

 private:
  std::string Kind_;
  std::vector<std::string> DictionaryNames_;
  std::shared_ptr<TQuorinDb> Db_;
  std::vector<TTable*> Tables_;      // owned by the database
  std::vector<TTable*> Companions_;  // owned by the database
  std::string DataPath_;
  int Number_ = 0;
  int OuterBatches_ = 0;                  // BeginBatch calls not yet ended
  IStorageProgress* Progress_ = nullptr;  // not owned
};

// Reads a stream into a fresh transaction list of the back end's own class; throws on bytes that do not
// read.
template <class T>
std::unique_ptr<T> ReadTransaction(const TBytes& bytes) {
  auto list = std::make_unique<T>();
  ReadObjectStream(bytes, *list);
  return list;
}

// Keys are kept in four-digit columns: anything outside 0..9999 could be stored but never found again.
bool IsStorableKey(int64_t key);

}  // namespace vandrel

// The database back ends of a search history: its searches and the results of each search.
#pragma once

#include "storage/CodebaseStorage.h"
#include "storage/ResultStorage.h"
#include "storage/SearchStorage.h"

namespace vandrel {

// Searches of one history folder, keyed by their number, with the folder's filter and group blobs.
class TSearchStorage_Codebase
    : public TCodebaseRowStorage<TSearchStorage_Codebase, TSearchStorageTransactionList, TSearchStorageItem> {
 public:
  TSearchStorage_Codebase();
  // Past the highest search number of every table of the folder that refers to searches, so a search
  // table set aside after damage never hands out a number whose results are still stored.
  bool GetNextKey(const TBytes& selection, int32_t& key) override;
  bool EmptyStorage() override;

 private:
  using TList = TSearchStorageTransactionList;
  VANDREL_CODEBASE_ROWS(TList, TSearchStorageItem);
  // A deleted search takes its stored results along, so a later search given its number starts empty.
  bool DeleteDependents(const TList&, const TDbKey& key) { return DeleteResultsOf(key); }
  std::optional<bool> UpdateOther(const TList& list, int fieldIndex);
  std::optional<std::pair<const char*, int>> FlagOf(int fieldIndex) const;
  bool AfterAdd(const TList& list);
  void AfterLoad(const TList&, TList& out);

  void WriteColumns(TTable* t, const TSearchStorageItem& s);
  // Every row of search `srhNum` (every search's when empty) in the four result tables of the folder.
  bool DeleteResultsOf(const TDbKey& srhNum);
};

// Results of one search at a time (the transaction's SrhNum), keyed by their number within it.
class TResultStorage_Codebase
    : public TCodebaseRowStorage<TResultStorage_Codebase, TResultStorageTransactionList, TResultStorageItem> {
 public:
  TResultStorage_Codebase();
  // Also deletes engine rows hidden behind an earlier row of the same key (left by older versions): they
  // would join whichever result later takes that number once the earlier row goes.
  bool Login(const TBytes& loginInfo) override;
  bool GetNextKey(const TBytes& selection, int32_t& key) override;

  // Results of the last load whose stored fields could not be read (they load without them).
  int DamagedOnLoad() const { return DamagedOnLoad_; }

 private:
  using TList = TResultStorageTransactionList;
  VANDREL_CODEBASE_ROWS(TList, TResultStorageItem);
  TDbKey SelectionKey(const TList& list) const { return {list.SrhNum}; }
  bool Usable(const TList& list) const { return IsStorableKey(list.SrhNum); }
  // One engine row per engine that found the result, however often the engine is named.
  bool WriteDependents(const TList& list, const TResultStorageItem& item);
  bool DeleteDependents(const TList&, const TDbKey& key);
  std::optional<bool> UpdateOther(const TList& list, int fieldIndex);
  std::optional<std::pair<const char*, int>> FlagOf(int fieldIndex) const;
  bool AfterAdd(const TList& list);
  void AfterLoad(const TList& selection, TList& out);

  int DamagedOnLoad_ = 0;
  int DamagedCounting_ = 0;  // during a load
};

}  // namespace vandrel

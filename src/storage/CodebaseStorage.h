// What every database back end shares: login over numbered tables, batches, progress, blob rows, packing.
#pragma once

#include <functional>
#include <memory>
#include <optional>
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

// Reads a stream into a fresh transaction list of the back end's own class; throws on bytes that do not
// read.
template <class T>
std::unique_ptr<T> ReadTransaction(const TBytes& bytes) {
  auto list = std::make_unique<T>();
  ReadObjectStream(bytes, *list);
  return list;
}

// The primary-key values of one row, or the leading ones of a run of rows.
using TDbKey = std::vector<TDbKeyValue>;

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
  // The column `name` of `table`; a missing one throws, failing the operation that asked for it.
  static TField* Field(TTable* table, const char* name);
  static TField* Field(TTable* table, const std::string& name) { return Field(table, name.c_str()); }
  // The logical names of the open tables, in login order.
  std::vector<std::string> TableNames() const;

 protected:
  // `kind` numbers the logins; `dictionaryNames` are the tables opened at login, in order.
  TCodebaseStorage(std::string kind, std::vector<std::string> dictionaryNames);

  TTable* Table(size_t i) const { return Tables_[i]; }
  size_t TableCount() const { return Tables_.size(); }
  // Appends `count` rows numbered from 1 in `numberField`, each under the search type `srtName` unless
  // that is null; `columns(i)` fills the rest of row i.
  template <class Columns>
  static bool AppendNumberedRows(TTable* t, const char* numberField, const std::string* srtName, size_t count,
                                 Columns columns) {
    for (size_t i = 0; i < count; ++i) {
      if (!t->AppendStart()) return false;
      if (srtName) Field(t, "SrtName")->SetAsString(*srtName);
      Field(t, numberField)->SetAsInteger(static_cast<int64_t>(i) + 1);
      columns(i);
      if (!t->Append()) return false;
    }
    return true;
  }

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

// The row loops every back end shares. A back end keeps one row per item in its first table (its main
// table) and gives only what differs, as members this base calls (declare it a friend):
//   std::optional<TDbKey> KeyOf(const TList&, const TPersistent* entry)   an item or key entry; none: skip
//   bool WriteRow(const TList&, const TItem&)              key and columns of a new row of the main table
//   void ReadRow(const TList& selection, TItem&)           the current row (and what hangs on it)
//   bool UpdateRow(const TList&, const TItem&, int fieldIndex)   the columns a field index names
// and may hide these defaults:
//   TDbKey SelectionKey(const TList&)                      leading key of every row the list covers
//   TDbKey RowKey(const TList&)                            key of the current main row (LoadItems)
//   bool Usable(const TList&)                              false refuses the whole operation
//   bool WriteDependents(const TList&, const TItem&)       rows of other tables after the main row
//   bool DeleteDependents(const TList&, const TDbKey&)     rows of other tables that hang on a key
//   std::optional<bool> UpdateOther(const TList&, int)     a field index handled apart (blobs, layouts)
//   std::optional<std::pair<const char*, int>> FlagOf(int fieldIndex)   SetItemsField's column and bit
//   bool AfterAdd(const TList&)   void AfterLoad(const TList& selection, TList& out)
template <class TDerived, class TList, class TItem>
class TCodebaseRowStorage : public TCodebaseStorage {
 public:
  bool AddItems(const TBytes& items) override {
    return RunBatch([&] {
      auto list = ReadTransaction<TList>(items);
      if (!Self().Usable(*list)) return false;
      TTable* main = Table(0);
      ProgressStart();
      for (size_t i = 0; i < list->Count(); ++i) {
        auto* item = list->template ItemAs<TItem>(i);
        if (item == nullptr) continue;
        if (!main->AppendStart() || !Self().WriteRow(*list, *item) || !main->Append() ||
            !Self().WriteDependents(*list, *item))
          return false;
        ProgressItem(i, list->Count());
      }
      bool ok = Self().AfterAdd(*list);
      ProgressEnd();
      return ok;
    });
  }

  bool UpdateItems(const TBytes& items, int fieldIndex) override {
    return RunBatch([&] {
      auto list = ReadTransaction<TList>(items);
      if (!Self().Usable(*list)) return false;
      if (std::optional<bool> handled = Self().UpdateOther(*list, fieldIndex)) return *handled;
      TTable* main = Table(0);
      ProgressStart();
      for (size_t i = 0; i < list->Count(); ++i) {
        auto* item = list->template ItemAs<TItem>(i);
        if (item == nullptr) continue;
        std::optional<TDbKey> key = Self().KeyOf(*list, item);
        if (!key || !SeekKey(main, *key)) continue;
        if (!Self().UpdateRow(*list, *item, fieldIndex) || !main->Flush()) return false;
        ProgressItem(i, list->Count());
      }
      ProgressEnd();
      return true;
    });
  }

  bool LoadItems(const TBytes& selection, TBytes& result) override {
    return Guard([&] {
      auto sel = ReadTransaction<TList>(selection);
      if (!Self().Usable(*sel)) return false;
      TTable* main = Table(0);
      ProgressStart();
      std::vector<TDbKey> keys;
      if (sel->Count() > 0) {
        for (size_t i = 0; i < sel->Count(); ++i) {
          std::optional<TDbKey> key = Self().KeyOf(*sel, sel->Item(i));
          if (!key) return false;
          keys.push_back(std::move(*key));
        }
      } else {
        for (bool found = SeekKey(main, Self().SelectionKey(*sel)); found; found = main->SeekNext())
          keys.push_back(Self().RowKey(*sel));
      }
      TList out;
      for (size_t i = 0; i < keys.size(); ++i) {
        if (!SeekKey(main, keys[i])) return false;
        auto item = std::make_unique<TItem>();
        Self().ReadRow(*sel, *item);
        out.Add(std::move(item));
        ProgressItem(i, keys.size());
      }
      Self().AfterLoad(*sel, out);
      result.clear();
      WriteObjectStream(result, out);
      ProgressEnd();
      return true;
    });
  }

  bool DeleteItems(const TBytes& keys) override {
    return RunBatch([&] {
      auto list = ReadTransaction<TList>(keys);
      if (!Self().Usable(*list)) return false;
      ProgressStart();
      for (size_t i = 0; i < list->Count(); ++i) {
        std::optional<TDbKey> key = Self().KeyOf(*list, list->Item(i));
        if (!key) continue;
        if (!DeleteRows(Table(0), *key) || !Self().DeleteDependents(*list, *key)) return false;
        ProgressItem(i, list->Count());
      }
      ProgressEnd();
      return true;
    });
  }

  // Every row of the selection in every table of the login, and what hangs on them elsewhere.
  bool DeleteAllItems(const TBytes& selection) override {
    return RunBatch([&] {
      auto sel = ReadTransaction<TList>(selection);
      if (!Self().Usable(*sel)) return false;
      TDbKey key = Self().SelectionKey(*sel);
      for (size_t i = 0; i < TableCount(); ++i) {
        if (!DeleteRows(Table(i), key)) return false;
      }
      return Self().DeleteDependents(*sel, key);
    });
  }

  // Sets or clears one bit of one column in each listed row.
  bool SetItemsField(const TBytes& keys, const TDynamicValue& value) override {
    return RunBatch([&] {
      auto list = ReadTransaction<TList>(keys);
      std::optional<std::pair<const char*, int>> flag = Self().FlagOf(list->FieldIndex);
      if (!flag) return true;
      if (!Self().Usable(*list)) return false;
      TTable* main = Table(0);
      for (size_t i = 0; i < list->Count(); ++i) {
        std::optional<TDbKey> key = Self().KeyOf(*list, list->Item(i));
        if (!key || !SeekKey(main, *key)) continue;
        TField* f = Field(main, flag->first);
        int bits = f->AsShort();
        f->SetAsShort(value.AsBoolean() ? (bits | flag->second) : (bits & ~flag->second));
        if (!main->Flush()) return false;
      }
      return true;
    });
  }

 protected:
  using TCodebaseStorage::TCodebaseStorage;

  TDbKey SelectionKey(const TList&) const { return {}; }
  bool Usable(const TList&) const { return true; }
  bool WriteDependents(const TList&, const TItem&) { return true; }
  bool DeleteDependents(const TList&, const TDbKey&) { return true; }
  std::optional<bool> UpdateOther(const TList&, int) { return std::nullopt; }
  std::optional<std::pair<const char*, int>> FlagOf(int) const { return std::nullopt; }
  bool AfterAdd(const TList&) { return true; }
  void AfterLoad(const TList&, TList&) {}

 private:
  TDerived& Self() { return static_cast<TDerived&>(*this); }
};

// Declares, inside a back end derived from TCodebaseRowStorage, the members every back end must give its
// row loops; the optional ones are declared by the back ends that hide a default.
#define VANDREL_CODEBASE_ROWS(TList, TItem)                                       \
  friend TCodebaseRowStorage;                                                     \
  std::optional<TDbKey> KeyOf(const TList& list, const TPersistent* entry) const; \
  TDbKey RowKey(const TList& list) const;                                         \
  bool WriteRow(const TList& list, const TItem& item);                            \
  void ReadRow(const TList& selection, TItem& item);                              \
  bool UpdateRow(const TList& list, const TItem& item, int fieldIndex)

// Keys are kept in four-digit columns: anything outside 0..9999 could be stored but never found again.
bool IsStorableKey(int64_t key);

}  // namespace vandrel

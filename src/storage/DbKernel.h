// Database kernel: tables, fields and indexes over the xBase engine, defined in five dictionary tables.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/xbase/XbEngine.h"

namespace vandrel {

class TDatabase;
class TTable;
class TField;
class TIndex;

// Kernel data types. VALUES: stored in the dictionary (FldDataType); never renumber.
enum class TDbDataType : int {
  dtBlob = 1,        // binary memo
  dtNumber = 2,      // N, accessed as a double
  dtDateTime = 3,    // C 8: the raw bytes of a double
  dtFileNumber = 4,  // N, numeric column of a table read without dictionary
  dtMemo = 5,        // text memo
  dtInteger = 6,     // N with 0 decimals; also Booleans in width 1
  dtString = 7,      // C, trimmed on reading
  dtLong = 8,        // C 4: raw little-endian 32-bit integer
  dtLogical = 9,     // L
  dtShort = 10,      // C 2: raw little-endian 16-bit integer
};

// Kernel error codes. VALUES: shown in messages and kept as the last error.
enum TDbError : int {
  dbeCannotCreateDictionary = -3001,
  dbeTableOpened = -3002,
  dbeStructureMismatch = -3003,
  dbeWrongType = -3004,
  dbeSystemTable = -3005,
};

class TDbItem {
 public:
  TDbItem(TDatabase* database, std::string name, int order, std::string physicalName);
  virtual ~TDbItem() = default;

  TDatabase* Database() const { return database_; }
  const std::string& Name() const { return name_; }
  int Order() const { return order_; }
  void SetOrder(int order) { order_ = order; }
  const std::string& PhysicalName() const { return physicalName_; }

 private:
  TDatabase* database_;
  std::string name_;
  int order_;
  std::string physicalName_;  // the logical name when none was given
};

class TField : public TDbItem {
 public:
  TField(TTable* table, std::string name, std::string physicalName, TDbDataType dataType, int width,
         int decimals, int order);

  TTable* Table() const { return table_; }
  TDbDataType DataType() const { return dataType_; }
  int Width() const { return width_; }
  int Decimals() const { return decimals_; }
  char XBaseType() const;

  // Accessors check the kernel type first: a mismatch records the wrong-type error and reads as 0, empty
  // or false. Setters answer false when the value was not taken.
  bool AsBoolean() const;
  bool SetAsBoolean(bool value);
  int64_t AsInteger() const;
  bool SetAsInteger(int64_t value);
  double AsDouble() const;
  bool SetAsDouble(double value);
  std::string AsString() const;
  bool SetAsString(std::string_view value);
  double AsDateTime() const;
  bool SetAsDateTime(double value);
  int32_t AsLong() const;
  bool SetAsLong(int32_t value);
  int16_t AsShort() const;
  // Counts wider than 16 bits are clamped to the nearest value the column can hold.
  bool SetAsShort(int64_t value);
  std::string AsStream() const;
  bool SetAsStream(std::string_view bytes);

  int EngineIndex() const { return engineIndex_; }
  void Bind(int engineIndex) { engineIndex_ = engineIndex; }

 private:
  bool Check(std::initializer_list<TDbDataType> allowed) const;
  IXbTable* Handle() const;
  bool After(bool ok) const;

  TTable* table_;
  TDbDataType dataType_;
  int width_;
  int decimals_;
  int engineIndex_ = -1;  // position in the open file, -1 when unbound
};

class TIndexField : public TDbItem {
 public:
  TIndexField(TIndex* index, TField* field, int order, bool ascending);
  TIndex* Index() const { return index_; }
  TField* Field() const { return field_; }
  bool Ascending() const { return ascending_; }

 private:
  TIndex* index_;
  TField* field_;
  bool ascending_;
};

class TIndexFieldList {
 public:
  explicit TIndexFieldList(TIndex* index) : index_(index) {}
  TIndexField* AddIndexField(TField* field, bool ascending);
  int Count() const { return static_cast<int>(items_.size()); }
  TIndexField* operator[](int i) const { return items_[static_cast<size_t>(i)].get(); }

 private:
  TIndex* index_;
  std::vector<std::unique_ptr<TIndexField>> items_;
};

class TIndex : public TDbItem {
 public:
  // `duplicates` 0 makes a unique index; any other value admits duplicate keys.
  TIndex(TTable* table, std::string name, std::string tagName, int duplicates, int order);

  TTable* Table() const { return table_; }
  int Duplicates() const { return duplicates_; }
  bool Unique() const { return duplicates_ == 0; }
  TIndexFieldList& Fields() { return fields_; }
  const TIndexFieldList& Fields() const { return fields_; }
  const std::string& KeyExpression() const { return expression_; }
  void Recompute();

 private:
  TTable* table_;
  int duplicates_;
  TIndexFieldList fields_;
  std::string expression_;
};

// How a column is declared through the field adders.
enum class TColumnKind { ckString, ckInteger, ckFlag, ckMemo, ckBlob, ckDate, ckLong, ckShort };

struct TSchemaColumn {
  std::string Name;
  std::string PhysicalName;  // empty: the logical name (the file cuts it to 10 characters)
  TColumnKind Kind;
  int Width = 0;  // strings and integers only
};

class TFieldList {
 public:
  explicit TFieldList(TTable* table) : table_(table) {}
  TField* Add(const std::string& name, const std::string& physicalName, TDbDataType dataType, int width,
              int decimals);
  TField* AddInteger(const std::string& name, const std::string& physicalName, int width);
  TField* AddFlag(const std::string& name, const std::string& physicalName);
  TField* AddMemo(const std::string& name, const std::string& physicalName);
  TField* AddString(const std::string& name, const std::string& physicalName, int width);
  TField* AddDateTime(const std::string& name, const std::string& physicalName);
  TField* AddLong(const std::string& name, const std::string& physicalName);
  TField* AddShort(const std::string& name, const std::string& physicalName);
  TField* AddBlob(const std::string& name, const std::string& physicalName);
  TField* AddColumn(const TSchemaColumn& column);

  TField* Find(std::string_view name) const;  // letter case ignored
  TField* operator[](int order) const { return items_[static_cast<size_t>(order)].get(); }
  int Count() const { return static_cast<int>(items_.size()); }
  void Clear() { items_.clear(); }

 private:
  TTable* table_;
  std::vector<std::unique_ptr<TField>> items_;
};

class TIndexList {
 public:
  explicit TIndexList(TTable* table) : table_(table) {}
  TIndex* AddIndex(const std::string& name, const std::string& tagName, int duplicates);
  TIndex* Find(std::string_view name) const;
  TIndex* operator[](int order) const { return items_[static_cast<size_t>(order)].get(); }
  TIndex* Default() const { return items_.empty() ? nullptr : items_.front().get(); }
  int Count() const { return static_cast<int>(items_.size()); }

 private:
  TTable* table_;
  std::vector<std::unique_ptr<TIndex>> items_;
};

// A key value for Seek: an integer, a text, or a floating-point number (which no key can be built from).
class TDbKeyValue {
 public:
  TDbKeyValue(int v) : value_(int64_t{v}) {}
  TDbKeyValue(long v) : value_(static_cast<int64_t>(v)) {}
  TDbKeyValue(long long v) : value_(static_cast<int64_t>(v)) {}
  TDbKeyValue(const char* v) : value_(std::string(v ? v : "")) {}
  TDbKeyValue(std::string v) : value_(std::move(v)) {}
  TDbKeyValue(std::string_view v) : value_(std::string(v)) {}
  TDbKeyValue(double v) : value_(v) {}

  const int64_t* Integer() const { return std::get_if<int64_t>(&value_); }
  const std::string* Text() const { return std::get_if<std::string>(&value_); }

 private:
  std::variant<int64_t, std::string, double> value_;
};

class TTable : public TDbItem {
 public:
  TTable(TDatabase* database, std::string name, std::string physicalName, int order, bool system);
  ~TTable() override;

  const std::string& Path() const { return path_; }
  bool SetPath(const std::string& path);  // refused while open
  TFieldList& Fields() { return fields_; }
  TIndexList& Indexes() { return indexes_; }
  TIndex* SelectedIndex() const { return selected_; }
  bool IsOpen() const { return handle_ != nullptr; }
  bool IsSystem() const { return system_; }
  bool FieldsFromFile() const { return fieldsFromFile_; }
  void SetFieldsFromFile(bool on) { fieldsFromFile_ = on; }
  bool StrictTyping() const { return true; }
  const std::string& SeekKey() const { return seekKey_; }
  IXbTable* Handle() const { return handle_.get(); }
  // The path of the data file; a physical name that carries its own folder takes the table's path instead.
  std::string FileName() const;

  bool Open();
  // Creates the file (only where none with data exists) and its tags.
  bool Create();
  void Close();
  bool RegisterInDictionary();
  bool SelectIndex(TIndex* index);
  bool First();
  bool Next();
  // Builds a key from `values` for index fields 0..lastPosition of the selected index and seeks it.
  bool Seek(const std::vector<TDbKeyValue>& values, int lastPosition);
  bool SeekNext();
  bool SeekRaw(const std::string& key);
  // The formatted key; false when a value cannot be formatted for its field.
  bool BuildKey(const std::vector<TDbKeyValue>& values, int lastPosition, std::string& key) const;
  bool AppendStart();
  bool Append();
  bool Delete();
  bool Flush();
  // Removes deleted records; with `reopen` also compacts the memo file. True only when all succeeded.
  // Not inside a batch: the new files are swapped in by a commit of their own.
  bool Pack(bool reopen);
  // 0 success, -2 data file unreadable, -4 read or write failed, -5 the new files could not be swapped in.
  // Not inside a batch.
  int CompactMemo();
  bool Eof() const { return !handle_ || handle_->Eof(); }
  uint32_t RecordCount() const { return handle_ ? handle_->RecordCount() : 0; }

 private:
  bool CreateIndexes();
  bool BindFields();
  bool After(bool ok);

  std::string path_;  // folder with a trailing "/"
  TFieldList fields_;
  TIndexList indexes_;
  TIndex* selected_ = nullptr;  // none = record order
  std::unique_ptr<IXbTable> handle_;
  std::string seekKey_;
  bool system_;
  bool fieldsFromFile_ = false;
};

// One thread at a time (the main thread); no locks of its own. Other processes are kept out of the files
// by the engine's exclusive locks.
class TDatabase {
 public:
  // Tests pass a file system of their own; by default the real one.
  explicit TDatabase(std::shared_ptr<IXbFileSystem> fs = nullptr);
  ~TDatabase();

  const std::string& Path() const { return path_; }
  void SetPath(const std::string& path);  // a trailing "/" is added
  void SetMemoBlockSize(int size);
  int MemoBlockSize() const { return memoBlockSize_; }

  // Before OpenDictionary: the files are only read, and every change is refused (see IXbEngine).
  void SetReadOnly(bool on) { engine_->SetReadOnly(on); }
  bool ReadOnly() const { return engine_->ReadOnly(); }
  bool OpenDictionary();
  bool IsOpen() const { return open_; }
  void CloseAll();
  TTable* DefineTable(const std::string& name, const std::string& physicalName);
  TTable* DefineSystemTable(const std::string& name, const std::string& physicalName);
  // Defines a table from the dictionary entry `dictionaryName`; nullptr when there is none.
  TTable* OpenDefinedTable(const std::string& name, const std::string& physicalName, bool allowSystem,
                           const std::string& dictionaryName);
  void ForgetTable(const std::string& name);
  TTable* FindTable(std::string_view name) const;
  int TableCount() const { return static_cast<int>(tables_.size()); }

  // Several changes that reach the files together or not at all. Nested batches join the outer one.
  void BeginBatch();
  bool CommitBatch();
  void RollbackBatch();

  void ClearError();
  int LastErrorCode() const { return errorCode_; }
  const std::string& LastErrorMessage() const { return errorMessage_; }
  // The engine's code behind a kernel error that wraps it (a dictionary that could not be opened),
  // else the last error code itself.
  int LastCauseCode() const { return causeCode_ != 0 ? causeCode_ : errorCode_; }
  void RaiseError(int code, const std::string& message);
  std::function<void()> OnError;

  IXbEngine& Engine() { return *engine_; }
  // Reads the engine's error after a call; true when there was none.
  bool CheckEngine();

  TTable* DbTable() const { return db_; }
  TTable* TableTable() const { return tbl_; }
  TTable* FieldTable() const { return fld_; }
  TTable* IndexTable() const { return idx_; }
  TTable* IndexFieldTable() const { return idxFld_; }

 private:
  TTable* Define(const std::string& name, const std::string& physicalName, bool system);
  void DefineDictionary();
  bool OpenOrCreateDictionaryTable(TTable* table, bool& created);

  std::unique_ptr<IXbEngine> engine_;
  std::string path_;
  int memoBlockSize_ = 0;
  std::vector<std::unique_ptr<TTable>> tables_;
  TTable* db_ = nullptr;
  TTable* tbl_ = nullptr;
  TTable* fld_ = nullptr;
  TTable* idx_ = nullptr;
  TTable* idxFld_ = nullptr;
  bool open_ = false;
  int errorCode_ = 0;
  int causeCode_ = 0;  // see LastCauseCode
  std::string errorMessage_;
};

}  // namespace vandrel

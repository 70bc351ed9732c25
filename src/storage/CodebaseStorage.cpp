#include "storage/CodebaseStorage.h"

#include <cmath>
#include <exception>

#include "platform/Format.h"

namespace vandrel {

const TClassInfo& TCodebaseStorageLoginInfo::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TCodebaseStorageLoginInfo>("TCodebaseStorageLoginInfo", TStorageLoginInfo::StaticClass())
          .String("DataPath", &TCodebaseStorageLoginInfo::DataPath)
          .String("SystemPath", &TCodebaseStorageLoginInfo::SystemPath)
          .Build();
  return info;
}

bool IsStorableKey(int64_t key) {
  return key >= 0 && key <= kMaxStoredKey;
}

TCodebaseStorage::TCodebaseStorage(std::string kind, std::vector<std::string> dictionaryNames)
    : Kind_(std::move(kind)), DictionaryNames_(std::move(dictionaryNames)) {}

TCodebaseStorage::~TCodebaseStorage() {
  Logout();
}

TField* TCodebaseStorage::Field(TTable* table, const char* name) {
  TField* f = table->Fields().Find(name);
  // A table defined by the dictionary may lack a column the schema has; that is a failed operation.
  if (f == nullptr) throw std::runtime_error(Format("No column %0:s in %1:s", {name, table->Name()}));
  return f;
}

std::vector<std::string> TCodebaseStorage::TableNames() const {
  std::vector<std::string> names;
  for (TTable* t : Tables_) names.push_back(t->Name());
  return names;
}

bool TCodebaseStorage::Login(const TBytes& loginInfo) {
  try {
    Logout();
    TCodebaseStorageLoginInfo info;
    info.LoadFromStream(loginInfo);
    Db_ = TQuorinDb::Acquire();
    if (!Db_->EnsureDictionary(info.SystemPath)) {
      Db_.reset();
      return false;
    }
    DataPath_ = WithTrailingSeparator(info.DataPath.empty() ? info.SystemPath : info.DataPath);
    Number_ = TQuorinDb::TakeLoginNumber(Kind_);
    std::vector<TTable*> opened;
    for (const auto& name : DictionaryNames_) {
      const TSchemaTable* def = FindSchemaTable(name);
      TTable* t = def ? Db_->OpenApplicationTable(Format(def->Pattern, {Number_}), DataPath_, *def) : nullptr;
      if (t == nullptr) {
        for (TTable* o : opened) Db_->ForgetTable(o->Name());
        TQuorinDb::GiveBackLoginNumber(Kind_);
        Number_ = 0;
        Db_.reset();
        return false;
      }
      opened.push_back(t);
    }
    Tables_ = std::move(opened);
    return true;
  } catch (const std::exception&) {
    Tables_.clear();
    Db_.reset();
    return false;
  }
}

void TCodebaseStorage::Logout() {
  if (Db_ && OuterBatches_ > 0) Db_->RollbackBatch();
  OuterBatches_ = 0;
  if (Db_) {
    for (TTable* t : Tables_) Db_->ForgetTable(t->Name());
    for (TTable* t : Companions_) Db_->ForgetTable(t->Name());
  }
  Tables_.clear();
  Companions_.clear();
  Db_.reset();
}

bool TCodebaseStorage::RunBatch(const std::function<bool()>& body) {
  if (!LoggedIn()) return false;
  Db_->BeginBatch();
  bool ok = false;
  try {
    ok = body();
  } catch (const std::exception& e) {
    Db_->RaiseError(xbeWrite, e.what());
    ok = false;
  }
  if (!ok) {
    Db_->RollbackBatch();
    return false;
  }
  return Db_->CommitBatch();
}

// The operations inside run their own batches; the database nests them into this one, and a failed
// inner batch discards this one as a whole.
void TCodebaseStorage::BeginBatch() {
  if (!LoggedIn()) return;
  Db_->BeginBatch();
  ++OuterBatches_;
}

bool TCodebaseStorage::EndBatch(bool keep) {
  if (OuterBatches_ == 0) return keep;
  --OuterBatches_;
  if (!keep) {
    Db_->RollbackBatch();
    return false;
  }
  return Db_->CommitBatch();
}

bool TCodebaseStorage::Guard(const std::function<bool()>& body) {
  if (!LoggedIn()) return false;
  try {
    return body();
  } catch (const std::exception& e) {
    Db_->RaiseError(xbeRead, e.what());
    return false;
  }
}

void TCodebaseStorage::ProgressStart() {
  if (Progress_) Progress_->Progress(0);
}

void TCodebaseStorage::ProgressItem(size_t i, size_t n) {
  if (Progress_ && n > 0 && i % 5 == 0)
    Progress_->Progress(static_cast<int>(std::nearbyint(static_cast<double>(i + 1) / n * 99)));
}

void TCodebaseStorage::ProgressEnd() {
  if (Progress_) Progress_->Progress(100);
}

void TCodebaseStorage::NoteError(int code, const std::string& message) {
  if (Db_) Db_->RaiseError(code, message);
}

TTable* TCodebaseStorage::CompanionTable(const std::string& dictionaryName) {
  const TSchemaTable* def = FindSchemaTable(dictionaryName);
  if (def == nullptr || !LoggedIn()) return nullptr;
  std::string name = Kind_ + "." + Format(def->Pattern, {Number_});
  for (TTable* t : Companions_) {
    if (t->Name() == name) return t;
  }
  TTable* t = Db_->OpenApplicationTable(name, DataPath_, *def);
  if (t != nullptr) Companions_.push_back(t);
  return t;
}

bool TCodebaseStorage::SeekKey(TTable* table, const std::vector<TDbKeyValue>& key) {
  table->SelectIndex(table->Indexes().Default());
  if (key.empty()) return table->First();
  return table->Seek(key, static_cast<int>(key.size()) - 1);
}

bool TCodebaseStorage::DeleteRows(TTable* table, const std::vector<TDbKeyValue>& key) {
  // A deleted row leaves the tag, so seeking again from the start finds the next one.
  while (SeekKey(table, key)) {
    if (!table->Delete()) return false;
  }
  return true;
}

bool TCodebaseStorage::StoreBlobRow(TTable* table, int32_t number, const char* blobField,
                                    const TBytes& data) {
  if (!IsStorableKey(number)) return false;
  std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
  if (SeekKey(table, {number})) return Field(table, blobField)->SetAsStream(bytes) && table->Flush();
  return table->AppendStart() && table->Fields()[0]->SetAsInteger(number) &&
         Field(table, blobField)->SetAsStream(bytes) && table->Append();
}

TBytes TCodebaseStorage::ReadBlobRow(TTable* table, int32_t number, const char* blobField) {
  if (!IsStorableKey(number) || !SeekKey(table, {number})) return {};
  std::string s = Field(table, blobField)->AsStream();
  return TBytes(s.begin(), s.end());
}

int32_t TCodebaseStorage::HighestKey(TTable* table, const std::vector<TDbKeyValue>& key, const char* field) {
  int64_t highest = 0;
  TField* f = Field(table, field);
  for (bool found = SeekKey(table, key); found; found = table->SeekNext())
    highest = std::max(highest, f->AsInteger());
  return static_cast<int32_t>(highest);
}

bool TCodebaseStorage::EmptyStorage() {
  bool ok = RunBatch([&] {
    for (TTable* t : Tables_) {
      if (!DeleteRows(t, {})) return false;
    }
    return true;
  });
  return ok && Compact();
}

bool TCodebaseStorage::Compact() {
  if (!LoggedIn()) return false;
  try {
    bool ok = true;
    ProgressStart();
    for (size_t i = 0; i < Tables_.size(); ++i) {
      TTable* t = Tables_[i];
      bool hasMemo = false;
      for (int j = 0; j < t->Fields().Count(); ++j) hasMemo = hasMemo || t->Fields()[j]->XBaseType() == 'M';
      ok = t->Pack(hasMemo) && ok;
      ProgressItem(i, Tables_.size());
    }
    ProgressEnd();
    return ok;
  } catch (const std::exception& e) {
    Db_->RaiseError(xbeWrite, e.what());
    return false;
  }
}

}  // namespace vandrel

#include "storage/DbKernel.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/Format.h"
#include "platform/TextUtils.h"

namespace vandrel {

using DT = TDbDataType;

namespace {

// Raw binary columns start out as blanks in a new record; those read as 0, not as blank bytes.
bool AllBlank(std::string_view raw) {
  return raw.find_first_not_of(' ') == std::string_view::npos;
}

std::string PhysicalFieldName(const TField* f) {
  return f->PhysicalName().substr(0, 10);
}

}  // namespace

// ---- items ----

TDbItem::TDbItem(TDatabase* database, std::string name, int order, std::string physicalName)
    : database_(database),
      name_(std::move(name)),
      order_(order),
      physicalName_(physicalName.empty() ? name_ : std::move(physicalName)) {}

TField::TField(TTable* table, std::string name, std::string physicalName, TDbDataType dataType, int width,
               int decimals, int order)
    : TDbItem(table->Database(), std::move(name), order, std::move(physicalName)),
      table_(table),
      dataType_(dataType),
      width_(width),
      decimals_(decimals) {}

char TField::XBaseType() const {
  switch (dataType_) {
    case DT::dtBlob:
    case DT::dtMemo:
      return 'M';
    case DT::dtNumber:
    case DT::dtFileNumber:
    case DT::dtInteger:
      return 'N';
    case DT::dtLogical:
      return 'L';
    default:
      return 'C';
  }
}

IXbTable* TField::Handle() const {
  Database()->Engine().ClearError();
  return table_->Handle();
}

bool TField::After(bool ok) const {
  return Database()->CheckEngine() && ok;
}

bool TField::Check(std::initializer_list<TDbDataType> allowed) const {
  if (std::find(allowed.begin(), allowed.end(), dataType_) == allowed.end()) {
    Database()->RaiseError(dbeWrongType, "Cannot access value: wrong data type");
    return false;
  }
  return engineIndex_ >= 0 && table_->Handle() != nullptr;
}

bool TField::AsBoolean() const {
  return Check({DT::dtNumber, DT::dtFileNumber, DT::dtInteger}) && AsDouble() != 0;
}
bool TField::SetAsBoolean(bool value) {
  return Check({DT::dtNumber, DT::dtFileNumber, DT::dtInteger}) && SetAsDouble(value ? 1.0 : 0.0);
}

int64_t TField::AsInteger() const {
  if (!Check({DT::dtNumber, DT::dtFileNumber, DT::dtInteger})) return 0;
  double v = std::trunc(AsDouble());
  if (!(std::fabs(v) < 9.2e18)) return 0;
  return static_cast<int64_t>(v);
}
bool TField::SetAsInteger(int64_t value) {
  return Check({DT::dtNumber, DT::dtFileNumber, DT::dtInteger}) && SetAsDouble(static_cast<double>(value));
}

double TField::AsDouble() const {
  if (!Check({DT::dtNumber, DT::dtFileNumber, DT::dtInteger})) return 0;
  return Handle()->Double(engineIndex_);
}
bool TField::SetAsDouble(double value) {
  if (!Check({DT::dtNumber, DT::dtFileNumber, DT::dtInteger})) return false;
  return After(Handle()->AssignDouble(engineIndex_, value));
}

std::string TField::AsString() const {
  if (!Check({DT::dtString, DT::dtMemo})) return {};
  if (dataType_ == DT::dtMemo) {
    std::string s = Handle()->Memo(engineIndex_);
    After(true);
    return s;
  }
  return std::string(Trim(Handle()->Raw(engineIndex_), " "));
}
bool TField::SetAsString(std::string_view value) {
  if (!Check({DT::dtString, DT::dtMemo})) return false;
  if (dataType_ == DT::dtMemo) return After(Handle()->AssignMemo(engineIndex_, value, false));
  return After(Handle()->Assign(engineIndex_, value));
}

double TField::AsDateTime() const {
  if (!Check({DT::dtDateTime})) return 0;
  std::string_view raw = Handle()->Raw(engineIndex_);
  double v = 0;
  if (raw.size() == sizeof v && !AllBlank(raw)) std::memcpy(&v, raw.data(), sizeof v);
  return v;
}
bool TField::SetAsDateTime(double value) {
  if (!Check({DT::dtDateTime})) return false;
  char raw[sizeof value];
  std::memcpy(raw, &value, sizeof value);
  return After(Handle()->AssignRaw(engineIndex_, std::string_view(raw, sizeof raw)));
}

int32_t TField::AsLong() const {
  if (!Check({DT::dtLong})) return 0;
  std::string_view raw = Handle()->Raw(engineIndex_);
  if (raw.size() != 4 || AllBlank(raw)) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                              (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}
bool TField::SetAsLong(int32_t value) {
  if (!Check({DT::dtLong})) return false;
  auto u = static_cast<uint32_t>(value);
  char raw[4] = {static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF),
                 static_cast<char>((u >> 16) & 0xFF), static_cast<char>((u >> 24) & 0xFF)};
  return After(Handle()->AssignRaw(engineIndex_, std::string_view(raw, 4)));
}

int16_t TField::AsShort() const {
  if (!Check({DT::dtShort})) return 0;
  std::string_view raw = Handle()->Raw(engineIndex_);
  if (raw.size() != 2 || AllBlank(raw)) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
  return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
}
bool TField::SetAsShort(int64_t value) {
  if (!Check({DT::dtShort})) return false;
  value =
      std::clamp<int64_t>(value, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max());
  auto u = static_cast<uint16_t>(static_cast<int16_t>(value));
  char raw[2] = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  return After(Handle()->AssignRaw(engineIndex_, std::string_view(raw, 2)));
}

std::string TField::AsStream() const {
  if (!Check({DT::dtBlob})) return {};
  std::string s = Handle()->Memo(engineIndex_);
  After(true);
  return s;
}
bool TField::SetAsStream(std::string_view bytes) {
  if (!Check({DT::dtBlob})) return false;
  return After(Handle()->AssignMemo(engineIndex_, bytes, true));
}

TIndexField::TIndexField(TIndex* index, TField* field, int order, bool ascending)
    : TDbItem(index->Database(), field->Name(), order, field->PhysicalName()),
      index_(index),
      field_(field),
      ascending_(ascending) {}

TIndexField* TIndexFieldList::AddIndexField(TField* field, bool ascending) {
  items_.push_back(std::make_unique<TIndexField>(index_, field, Count(), ascending));
  index_->Recompute();
  return items_.back().get();
}

TIndex::TIndex(TTable* table, std::string name, std::string tagName, int duplicates, int order)
    : TDbItem(table->Database(), std::move(name), order, std::move(tagName)),
      table_(table),
      duplicates_(duplicates),
      fields_(this) {}

void TIndex::Recompute() {
  expression_.clear();
  for (int i = 0; i < fields_.Count(); ++i) {
    const TField* f = fields_[i]->Field();
    std::string part = PhysicalFieldName(f);
    if (fields_.Count() > 1 && f->DataType() != DT::dtString) {
      part = Format("STR(%s, %d, %d)", {part, f->Width(), f->Decimals()});
    }
    if (!fields_[i]->Ascending()) part = "DESCEND(" + part + ")";
    if (!expression_.empty()) expression_ += " + ";
    expression_ += part;
  }
}

// ---- lists ----

TField* TFieldList::Add(const std::string& name, const std::string& physicalName, TDbDataType dataType,
                        int width, int decimals) {
  items_.push_back(std::make_unique<TField>(table_, name, physicalName, dataType, width, decimals, Count()));
  return items_.back().get();
}
TField* TFieldList::AddInteger(const std::string& name, const std::string& physicalName, int width) {
  return Add(name, physicalName, DT::dtInteger, width, 0);
}
TField* TFieldList::AddFlag(const std::string& name, const std::string& physicalName) {
  return Add(name, physicalName, DT::dtInteger, 1, 0);
}
TField* TFieldList::AddMemo(const std::string& name, const std::string& physicalName) {
  return Add(name, physicalName, DT::dtMemo, kMemoWidth, 0);
}
TField* TFieldList::AddString(const std::string& name, const std::string& physicalName, int width) {
  return Add(name, physicalName, DT::dtString, width, 0);
}
TField* TFieldList::AddDateTime(const std::string& name, const std::string& physicalName) {
  return Add(name, physicalName, DT::dtDateTime, 8, 0);
}
TField* TFieldList::AddLong(const std::string& name, const std::string& physicalName) {
  return Add(name, physicalName, DT::dtLong, 4, 0);
}
TField* TFieldList::AddShort(const std::string& name, const std::string& physicalName) {
  return Add(name, physicalName, DT::dtShort, 2, 0);
}
TField* TFieldList::AddBlob(const std::string& name, const std::string& physicalName) {
  return Add(name, physicalName, DT::dtBlob, kMemoWidth, 0);
}
TField* TFieldList::AddColumn(const TSchemaColumn& c) {
  switch (c.Kind) {
    using enum TColumnKind;
    case ckString:
      return AddString(c.Name, c.PhysicalName, c.Width);
    case ckInteger:
      return AddInteger(c.Name, c.PhysicalName, c.Width);
    case ckFlag:
      return AddFlag(c.Name, c.PhysicalName);
    case ckMemo:
      return AddMemo(c.Name, c.PhysicalName);
    case ckBlob:
      return AddBlob(c.Name, c.PhysicalName);
    case ckDate:
      return AddDateTime(c.Name, c.PhysicalName);
    case ckLong:
      return AddLong(c.Name, c.PhysicalName);
    case ckShort:
      return AddShort(c.Name, c.PhysicalName);
  }
  return nullptr;
}
TField* TFieldList::Find(std::string_view name) const {
  for (const auto& f : items_) {
    if (SameText(f->Name(), name)) return f.get();
  }
  return nullptr;
}

TIndex* TIndexList::AddIndex(const std::string& name, const std::string& tagName, int duplicates) {
  items_.push_back(std::make_unique<TIndex>(table_, name, tagName, duplicates, Count()));
  return items_.back().get();
}
TIndex* TIndexList::Find(std::string_view name) const {
  for (const auto& i : items_) {
    if (SameText(i->Name(), name)) return i.get();
  }
  return nullptr;
}

// ---- table ----

TTable::TTable(TDatabase* database, std::string name, std::string physicalName, int order, bool system)
    : TDbItem(database, std::move(name), order, std::move(physicalName)),
      fields_(this),
      indexes_(this),
      system_(system) {}

TTable::~TTable() {
  Close();
}

std::string TTable::FileName() const {
  const std::string& name = PhysicalName();
  size_t slash = name.find_last_of('/');
  if (slash == std::string::npos) return path_ + name;
  return path_.empty() ? name : path_ + name.substr(slash + 1);
}

bool TTable::After(bool ok) {
  return Database()->CheckEngine() && ok;
}

bool TTable::SetPath(const std::string& path) {
  if (IsOpen()) {
    Database()->RaiseError(dbeTableOpened, "Operation refused: table already opened");
    return false;
  }
  path_ = path;
  if (!path_.empty() && path_.back() != '/') path_ += '/';
  return true;
}

bool TTable::BindFields() {
  int n = handle_->FieldCount();
  if (fieldsFromFile_) {
    fields_.Clear();
    for (int j = 0; j < n; ++j) {
      const auto& f = handle_->Field(j);
      TDbDataType type = f.Type == 'M' ? DT::dtMemo : (f.Type == 'N' ? DT::dtFileNumber : DT::dtString);
      fields_.Add(f.Name, f.Name, type, f.Length, f.Decimals)->Bind(j);
    }
    return true;
  }
  bool match = n == fields_.Count();
  for (int j = 0; match && j < n; ++j) match = handle_->Field(j).Type == fields_[j]->XBaseType();
  if (!match) {
    Database()->RaiseError(dbeStructureMismatch,
                           Format("Table structure does not match its definition: %0:s", {FileName()}));
    return false;
  }
  for (int j = 0; j < n; ++j) fields_[j]->Bind(j);
  return true;
}

bool TTable::Open() {
  if (IsOpen()) return true;
  Database()->Engine().ClearError();
  handle_ = Database()->Engine().Open(FileName());
  if (!After(handle_ != nullptr)) {
    handle_.reset();
    return false;
  }
  if (!BindFields()) {
    Close();
    return false;
  }
  if (!fieldsFromFile_ && !CreateIndexes()) {
    Close();
    return false;
  }
  return true;
}

bool TTable::Create() {
  std::vector<TXbFieldDef> defs;
  for (int j = 0; j < fields_.Count(); ++j) {
    const TField* f = fields_[j];
    defs.push_back({PhysicalFieldName(f), f->XBaseType(), f->Width(), f->Decimals(), 0});
  }
  Close();
  Database()->Engine().ClearError();
  handle_ = Database()->Engine().Create(FileName(), defs);
  if (!After(handle_ != nullptr)) {
    handle_.reset();
    return false;
  }
  if (!BindFields() || !CreateIndexes()) {
    Close();
    return false;
  }
  return true;
}

bool TTable::CreateIndexes() {
  selected_ = nullptr;
  if (indexes_.Count() == 0) return true;
  std::vector<TXbTagDef> tags;
  for (int i = 0; i < indexes_.Count(); ++i) {
    const TIndex* x = indexes_[i];
    tags.push_back({x->PhysicalName(), x->KeyExpression(), ".NOT. DELETED()", x->Unique()});
  }
  Database()->Engine().ClearError();
  if (!After(handle_->CreateTags(tags))) return false;
  return SelectIndex(indexes_.Default());
}

void TTable::Close() {
  if (!handle_) return;
  Database()->Engine().ClearError();
  handle_.reset();
  Database()->CheckEngine();
  selected_ = nullptr;
  for (int j = 0; j < fields_.Count(); ++j) fields_[j]->Bind(-1);
}

bool TTable::SelectIndex(TIndex* index) {
  if (!handle_) return false;
  Database()->Engine().ClearError();
  if (!After(handle_->SelectTag(index ? index->PhysicalName() : std::string()))) return false;
  selected_ = index;
  return true;
}

bool TTable::First() {
  seekKey_.clear();
  if (!handle_) return false;
  Database()->Engine().ClearError();
  return After(handle_->Top());
}

bool TTable::Next() {
  if (!handle_) return false;
  Database()->Engine().ClearError();
  return After(handle_->Skip());
}

bool TTable::BuildKey(const std::vector<TDbKeyValue>& values, int lastPosition, std::string& key) const {
  key.clear();
  if (selected_ == nullptr || lastPosition < 0 || lastPosition >= selected_->Fields().Count() ||
      static_cast<size_t>(lastPosition) >= values.size()) {
    return false;
  }
  for (int i = 0; i <= lastPosition; ++i) {
    const TIndexField* xf = selected_->Fields()[i];
    size_t w = static_cast<size_t>(xf->Field()->Width());
    std::string part;
    const TDbKeyValue& v = values[static_cast<size_t>(i)];
    if (const auto* n = v.Integer()) {
      char buf[24];
      auto r = std::to_chars(buf, buf + sizeof buf, *n);
      std::string digits(buf, r.ptr);
      // A number wider than its column was never stored; a cut key would find some other row.
      if (digits.size() > w) return false;
      if (xf->Ascending()) {
        part = std::string(w - digits.size(), ' ') + digits;
      } else if (*n < 0) {
        part = "-" + std::string(w - digits.size(), '0') + digits.substr(1);
      } else {
        part = std::string(w - digits.size(), '0') + digits;
      }
    } else if (const auto* s = v.Text()) {
      part = *s;
      if (part.size() < w) part.resize(w, ' ');
    } else {
      return false;
    }
    if (!xf->Ascending()) {
      for (char& c : part) c = static_cast<char>(256 - static_cast<unsigned char>(c));
    }
    key += part;
  }
  return true;
}

bool TTable::Seek(const std::vector<TDbKeyValue>& values, int lastPosition) {
  std::string key;
  if (!BuildKey(values, lastPosition, key)) {
    seekKey_.clear();
    return false;
  }
  return SeekRaw(key);
}

bool TTable::SeekRaw(const std::string& key) {
  seekKey_ = key;
  if (!handle_) return false;
  Database()->Engine().ClearError();
  if (AllBlank(key)) return After(handle_->Top());
  return After(handle_->Seek(key));
}

bool TTable::SeekNext() {
  if (!handle_) return false;
  Database()->Engine().ClearError();
  if (AllBlank(seekKey_)) return After(handle_->Skip());
  return After(handle_->SeekNext(seekKey_));
}

bool TTable::AppendStart() {
  if (!handle_) return false;
  Database()->Engine().ClearError();
  return After(handle_->AppendStart());
}

bool TTable::Append() {
  if (!handle_) return false;
  Database()->Engine().ClearError();
  return After(handle_->Append());
}

bool TTable::Delete() {
  if (!handle_) return false;
  Database()->Engine().ClearError();
  return After(handle_->Delete());
}

bool TTable::Flush() {
  if (!handle_) return false;
  Database()->Engine().ClearError();
  return After(handle_->Flush());
}

bool TTable::Pack(bool reopen) {
  if (!handle_) return false;
  Database()->Engine().ClearError();
  bool ok = After(handle_->Pack(reopen));
  SelectIndex(selected_ ? selected_ : indexes_.Default());
  return ok;
}

int TTable::CompactMemo() {
  bool wasOpen = IsOpen();
  if (!wasOpen && !Open()) return -2;
  Database()->Engine().ClearError();
  int code = handle_->CompactMemo();
  Database()->CheckEngine();
  if (!wasOpen) Close();
  return code;
}

bool TTable::RegisterInDictionary() {
  TDatabase* db = Database();
  TTable* tbl = db->TableTable();
  TTable* fld = db->FieldTable();
  TTable* idx = db->IndexTable();
  TTable* ixf = db->IndexFieldTable();
  if (!tbl || !fld || !idx || !ixf) return false;
  // Seeks the entry or starts a new record for it; true when the record is new.
  auto locate = [](TTable* t, const std::vector<TDbKeyValue>& key) {
    t->SelectIndex(t->Indexes().Find("Primary"));
    if (t->Seek(key, static_cast<int>(key.size()) - 1)) return false;
    t->AppendStart();
    return true;
  };
  auto store = [](TTable* t, bool isNew) { return isNew ? t->Append() : t->Flush(); };
  auto set = [](TTable* t, const char* name) { return t->Fields().Find(name); };

  db->BeginBatch();
  bool ok = true;
  bool isNew = locate(tbl, {Name()});
  set(tbl, "TblName")->SetAsString(Name());
  set(tbl, "TblPhysicalName")->SetAsString(PhysicalName());
  set(tbl, "TblOrder")->SetAsInteger(Order());
  set(tbl, "TblSystem")->SetAsBoolean(system_);
  ok = store(tbl, isNew) && ok;
  for (int j = 0; j < fields_.Count(); ++j) {
    const TField* f = fields_[j];
    isNew = locate(fld, {Name(), f->Name()});
    set(fld, "TblName")->SetAsString(Name());
    set(fld, "FldName")->SetAsString(f->Name());
    set(fld, "FldPhysicalName")->SetAsString(f->PhysicalName());
    set(fld, "FldOrder")->SetAsInteger(f->Order());
    set(fld, "FldDataType")->SetAsInteger(static_cast<int>(f->DataType()));
    set(fld, "FldLength")->SetAsInteger(f->Width());
    set(fld, "FldDecimals")->SetAsInteger(f->Decimals());
    ok = store(fld, isNew) && ok;
  }
  for (int i = 0; i < indexes_.Count(); ++i) {
    const TIndex* x = indexes_[i];
    isNew = locate(idx, {Name(), x->Name()});
    set(idx, "TblName")->SetAsString(Name());
    set(idx, "IdxName")->SetAsString(x->Name());
    set(idx, "IdxPhysicalName")->SetAsString(x->PhysicalName());
    set(idx, "IdxOrder")->SetAsInteger(x->Order());
    set(idx, "IdxUnique")->SetAsInteger(x->Duplicates() != 0 ? 1 : 0);
    ok = store(idx, isNew) && ok;
    for (int k = 0; k < x->Fields().Count(); ++k) {
      const TIndexField* xf = x->Fields()[k];
      isNew = locate(ixf, {Name(), x->Name(), xf->Field()->Name()});
      set(ixf, "TblName")->SetAsString(Name());
      set(ixf, "IdxName")->SetAsString(x->Name());
      set(ixf, "FldName")->SetAsString(xf->Field()->Name());
      set(ixf, "IdxfOrder")->SetAsInteger(xf->Order());
      set(ixf, "IdxfAscending")->SetAsBoolean(xf->Ascending());
      ok = store(ixf, isNew) && ok;
    }
  }
  if (!ok) {
    db->RollbackBatch();
    return false;
  }
  return db->CommitBatch();
}

// ---- database ----

TDatabase::TDatabase(std::shared_ptr<IXbFileSystem> fs) : engine_(CreateXbEngine(std::move(fs))) {}

TDatabase::~TDatabase() {
  CloseAll();
}

void TDatabase::SetPath(const std::string& path) {
  path_ = path;
  if (!path_.empty() && path_.back() != '/') path_ += '/';
  engine_->SetJournalPath(path_ + "DB.jnl");
}

void TDatabase::SetMemoBlockSize(int size) {
  memoBlockSize_ = size;
  if (size > 0) engine_->SetMemoBlockSize(static_cast<uint32_t>(size));
}

void TDatabase::ClearError() {
  errorCode_ = 0;
  causeCode_ = 0;
  errorMessage_.clear();
  engine_->ClearError();
}

void TDatabase::RaiseError(int code, const std::string& message) {
  errorCode_ = code;
  causeCode_ = 0;
  errorMessage_ = message;
  if (OnError) OnError();
}

bool TDatabase::CheckEngine() {
  int code = engine_->ErrorCode();
  if (code == 0) return true;
  std::string text = engine_->ErrorText();
  engine_->ClearError();
  RaiseError(code, text);
  return false;
}

void TDatabase::BeginBatch() {
  engine_->BeginBatch();
}
bool TDatabase::CommitBatch() {
  engine_->ClearError();
  bool ok = engine_->CommitBatch();
  return CheckEngine() && ok;
}
void TDatabase::RollbackBatch() {
  engine_->RollbackBatch();
}

TTable* TDatabase::Define(const std::string& name, const std::string& physicalName, bool system) {
  ForgetTable(name);
  tables_.push_back(std::make_unique<TTable>(this, name, physicalName, TableCount(), system));
  return tables_.back().get();
}

TTable* TDatabase::DefineTable(const std::string& name, const std::string& physicalName) {
  return Define(name, physicalName, false);
}
TTable* TDatabase::DefineSystemTable(const std::string& name, const std::string& physicalName) {
  return Define(name, physicalName, true);
}

TTable* TDatabase::FindTable(std::string_view name) const {
  for (const auto& t : tables_) {
    if (SameText(t->Name(), name)) return t.get();
  }
  return nullptr;
}

void TDatabase::ForgetTable(const std::string& name) {
  for (auto it = tables_.begin(); it != tables_.end(); ++it) {
    if (SameText((*it)->Name(), name)) {
      TTable* t = it->get();
      for (TTable** d : {&db_, &tbl_, &fld_, &idx_, &idxFld_}) {
        if (*d == t) *d = nullptr;
      }
      tables_.erase(it);
      return;
    }
  }
}

void TDatabase::CloseAll() {
  for (auto& t : tables_) t->Close();
  tables_.clear();
  db_ = tbl_ = fld_ = idx_ = idxFld_ = nullptr;
  open_ = false;
}

void TDatabase::DefineDictionary() {
  auto table = [this](const char* name, const char* file, std::initializer_list<TSchemaColumn> columns) {
    TTable* t = DefineSystemTable(name, file);
    for (const TSchemaColumn& c : columns) t->Fields().AddColumn(c);
    return t;
  };
  auto index = [](TTable* t, const char* name, int duplicates, std::initializer_list<const char*> fields) {
    TIndex* x = t->Indexes().AddIndex(name, name, duplicates);
    for (const char* f : fields) x->Fields().AddIndexField(t->Fields().Find(f), true);
  };
  using enum TColumnKind;
  db_ = table("_Db", "DB.dbf", {{"DbVersion", "", ckString, 32}});

  tbl_ = table("_Table", "TBL.dbf",
               {{"TblName", "", ckString, 32},
                {"TblPhysicalName", "TblPName", ckString, 255},
                {"TblOrder", "", ckInteger, 5},
                {"TblSystem", "", ckFlag}});
  index(tbl_, "Primary", 0, {"TblName"});
  index(tbl_, "Order", 1, {"TblOrder"});

  fld_ = table("_Field", "FLD.dbf",
               {{"TblName", "", ckString, 32},
                {"FldName", "", ckString, 32},
                {"FldPhysicalName", "FldPName", ckString, 10},
                {"FldOrder", "", ckInteger, 5},
                {"FldDataType", "FldDType", ckInteger, 5},
                {"FldLength", "FldLen", ckInteger, 5},
                {"FldDecimals", "FldDec", ckInteger, 2}});
  index(fld_, "Primary", 0, {"TblName", "FldName"});
  index(fld_, "Order", 1, {"FldOrder"});

  idx_ = table("_Index", "IDX.dbf",
               {{"TblName", "", ckString, 32},
                {"IdxName", "", ckString, 32},
                {"IdxPhysicalName", "IdxPName", ckString, 10},
                {"IdxOrder", "", ckInteger, 5},
                {"IdxUnique", "", ckFlag}});
  index(idx_, "Primary", 0, {"TblName", "IdxName"});
  index(idx_, "Order", 1, {"IdxOrder"});

  idxFld_ = table("_IndexField", "IDXFLD.dbf",
                  {{"TblName", "", ckString, 32},
                   {"IdxName", "", ckString, 32},
                   {"FldName", "", ckString, 32},
                   {"IdxfOrder", "", ckInteger, 5},
                   {"IdxfAscending", "IdxfAscend", ckFlag}});
  index(idxFld_, "Primary", 0, {"TblName", "IdxName", "FldName"});
  index(idxFld_, "ByOrder", 0, {"TblName", "IdxName", "IdxfOrder", "FldName"});
  for (TTable* t : {db_, tbl_, fld_, idx_, idxFld_}) t->SetPath(path_);
}

// Opens one dictionary table, creating it only where there is no table yet: a file that is locked or
// holds another structure is left alone, so a failed start never wipes a dictionary.
bool TDatabase::OpenOrCreateDictionaryTable(TTable* table, bool& created) {
  if (table->Open()) return true;
  int why = errorCode_;
  if (why != xbeMissing && why != xbeEmpty && why != xbeDamaged) return false;
  ClearError();
  if (!table->Create()) return false;
  created = true;
  return true;
}

bool TDatabase::OpenDictionary() {
  if (open_) return false;
  ClearError();
  // An interrupted commit is rolled back before anything reads the files.
  engine_->SetJournalPath(path_ + "DB.jnl");
  if (!engine_->Recover()) {
    CheckEngine();
    return false;
  }
  DefineDictionary();
  bool created = false;
  for (TTable* t : {db_, tbl_, fld_, idx_, idxFld_}) {
    if (!OpenOrCreateDictionaryTable(t, created)) {
      // The engine's reason (a lock, a damaged file) is what the user needs; it stays as the cause.
      const int cause = errorCode_;
      const std::string why = errorMessage_;
      RaiseError(dbeCannotCreateDictionary,
                 "Cannot create dictionary tables" + (why.empty() ? "" : ": " + why));
      causeCode_ = cause;
      for (TTable* u : {db_, tbl_, fld_, idx_, idxFld_}) u->Close();
      return false;
    }
  }
  if (created) {
    bool ok = true;
    for (TTable* t : {db_, tbl_, fld_, idx_, idxFld_}) ok = t->RegisterInDictionary() && ok;
    ClearError();
    if (!db_->First()) {
      ok = db_->AppendStart() && db_->Fields().Find("DbVersion")->SetAsString("1000") && db_->Append() &&
           db_->Flush() && ok;
    }
    if (!ok) {
      RaiseError(dbeCannotCreateDictionary, "Cannot create dictionary tables");
      return false;
    }
  }
  open_ = true;
  return true;
}

TTable* TDatabase::OpenDefinedTable(const std::string& name, const std::string& physicalName,
                                    bool allowSystem, const std::string& dictionaryName) {
  if (!open_) return nullptr;
  tbl_->SelectIndex(tbl_->Indexes().Find("Primary"));
  if (!tbl_->Seek({dictionaryName}, 0)) return nullptr;
  if (tbl_->Fields().Find("TblSystem")->AsBoolean() && !allowSystem) {
    RaiseError(dbeSystemTable, "User cannot access system tables");
    return nullptr;
  }
  int order = static_cast<int>(tbl_->Fields().Find("TblOrder")->AsInteger());

  struct FieldRow {
    std::string Name, Physical;
    int Order, Type, Length, Decimals;
  };
  std::vector<FieldRow> fieldRows;
  fld_->SelectIndex(fld_->Indexes().Find("Primary"));
  for (bool found = fld_->Seek({dictionaryName}, 0); found; found = fld_->SeekNext()) {
    auto get = [&](const char* n) { return fld_->Fields().Find(n); };
    fieldRows.push_back(
        {get("FldName")->AsString(), get("FldPhysicalName")->AsString(),
         static_cast<int>(get("FldOrder")->AsInteger()), static_cast<int>(get("FldDataType")->AsInteger()),
         static_cast<int>(get("FldLength")->AsInteger()), static_cast<int>(get("FldDecimals")->AsInteger())});
  }
  // An entry without fields is a torn definition: answer as if there were none, so the caller falls back
  // to its own definition instead of failing on a table with no columns.
  if (fieldRows.empty()) return nullptr;
  // Fields are bound by position, so they go in by their stored order.
  std::stable_sort(fieldRows.begin(), fieldRows.end(),
                   [](const FieldRow& a, const FieldRow& b) { return a.Order < b.Order; });

  struct IndexRow {
    std::string Name, Physical;
    int Order, Duplicates;
  };
  std::vector<IndexRow> indexRows;
  idx_->SelectIndex(idx_->Indexes().Find("Primary"));
  for (bool found = idx_->Seek({dictionaryName}, 0); found; found = idx_->SeekNext()) {
    auto get = [&](const char* n) { return idx_->Fields().Find(n); };
    indexRows.push_back({get("IdxName")->AsString(), get("IdxPhysicalName")->AsString(),
                         static_cast<int>(get("IdxOrder")->AsInteger()),
                         static_cast<int>(get("IdxUnique")->AsInteger())});
  }
  std::stable_sort(indexRows.begin(), indexRows.end(),
                   [](const IndexRow& a, const IndexRow& b) { return a.Order < b.Order; });

  TTable* t = DefineTable(name, physicalName);
  t->SetOrder(order);
  for (const auto& r : fieldRows) {
    t->Fields()
        .Add(r.Name, r.Physical, static_cast<TDbDataType>(r.Type), r.Length, r.Decimals)
        ->SetOrder(r.Order);
  }
  idxFld_->SelectIndex(idxFld_->Indexes().Find("ByOrder"));
  for (const auto& r : indexRows) {
    TIndex* x = t->Indexes().AddIndex(r.Name, r.Physical, r.Duplicates);
    x->SetOrder(r.Order);
    for (bool found = idxFld_->Seek({dictionaryName, r.Name}, 1); found; found = idxFld_->SeekNext()) {
      TField* f = t->Fields().Find(idxFld_->Fields().Find("FldName")->AsString());
      if (f != nullptr) x->Fields().AddIndexField(f, idxFld_->Fields().Find("IdxfAscending")->AsBoolean());
    }
  }
  idxFld_->SelectIndex(idxFld_->Indexes().Find("Primary"));
  return t;
}

}  // namespace vandrel

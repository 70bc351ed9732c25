#include "engines/SearchResults.h"

#include <algorithm>

#include "currency/CurrencyConverters.h"
#include "engines/FieldEvaluator.h"
#include "engines/SearchTypeCompiler.h"
#include "platform/TextUtils.h"
#include "script/CollectionWrappers.h"

namespace vandrel {

TResultField::TResultField(TSearchOutputField* liveField, std::shared_ptr<TBaseSearchField> definition,
                           std::string name)
    : TBaseEvalItem(definition ? definition->DataType : static_cast<uint8_t>(dtString)),
      Name(std::move(name)),
      Definition(std::move(definition)),
      LiveField(liveField) {
  if (LiveField) DataType = LiveField->DataType;
  TypeFixed = true;
  if (DataType == dtString) Text.clear();
}

void TResultField::Recompute() {
  TEvalSlot slot = FormulaSlot ? FormulaSlot : (LiveField ? LiveField->Slot : nullptr);
  if (!slot || !Evaluator) return;
  TFieldEvaluator& ev = *Evaluator;
  ev.SetCurrentSlot(slot);
  if (ev.EvaluateAs(DataType)) {
    Number = ev.Number;
    Text = ev.Text;
    ObjectRef = ev.ObjectRef;
    if (LiveField && LiveField->Mirror) {
      if (IsNumericType(DataType))
        LiveField->Mirror->SetFloat(Number);
      else
        LiveField->Mirror->SetString(Text);
    }
  }
  ErrorCode = ev.ErrorCode;
  if (ErrorCode != 0) ErrorText = ev.ErrorText;
  ev.SetCurrentSlot(nullptr);
  displayValid_ = false;
}

const std::string& TResultField::DisplayText() {
  if (!displayValid_) {
    int code = ErrorCode;
    std::string text = ErrorText;
    // The error shown is this field's own: a formula or conversion that failed for this record.
    displayText_ = FieldDisplayText(*this, DataType, Definition.get(), code, text);
    ErrorCode = code;
    ErrorText = text;
    displayValid_ = true;
  }
  return displayText_;
}

// ---------------------------------------------------------------------------------------------------

TResultRecord::TResultRecord(TSearchTypeInstance* instance, std::string moneyCode,
                             const std::vector<std::shared_ptr<TBaseSearchOutputField>>& temporary)
    : Evaluator(instance ? instance->Evaluator.get() : nullptr),
      MoneyCode(std::move(moneyCode)),
      Instance(instance) {
  if (!instance) return;
  if (auto* view = instance->SearchType() ? instance->SearchType()->CurrentView : nullptr)
    KeyIndex = view->UniqueKeyIndex;
  for (size_t i = 0; i < instance->OutputFields.Count(); ++i) {
    TSearchOutputField& live = instance->OutputFields.At(i);
    auto f = std::make_unique<TResultField>(&live, live.Definition, live.Name());
    f->Evaluator = Evaluator;
    if (f->DataType == dtMoney) f->MoneyCode = MoneyCode;
    fields_.push_back(std::move(f));
  }
  for (const auto& def : temporary) {
    auto f = std::make_unique<TResultField>(nullptr, def, def->FieldName);
    f->Evaluator = Evaluator;
    if (f->DataType == dtMoney) f->MoneyCode = MoneyCode;
    fields_.push_back(std::move(f));
  }
  RankVariable = instance->Variables.FindShared("Rank");
  if (!RankVariable || instance->Variables.ListOf(RankVariable.get()) != &instance->Variables) {
    instance->Variables.SetInteger("Rank", 0);
    RankVariable = instance->Variables.FindShared("Rank");
  } else {
    RankVariable->SetInteger(0);
  }
}

std::unique_ptr<TResultRecord> TResultRecord::Clone() const {
  std::unique_ptr<TResultRecord> r(new TResultRecord());
  for (const auto& f : fields_) {
    auto c = std::make_unique<TResultField>(f->LiveField, f->Definition, f->Name);
    c->Assign(*f);
    c->TypeFixed = f->TypeFixed;
    c->Evaluator = f->Evaluator;
    c->FormulaSlot = f->FormulaSlot;
    c->ErrorCode = f->ErrorCode;
    c->ErrorText = f->ErrorText;
    r->fields_.push_back(std::move(c));
  }
  r->Deleted = Deleted;
  r->Evaluator = Evaluator;
  r->RecordId = RecordId;
  r->KeyIndex = KeyIndex;
  r->uniqueKey_ = uniqueKey_;
  r->keyValid_ = keyValid_;
  r->MoneyCode = MoneyCode;
  r->Rank = Rank;
  r->RankVariable = RankVariable;
  r->Instance = Instance;
  r->MasterRank = MasterRank;
  return r;
}

int TResultRecord::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    const std::string& own = fields_[i]->Name;
    // Scripts name a field at every access: the length and the first letter rule out most fields
    // without the case-blind compare.
    if (own.size() != name.size()) continue;
    if (!own.empty() && AsciiLower(own[0]) != AsciiLower(name[0])) continue;
    if (own == name || SameText(own, name)) return static_cast<int>(i);
  }
  return -1;
}

TResultField* TResultRecord::FindField(std::string_view name) const {
  int i = IndexOf(name);
  return i < 0 ? nullptr : fields_[static_cast<size_t>(i)].get();
}

void TResultRecord::PublishValues() {
  for (auto& f : fields_) {
    TVariable* mirror = f->LiveField ? f->LiveField->Mirror.get() : nullptr;
    if (!mirror && Instance) {
      // An engine's temporary field: formulas may still read it by name.
      mirror = Instance->Variables.FindLocal(f->Name);
      if (!mirror) mirror = Instance->Variables.SetString(f->Name, "");
    }
    if (!mirror) continue;
    if (IsNumericType(f->DataType))
      mirror->SetFloat(f->Number);
    else
      mirror->SetString(f->Text);
  }
  if (RankVariable) RankVariable->SetInteger(Rank);
}

void TResultRecord::Refresh() {
  PublishValues();
  for (auto& f : fields_) {
    f->Recompute();
    f->Invalidate();
  }
  if (Instance && Instance->SearchType() && !Instance->SearchType()->Filter.empty()) {
    TFieldEvaluator& ev = *Instance->Evaluator;
    ev.SetCurrentSlot(Instance->FilterSlot);
    if (ev.EvaluateAs(dtBoolean)) FilteredOut = !ev.AsBoolean();
    ev.SetCurrentSlot(nullptr);
  }
}

const std::string& TResultRecord::UniqueKey() {
  if (keyValid_) return uniqueKey_;
  keyValid_ = true;
  if (KeyIndex < 0 || static_cast<size_t>(KeyIndex) >= fields_.size()) {
    uniqueKey_ = Instance ? Instance->NextRecordKey() : std::string("#record");
    return uniqueKey_;
  }
  TResultField& f = *fields_[static_cast<size_t>(KeyIndex)];
  if (f.Definition && !f.Definition->Formula.empty()) {
    PublishValues();
    f.Recompute();
  }
  uniqueKey_ = HostText(ToHostValue(f));
  auto* out = dynamic_cast<TBaseSearchOutputField*>(f.Definition.get());
  if (out && out->IsUrl && Instance) uniqueKey_ = Instance->ReduceForType(uniqueKey_, -1);
  return uniqueKey_;
}

void TResultRecord::DropTemporaryFields() {
  std::vector<std::unique_ptr<TResultField>> kept;
  for (auto& f : fields_) {
    auto* out = dynamic_cast<TBaseSearchOutputField*>(f->Definition.get());
    if (out && out->Temporary) continue;
    f->FormulaSlot.reset();
    kept.push_back(std::move(f));
  }
  fields_ = std::move(kept);
}

// ---------------------------------------------------------------------------------------------------

TSearchResultList::TSearchResultList(TSearchTypeInstance* instance, bool owning)
    : instance_(instance), owning_(owning) {}

TSearchResultList::~TSearchResultList() = default;

void TSearchResultList::Add(std::unique_ptr<TResultRecord> record) {
  if (!record) return;
  refs_.push_back(record.get());
  // A record handed over is kept either way; only an owning list becomes its List.
  if (owning_) record->List = this;
  items_.push_back(std::move(record));
}

void TSearchResultList::AddRef(TResultRecord* record) {
  if (record) refs_.push_back(record);
}

TResultRecord& TSearchResultList::NewRecord(const std::string& moneyCode) {
  Add(std::make_unique<TResultRecord>(instance_, moneyCode));
  return *refs_.back();
}

std::vector<std::unique_ptr<TResultRecord>> TSearchResultList::TakeAll() {
  std::vector<std::unique_ptr<TResultRecord>> out;
  // In list order.
  for (TResultRecord* r : refs_)
    for (auto& p : items_)
      if (p.get() == r) {
        p->List = nullptr;
        out.push_back(std::move(p));
        break;
      }
  items_.clear();
  refs_.clear();
  return out;
}

void TSearchResultList::Clear() {
  refs_.clear();
  items_.clear();
}

void TSearchResultList::Delete(size_t i) {
  if (i >= refs_.size()) return;
  TResultRecord* r = refs_[i];
  refs_.erase(refs_.begin() + static_cast<long>(i));
  auto it = std::find_if(items_.begin(), items_.end(), [r](const auto& p) { return p.get() == r; });
  if (it != items_.end()) items_.erase(it);
}

void TSearchResultList::SetInstance(TSearchTypeInstance* instance) {
  if (instance == instance_) return;
  Clear();
  instance_ = instance;
}

TSortKeyList& TSearchResultList::SortKeys() {
  if (instance_ && instance_->SearchType() && instance_->SearchType()->CurrentView)
    return *instance_->SearchType()->CurrentView->SortKeys;
  if (!ownKeys_) ownKeys_ = std::make_shared<TSortKeyList>();
  return *ownKeys_;
}

namespace {

// Prices in different currencies only compare once both are in the axis currency; a price of the axis
// currency, one without a code and a negative "no price" keep their number.
double ComparableMoney(const TResultField& field) {
  if (field.Number < 0 || field.MoneyCode.empty()) return field.Number;
  const TCurrencyConverter& converter = CurrencyConverter();
  if (field.MoneyCode == converter.AxisCode) return field.Number;
  const auto* currency = converter.Definitions().Find(field.MoneyCode);
  if (!currency || !(currency->ExchangeRate > 0)) return field.Number;
  return field.Number / currency->ExchangeRate;
}

}  // namespace

int TSearchResultList::Compare(TResultRecord& r1, TResultRecord& r2) {
  TSortKeyList& keys = SortKeys();
  if (instance_ && instance_->SearchType()) keys.Resolve(*instance_->SearchType()->OutputFields);
  for (size_t i = 0; i < keys.Count(); ++i) {
    const TSortKey& k = keys.At(i);
    if (k.FieldIndex < 0) continue;
    size_t fi = static_cast<size_t>(k.FieldIndex);
    if (fi >= r1.FieldCount() || fi >= r2.FieldCount()) continue;
    const TResultField& a = r1.Field(fi);
    const TResultField& b = r2.Field(fi);
    int c = 0;
    if (k.FieldType == dtString) {
      c = CompareText(a.Text, b.Text);
    } else {
      double x = a.Number;
      double y = b.Number;
      if (k.FieldType == dtMoney && a.MoneyCode != b.MoneyCode) {
        x = ComparableMoney(a);
        y = ComparableMoney(b);
      }
      c = x < y ? -1 : (x > y ? 1 : 0);
    }
    if (c != 0) return k.Ascending ? c : -c;
  }
  return 0;
}

}  // namespace vandrel

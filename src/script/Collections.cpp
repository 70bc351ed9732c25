#include "script/Collections.h"

#include <algorithm>

#include "platform/Format.h"
#include "script/BaseEvaluator.h"
#include "script/CollectionWrappers.h"

namespace vandrel {

std::shared_ptr<TVariable> TZnCollectionRecord::MakeWrapper(const std::string& name,
                                                            TBaseCompiler* compiler) {
  return TZnCollectionRecordWrapper::Make(name, shared_from_this(), compiler);
}

TBaseEvalItem* TZnCollectionRecord::FindField(std::string_view name) {
  for (TField& f : fields_)
    if (SameText(f.Name, name)) return f.Item.get();
  return nullptr;
}

TBaseEvalItem& TZnCollectionRecord::Field(std::string_view name) {
  if (TBaseEvalItem* f = FindField(name)) return *f;
  TField f{std::string(name), std::make_unique<TBaseEvalItem>()};
  f.Item->SetString("");
  fields_.push_back(std::move(f));
  if (defaultIndex_ < 0) defaultIndex_ = static_cast<int>(fields_.size()) - 1;
  return *fields_.back().Item;
}

void TZnCollectionRecord::Dispose() {
  for (TField& f : fields_) f.Item->ObjectRef.reset();
}

TBaseEvalItem& TZnCollectionRecord::DefaultValue() {
  if (defaultIndex_ >= 0) return *fields_[static_cast<size_t>(defaultIndex_)].Item;
  return Field(kDefaultValueName);
}

std::shared_ptr<TVariable> TZnCollection::MakeWrapper(const std::string& name, TBaseCompiler* compiler) {
  return TZnCollectionWrapper::Make(name, shared_from_this(), compiler);
}

void TZnCollection::Dispose() {
  for (const auto& r : records_) r->Dispose();
}

bool TZnCollection::KeyEquals(std::string_view a, std::string_view b) const {
  return caseSensitive_ ? a == b : SameText(a, b);
}

TZnCollectionRecordPtr TZnCollection::Find(std::string_view key) const {
  for (const auto& r : records_)
    if (KeyEquals(r->Key, key)) return r;
  return nullptr;
}

TZnCollectionRecordPtr TZnCollection::FindOrDefault(std::string_view key) const {
  if (auto r = Find(key)) return r;
  return Find(DefaultKey);
}

TZnCollectionRecordPtr TZnCollection::Add(const std::string& key) {
  auto r = std::make_shared<TZnCollectionRecord>(key);
  if (sorted_) {
    auto pos =
        std::upper_bound(records_.begin(), records_.end(), key,
                         [](const std::string& k, const auto& rec) { return CompareText(k, rec->Key) < 0; });
    records_.insert(pos, r);
  } else {
    records_.push_back(r);
  }
  return r;
}

TZnCollectionRecordPtr TZnCollection::FindOrAdd(const std::string& key) {
  if (auto r = Find(key)) return r;
  return Add(key);
}

TZnCollectionRecordPtr TZnCollection::AddWithValue(const std::string& key, const THostValue& value) {
  auto r = Add(key);
  FromHostValue(r->Field(TZnCollectionRecord::kDefaultValueName), value);
  return r;
}

void TZnCollection::SetSorted(bool v) {
  if (v && !sorted_)
    std::stable_sort(records_.begin(), records_.end(),
                     [](const auto& a, const auto& b) { return CompareText(a->Key, b->Key) < 0; });
  sorted_ = v;
}

std::shared_ptr<TVariable> TZnStringList::MakeWrapper(const std::string& name, TBaseCompiler* compiler) {
  return TZnStringListWrapper::Make(name, shared_from_this(), compiler);
}

const std::string& TZnStringList::At(size_t i) const {
  if (i >= items_.size())
    throw EScriptFault(kErrList, Format("List index out of bounds (%d)", {static_cast<long long>(i)}));
  return items_[i];
}

void TZnStringList::Put(size_t i, std::string s) {
  if (i >= items_.size())
    throw EScriptFault(kErrList, Format("List index out of bounds (%d)", {static_cast<long long>(i)}));
  items_[i] = std::move(s);
}

size_t TZnStringList::Add(std::string s) {
  if (sorted_) {
    auto pos =
        std::upper_bound(items_.begin(), items_.end(), s,
                         [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
    size_t idx = static_cast<size_t>(pos - items_.begin());
    items_.insert(pos, std::move(s));
    return idx;
  }
  items_.push_back(std::move(s));
  return items_.size() - 1;
}

size_t TZnStringList::Split(const std::string& s, const std::string& separator) {
  if (separator.empty()) return Add(s);
  size_t last = 0, start = 0;
  for (;;) {
    size_t p = s.find(separator, start);
    if (p == std::string::npos) {
      last = Add(s.substr(start));
      break;
    }
    Add(s.substr(start, p - start));
    start = p + separator.size();
  }
  return last;
}

long TZnStringList::IndexOf(std::string_view s) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (caseSensitive_ ? items_[i] == s : SameText(items_[i], s)) return static_cast<long>(i);
  return -1;
}

void TZnStringList::SetSorted(bool v) {
  if (v && !sorted_)
    std::stable_sort(items_.begin(), items_.end(),
                     [](const std::string& a, const std::string& b) { return CompareText(a, b) < 0; });
  sorted_ = v;
}

}  // namespace vandrel

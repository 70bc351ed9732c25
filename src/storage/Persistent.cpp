#include "storage/Persistent.h"

#include <algorithm>
#include <map>

#include "storage/PropertyStream.h"

namespace vandrel {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool TClassInfo::InheritsFrom(const TClassInfo& other) const {
  for (const TClassInfo* c = this; c; c = c->Parent)
    if (c == &other) return true;
  return false;
}

const TPropInfo* TClassInfo::FindProperty(std::string_view name) const {
  for (const TClassInfo* c = this; c; c = c->Parent)
    for (const auto& p : c->Properties)
      if (SameName(p.Name, name)) return &p;
  return nullptr;
}

std::vector<const TPropInfo*> TClassInfo::AllProperties() const {
  std::vector<const TClassInfo*> chain;
  for (const TClassInfo* c = this; c; c = c->Parent) chain.push_back(c);
  std::vector<const TPropInfo*> all;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    for (const auto& p : (*it)->Properties) all.push_back(&p);
  return all;
}

namespace {

struct LessName {
  bool operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
      return lower(x) < lower(y);
    });
  }
};

std::map<std::string, const TClassInfo*, LessName>& Registry() {
  static std::map<std::string, const TClassInfo*, LessName> registry;
  return registry;
}

}  // namespace

void RegisterClass(const TClassInfo& info) {
  Registry().emplace(info.Name, &info);
}

const TClassInfo* FindClass(std::string_view name) {
  auto& registry = Registry();
  auto it = registry.find(std::string(name));
  return it == registry.end() ? nullptr : it->second;
}

const TClassInfo& TPersistent::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo i;
    i.Name = "TPersistent";
    return i;
  }();
  return info;
}

const TClassInfo& TPersistentEx::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TPersistentEx>("TPersistentEx", TPersistent::StaticClass()).Build();
  return info;
}

const TClassInfo& TCollectionItem::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TCollectionItem>("TCollectionItem", TPersistent::StaticClass()).Build();
  return info;
}

int TCollectionItem::Index() const {
  return Collection_ ? Collection_->IndexOf(this) : -1;
}

void TCollectionItem::Changed() {
  if (Collection_) Collection_->Update(this);
}

const TClassInfo& TCollection::StaticClass() {
  static const TClassInfo info = [] {
    TClassInfo i;
    i.Name = "TCollection";
    i.Parent = &TPersistent::StaticClass();
    return i;
  }();
  return info;
}

TCollectionItem* TCollection::Add() {
  std::unique_ptr<TPersistent> object = ItemClass_->Create ? ItemClass_->Create() : nullptr;
  auto* item = dynamic_cast<TCollectionItem*>(object.get());
  if (!item) throw EReadError("Cannot create " + ItemClass_->Name);
  object.release();
  item->Collection_ = this;
  Items_.emplace_back(item);
  return item;
}

void TCollection::Delete(size_t index) {
  if (index < Items_.size()) Items_.erase(Items_.begin() + static_cast<ptrdiff_t>(index));
}

void TCollection::Clear() {
  Items_.clear();
}

int TCollection::IndexOf(const TCollectionItem* item) const {
  for (size_t i = 0; i < Items_.size(); ++i)
    if (Items_[i].get() == item) return static_cast<int>(i);
  return -1;
}

void TCollection::Assign(const TCollection& source) {
  Clear();
  for (size_t i = 0; i < source.Count(); ++i) AssignByStream(*source.Item(i), *Add());
}

const TClassInfo& TStrings::StaticClass() {
  static const TClassInfo info = TClassBuilder<TStrings>("TStrings", TPersistent::StaticClass()).Build();
  return info;
}

void TStrings::DefineProperties(TFiler& filer) {
  filer.DefineProperty(
      "Strings",
      [this](TPropertyReader& reader) {
        Lines.clear();
        reader.ReadListBegin();
        while (!reader.EndOfList()) Lines.push_back(reader.ReadString());
        reader.ReadListEnd();
      },
      [this](TPropertyWriter& writer) {
        writer.WriteListBegin();
        for (const auto& line : Lines) writer.WriteString(line);
        writer.WriteListEnd();
      },
      !Lines.empty());
}

}  // namespace vandrel

// The general-purpose containers that scripts create: keyed collections of records and string lists.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "script/EvalTypes.h"

namespace vandrel {

// One record of a collection: a key and an ordered list of named fields.
class TZnCollectionRecord : public TScriptObject {
 public:
  static constexpr const char* kDefaultValueName = "__DEFAULTVALUE";

  explicit TZnCollectionRecord(std::string key) : Key(std::move(key)) {}
  std::shared_ptr<TVariable> MakeWrapper(const std::string& name, TBaseCompiler* compiler) override;

  // The field of that name (case-insensitive), or null.
  TBaseEvalItem* FindField(std::string_view name);
  // Finds or adds (with the empty text) the field; the first field added becomes the default value.
  TBaseEvalItem& Field(std::string_view name);
  // The first field, or "__DEFAULTVALUE" added empty when the record has none yet.
  TBaseEvalItem& DefaultValue();
  size_t FieldCount() const { return fields_.size(); }
  const std::string& FieldName(size_t i) const { return fields_[i].Name; }
  void Dispose() override;

  std::string Key;

 private:
  struct TField {
    std::string Name;
    std::unique_ptr<TBaseEvalItem> Item;  // stable address while the record lives
  };
  std::vector<TField> fields_;
  int defaultIndex_ = -1;
};
using TZnCollectionRecordPtr = std::shared_ptr<TZnCollectionRecord>;

// Records keyed by text; keys need not be unique. Case-insensitive unless CaseSensitive; unsorted unless
// Sorted. DefaultKey names the record read when a key is missing (per-language texts use "ENG").
class TZnCollection : public TScriptObject {
 public:
  std::shared_ptr<TVariable> MakeWrapper(const std::string& name, TBaseCompiler* compiler) override;

  size_t Count() const { return records_.size(); }
  const TZnCollectionRecordPtr& At(size_t i) const { return records_[i]; }
  // The first record with that key, or null.
  TZnCollectionRecordPtr Find(std::string_view key) const;
  // The record for key, else the one for DefaultKey, else null.
  TZnCollectionRecordPtr FindOrDefault(std::string_view key) const;
  // Adds a record (in order when Sorted).
  TZnCollectionRecordPtr Add(const std::string& key);
  TZnCollectionRecordPtr FindOrAdd(const std::string& key);
  // Adds a record whose "__DEFAULTVALUE" holds value.
  TZnCollectionRecordPtr AddWithValue(const std::string& key, const THostValue& value);
  void Clear() { records_.clear(); }
  void Dispose() override;

  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool v) { caseSensitive_ = v; }
  bool Sorted() const { return sorted_; }
  // Switching on sorts the existing keys at once (ascending, without regard to case).
  void SetSorted(bool v);

  std::string DefaultKey;

 private:
  bool KeyEquals(std::string_view a, std::string_view b) const;
  std::vector<TZnCollectionRecordPtr> records_;
  bool caseSensitive_ = false;
  bool sorted_ = false;
};

// A list of strings. Case-insensitive unless CaseSensitive; unsorted unless Sorted.
class TZnStringList : public TScriptObject {
 public:
  std::shared_ptr<TVariable> MakeWrapper(const std::string& name, TBaseCompiler* compiler) override;

  size_t Count() const { return items_.size(); }
  // 0-based; throws EScriptFault 128 when out of range.
  const std::string& At(size_t i) const;
  void Put(size_t i, std::string s);
  // Returns the 0-based index of the added string.
  size_t Add(std::string s);
  // Adds the parts of s between occurrences of separator (case-sensitive, empty parts kept). An empty
  // separator adds s whole. Returns the index of the last part added.
  size_t Split(const std::string& s, const std::string& separator);
  // 0-based index or -1.
  long IndexOf(std::string_view s) const;
  void Clear() { items_.clear(); }
  const std::vector<std::string>& Items() const { return items_; }

  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool v) { caseSensitive_ = v; }
  bool Sorted() const { return sorted_; }
  void SetSorted(bool v);

 private:
  std::vector<std::string> items_;
  bool caseSensitive_ = false;
  bool sorted_ = false;
};

}  // namespace vandrel

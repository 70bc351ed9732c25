// A search type: its input and output field definitions, views with sort keys, unique key and address
// reduction, and the constant table every definition of that type sees.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "script/Collections.h"
#include "script/EvalTypes.h"
#include "script/Variables.h"

namespace vandrel {

class TSearchType;

// Field alignments; script constants FA_*.
enum : uint8_t { FA_LEFT = 0, FA_CENTER = 1, FA_RIGHT = 2 };

// A per-language text collection with the default key "ENG"; `initial` fills the default entry.
std::shared_ptr<TZnCollection> NewLanguageCollection(const THostValue& initial = {});
// The default ("ENG") entry of a language collection as text.
std::string DefaultText(const TZnCollection& c);
void SetDefaultText(TZnCollection& c, const std::string& text);

// Defines the read-only constants shared by every search type, engine and category (SP_HTTP ...
// DT_POINTER).
void DefineDefinitionConstants(TVariableList& list);

// One field of a search type. Its value slots hold a value when a search fills it.
class TBaseSearchField : public TBaseEvalItem, public TScriptObject {
 public:
  TBaseSearchField(std::string name, TSearchType* owner);

  // The script's type; DataType follows it except that SmallInteger and Byte read as Integer.
  void SetDeclaredType(uint8_t type);
  std::string DisplayName() const { return DefaultText(*DisplayNames); }

  uint8_t Alignment = FA_LEFT;
  TObjectRef DisplayArray;  // a collection attached by script: value text -> shown text
  std::shared_ptr<TZnCollection> DisplayNames;
  uint8_t DeclaredType = dtString;
  std::string FormatString;
  std::string Formula;
  int32_t Group = 500;
  bool Hidden = false;
  bool Internal = false;
  int32_t Length = 0;  // maximum length of a String value; 0 = unlimited
  std::string FieldName;
  TSearchType* SearchType;  // the owning type
  int32_t Width = 0;
};

class TBaseSearchInputField : public TBaseSearchField {
 public:
  using TBaseSearchField::TBaseSearchField;
  std::shared_ptr<TVariable> MakeWrapper(const std::string& name, TBaseCompiler* compiler) override;
  // Sets ChoicesText and rebuilds Choices: split at "," with each part trimmed.
  void SetChoicesText(const std::string& text);

  std::vector<std::string> Choices;
  std::string ChoicesText;
  bool HighlightSource = false;
};

class TBaseSearchOutputField : public TBaseSearchField {
 public:
  using TBaseSearchField::TBaseSearchField;
  std::shared_ptr<TVariable> MakeWrapper(const std::string& name, TBaseCompiler* compiler) override;

  bool BoldIfNew = false;
  bool DefaultGraphicalDisplay = false;
  bool DefaultSortColumn = false;
  bool HighlightTarget = false;
  bool IsDomain = false;
  bool IsUrl = false;
  bool SortDescending = false;
  bool Summary = false;
  bool Temporary = false;  // declared by an engine for its own parsing, never stored
};

// Fields by name (case-insensitive), in the order added.
template <class TField>
class TBaseSearchFieldList : public TScriptObject {
 public:
  explicit TBaseSearchFieldList(TSearchType* owner) : owner_(owner) {}

  size_t Count() const { return items_.size(); }
  TField& At(size_t i) const { return *items_[i]; }
  const std::shared_ptr<TField>& Ptr(size_t i) const { return items_[i]; }
  // -1 when absent.
  int IndexOf(std::string_view name) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (SameText(items_[i]->FieldName, name)) return static_cast<int>(i);
    return -1;
  }
  TField* Find(std::string_view name) const {
    int i = IndexOf(name);
    return i < 0 ? nullptr : items_[static_cast<size_t>(i)].get();
  }
  // The existing field of that name, or a new one appended.
  std::shared_ptr<TField> AddField(const std::string& name) {
    int i = IndexOf(name);
    if (i >= 0) return items_[static_cast<size_t>(i)];
    items_.push_back(std::make_shared<TField>(name, owner_));
    return items_.back();
  }
  TField* First() const { return items_.empty() ? nullptr : items_.front().get(); }
  void Clear() { items_.clear(); }

  bool InForEach = false;  // set while a script iterates the list

 private:
  TSearchType* owner_;
  std::vector<std::shared_ptr<TField>> items_;
};
using TBaseSearchInputFieldList = TBaseSearchFieldList<TBaseSearchInputField>;
using TBaseSearchOutputFieldList = TBaseSearchFieldList<TBaseSearchOutputField>;

// 0 same, 1 presentation changed (display name, format, formula), 2 structure changed (length, type, name).
int CompareSearchFields(const TBaseSearchField& a, const TBaseSearchField& b);
template <class TField>
int CompareSearchFieldLists(const TBaseSearchFieldList<TField>& a, const TBaseSearchFieldList<TField>& b) {
  if (a.Count() != b.Count()) return 2;
  int worst = 0;
  for (size_t i = 0; i < a.Count(); ++i) worst = std::max(worst, CompareSearchFields(a.At(i), b.At(i)));
  return worst;
}

class TSortKey : public TScriptObject {
 public:
  explicit TSortKey(std::string fieldName, bool ascending)
      : Ascending(ascending), FieldName(std::move(fieldName)) {}
  std::shared_ptr<TVariable> MakeWrapper(const std::string& name, TBaseCompiler* compiler) override;

  bool Ascending;
  std::string FieldName;
  int32_t FieldIndex = -1;        // position among the output fields, once resolved
  uint8_t FieldType = dtUnknown;  // that field's type, once resolved
};

// Sort keys by name, in the order added.
class TSortKeyList : public TScriptObject {
 public:
  std::shared_ptr<TVariable> MakeWrapper(const std::string& name, TBaseCompiler* compiler) override;

  size_t Count() const { return items_.size(); }
  TSortKey& At(size_t i) const { return *items_[i]; }
  const std::shared_ptr<TSortKey>& Ptr(size_t i) const { return items_[i]; }
  TSortKey* Find(std::string_view name) const;
  std::shared_ptr<TSortKey> Add(const std::string& fieldName, bool ascending);
  void Clear() {
    items_.clear();
    Resolved = false;
  }
  // Binds unresolved keys to the output fields of the same name; done once per list. A key naming no
  // field keeps index -1 and takes no part in comparisons.
  void Resolve(const TBaseSearchOutputFieldList& fields);

  bool Resolved = false;
  bool InForEach = false;

 private:
  std::vector<std::shared_ptr<TSortKey>> items_;
};

struct TSearchTypeView {
  std::string Name;
  int32_t UniqueKeyIndex = -1;  // among the output fields; -1 when none
  std::string UniqueKey;
  std::shared_ptr<TSortKeyList> SortKeys = std::make_shared<TSortKeyList>();
  uint32_t UrlReduction = 0;
};

class TSearchType {
 public:
  static constexpr uint32_t kDefaultUrlReduction = 7;  // slash + www + default page

  TSearchType();
  virtual ~TSearchType();
  TSearchType(const TSearchType&) = delete;
  TSearchType& operator=(const TSearchType&) = delete;

  // Makes the view of that name current, creating it (reduction 0) when missing.
  TSearchTypeView& SelectView(const std::string& name);
  TSearchTypeView* FindView(std::string_view name) const;
  // Back to a single fresh "DEFAULT" view with `reduction`.
  void ResetViews(uint32_t reduction);
  // Sets the current view's unique key field and its index among the output fields as they are now.
  void SetUniqueKey(const std::string& fieldName);

  std::string Name;
  // The constant table; parent of the compiler's list and, through instances, of every engine's.
  TVariableList Variables;
  std::string CurrentViewName;
  std::shared_ptr<TZnCollection> Descriptions = NewLanguageCollection();
  std::shared_ptr<TZnCollection> DisplayNames = NewLanguageCollection();
  std::shared_ptr<TZnCollection> InputDisplayFormulas = NewLanguageCollection();
  std::string Filter;
  std::string SearchFrame;
  std::shared_ptr<TBaseSearchInputFieldList> InputFields;
  std::shared_ptr<TBaseSearchOutputFieldList> OutputFields;
  TSearchTypeView* CurrentView = nullptr;
  std::vector<std::unique_ptr<TSearchTypeView>> Views;
};

}  // namespace vandrel

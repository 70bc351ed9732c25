// Result records cut out of a page: their fields, derived values, display texts, unique keys and order.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engines/SearchTypeInstance.h"

namespace vandrel {

class TResultRecord;
class TSearchResultList;

class TResultField : public TBaseEvalItem {
 public:
  TResultField(TSearchOutputField* liveField, std::shared_ptr<TBaseSearchField> definition, std::string name);

  // Runs the field's own formula, else its definition's (through the live field's slot).
  void Recompute();
  // Computed once and cached; Invalidate forgets it after a change.
  const std::string& DisplayText();
  void Invalidate() { displayValid_ = false; }

  int32_t ErrorCode = 0;
  std::string ErrorText;
  std::string Name;
  std::shared_ptr<TBaseSearchField> Definition;
  TSearchOutputField* LiveField;  // null for a temporary field of an engine
  TFieldEvaluator* Evaluator = nullptr;
  TEvalSlot FormulaSlot;  // a per-record formula (an engine's formula rule); normally absent

 private:
  std::string displayText_;
  bool displayValid_ = false;
};

class TResultRecord : public TScriptObject {
 public:
  // One field per live output field of the instance, then one per temporary definition.
  TResultRecord(TSearchTypeInstance* instance, std::string moneyCode,
                const std::vector<std::shared_ptr<TBaseSearchOutputField>>& temporary = {});
  std::unique_ptr<TResultRecord> Clone() const;

  size_t FieldCount() const { return fields_.size(); }
  TResultField& Field(size_t i) const { return *fields_[i]; }
  TResultField* FindField(std::string_view name) const;
  int IndexOf(std::string_view name) const;

  // Mirrors, formulas and filter, in that order.
  void Refresh();
  // Copies the field values into the instance variables named like the fields, and the rank.
  void PublishValues();
  const std::string& UniqueKey();
  void DropTemporaryFields();

  bool Deleted = false;
  TFieldEvaluator* Evaluator = nullptr;
  bool FilteredOut = false;
  int32_t RecordId = 0;
  int32_t KeyIndex = -1;
  TSearchResultList* List = nullptr;
  void* Master = nullptr;  // the master result this record was merged into
  std::string MoneyCode;
  int32_t Rank = 0;
  TVariablePtr RankVariable;
  TSearchTypeInstance* Instance;
  int32_t MasterRank = 0;

 private:
  TResultRecord() = default;
  std::vector<std::unique_ptr<TResultField>> fields_;
  std::string uniqueKey_;
  bool keyValid_ = false;
};

class TSearchResultList {
 public:
  explicit TSearchResultList(TSearchTypeInstance* instance = nullptr, bool owning = true);
  ~TSearchResultList();
  TSearchResultList(const TSearchResultList&) = delete;
  TSearchResultList& operator=(const TSearchResultList&) = delete;

  size_t Count() const { return refs_.size(); }
  TResultRecord& At(size_t i) const { return *refs_[i]; }
  void Add(std::unique_ptr<TResultRecord> record);
  // A list that does not own its records only refers to them.
  void AddRef(TResultRecord* record);
  TResultRecord& NewRecord(const std::string& moneyCode = {});
  // Takes the records out (the caller owns them when the list did).
  std::vector<std::unique_ptr<TResultRecord>> TakeAll();
  void Clear();
  void Delete(size_t i);

  // Negative when r1 comes first under the sort keys.
  int Compare(TResultRecord& r1, TResultRecord& r2);
  TResultRecord& Better(TResultRecord& r1, TResultRecord& r2) { return Compare(r1, r2) < 0 ? r1 : r2; }
  void SetInstance(TSearchTypeInstance* instance);
  TSearchTypeInstance* Instance() const { return instance_; }
  TSortKeyList& SortKeys();

 private:
  TSearchTypeInstance* instance_;
  bool owning_;
  std::vector<std::unique_ptr<TResultRecord>> items_;  // an owning list's records, in no order
  std::vector<TResultRecord*> refs_;                   // the records in list order
  std::shared_ptr<TSortKeyList> ownKeys_;
};

}  // namespace vandrel

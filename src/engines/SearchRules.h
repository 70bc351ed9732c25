// The rules with which the results parser cuts one field out of a page, and the list helpers it uses.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "script/BaseEvaluator.h"

namespace vandrel {

// Rule codes; script constants RC_*. Stored in definition files: never renumber.
enum TRuleCode : int32_t {
  RC_CUSTOM = 0,
  RC_LINKADDRESS = 1,  // the record's key
  RC_LINKTEXT = 2,
  RC_DOCUMENTADDRESS = 3,
  RC_DOCUMENTTITLE = 4,
  RC_FORMULA = 5,
  RC_XMLATTRIBUTE = 10,
  RC_XMLTEXT = 11,
};

// Ordered from -> to pairs, keyed by from.
class TTranslateList {
 public:
  // Replaces the to of an existing from.
  void Add(const std::string& from, const std::string& to);
  void Clear() { pairs_.clear(); }
  size_t Count() const { return pairs_.size(); }
  const std::pair<std::string, std::string>& At(size_t i) const { return pairs_[i]; }

 private:
  std::vector<std::pair<std::string, std::string>> pairs_;
};

class TSearchRule : public TScriptObject {
 public:
  explicit TSearchRule(std::string name, TBaseEvaluator* owner = nullptr);

  // The formula text (empty without one); setting it makes the slot on first use and sets RC_FORMULA.
  std::string FormulaText() const { return Formula ? Formula->Expression() : std::string(); }
  void SetFormula(const std::string& text);
  bool Key() const { return Code == RC_LINKADDRESS; }
  // False turns a key rule back into a custom one.
  void SetKey(bool key);
  // Every pair in order, each replacing all case-insensitive occurrences.
  std::string Translate(const std::string& text) const;
  void AddTranslation(const std::string& from, const std::string& to) { Translations.Add(from, to); }

  bool Clean = true;
  int32_t Code = RC_CUSTOM;
  std::string EndMarker;
  int32_t EndMarkerOccurrence = 1;
  std::string Expression;  // where a whole-page rule starts cutting
  bool ExpressionMandatory = true;
  TEvalSlot Formula;        // absent until a formula is set
  TBaseEvaluator* Owner;    // makes the formula slot
  int32_t FieldIndex = -1;  // set by the results parser
  bool IsRange = false;
  std::string Name;
  int32_t NbChars = 0;
  int32_t NbLines = 1;
  int32_t StartChar = 1;
  int32_t StartLine = 0;
  std::string StartMarker;
  bool StartMarkerMandatory = true;
  int32_t StartMarkerOccurrence = 1;
  TTranslateList Translations;
  std::string XmlAttributeName;
};
using TSearchRulePtr = std::shared_ptr<TSearchRule>;

// Rules by name, case-insensitive, in the order added.
class TSearchRuleList : public TScriptObject {
 public:
  size_t Count() const { return items_.size(); }
  TSearchRule& At(size_t i) const { return *items_[i]; }
  const TSearchRulePtr& Ptr(size_t i) const { return items_[i]; }
  TSearchRule* Find(std::string_view name) const;
  // The rule of that name, made when missing.
  TSearchRulePtr FindOrAdd(const std::string& name);
  void Clear() { items_.clear(); }

  TBaseEvaluator* Owner = nullptr;  // given to the rules it makes
  bool InForEach = false;

 private:
  std::vector<TSearchRulePtr> items_;
};

// Case-insensitive replacement of every occurrence (an empty `from` replaces nothing).
std::string ReplaceText(const std::string& text, const std::string& from, const std::string& to);
// Some entry occurs in text, both compared lower-cased.
bool ContainsAny(const std::vector<std::string>& list, std::string_view text);
// The list is empty or text begins with some entry, without regard to case.
bool StartsWithAny(const std::vector<std::string>& list, std::string_view text);

}  // namespace vandrel

// One search of a search type: the input values, one live holder per output field, the instance's
// variables and formula evaluator, and the query parser that turns keywords into query text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engines/SearchType.h"
#include "script/BaseEvaluator.h"
#include "script/Variables.h"

namespace vandrel {

class TSearchTypeInstance;
class TSearchTypeReader;
class TFieldEvaluator;

// The application's edition record as the definitions see it.
struct TEditionInfo {
  int32_t BuildNumber = 0;
  std::string Edition;
  std::string Language;
};

class TWordList : public TScriptObject {
 public:
  size_t Count() const { return Words.size(); }
  // Lower-case copies of the words, made on first use.
  const std::vector<std::string>& LowerWords() const;
  // The words with "%" escapes decoded when they were parsed escaped.
  std::vector<std::string> PlainWords() const;

  std::vector<std::string> Words;
  bool Parsed = false;
  bool Escaped = false;

 protected:
  mutable std::vector<std::string> lower_;
  mutable bool lowerValid_ = false;
};

class TZnQueryParser : public TWordList {
 public:
  std::shared_ptr<TVariable> MakeWrapper(const std::string& name, TBaseCompiler* compiler) override;

  // Splits the trimmed text at spaces outside double quotes (the quotes stay in the words); with
  // `escape` every word is escaped as SafeUrl text.
  void Parse(const std::string& text, bool escape);
  std::string QueryText() const;
  std::string OriginalText() const;
  // Words occurring in text as substrings; without `exact`, compared lower-cased. Escaped words are
  // compared decoded, as the user typed them.
  int CountMatches(std::string_view text, bool exact) const;

  void SetExactPhrase(bool v) { ExactPhrase = v, Modified = true; }
  void SetExactPhraseDelimiter(std::string v) { ExactPhraseDelimiter = std::move(v), Modified = true; }
  void SetPrefix(std::string v) { Prefix = std::move(v), Modified = true; }
  void SetSeparator(std::string v) { Separator = std::move(v), Modified = true; }

  bool Modified = false;
  bool ExactPhrase = false;
  std::string ExactPhraseDelimiter = "\"";
  std::string Prefix;
  std::string Separator;
};

// Query parsers by name.
class TZnQueryParserList {
 public:
  TZnQueryParser* Find(std::string_view name) const;
  std::shared_ptr<TZnQueryParser> FindOrAdd(const std::string& name);
  void Clear() { items_.clear(); }

 private:
  std::vector<std::pair<std::string, std::shared_ptr<TZnQueryParser>>> items_;
};

// The display text of a value under a field definition: "ERR%d-%s" in error, else the format string
// (or display array) applied. Sets errorCode/errorText when formatting fails.
std::string FieldDisplayText(const TBaseEvalItem& value, uint8_t dataType, const TBaseSearchField* def,
                             int& errorCode, std::string& errorText);

// A live field of an instance: the current value of an input field, or the holder an output field's
// formula computes into.
class TSearchField : public TBaseEvalItem {
 public:
  TSearchField(TSearchTypeInstance& instance, std::shared_ptr<TBaseSearchField> definition);

  // Runs the definition's formula (when there is one) and refreshes the display text.
  void Recompute();
  const std::string& Name() const { return Definition->FieldName; }

  int32_t ErrorCode = 0;
  std::string ErrorText;
  TEvalSlot Slot;  // the definition's formula
  TFieldEvaluator* Evaluator;
  std::shared_ptr<TBaseSearchField> Definition;
  TSearchTypeInstance* Instance;
  TVariablePtr Mirror;  // the instance variable named like the field
  std::string DisplayText;
};

class TSearchInputField : public TSearchField {
 public:
  using TSearchField::TSearchField;
  // Input values are visible to scripts as variables named like the fields.
  void Changed() override;
};

class TSearchOutputField : public TSearchField {
 public:
  using TSearchField::TSearchField;
};

template <class TField>
class TSearchFieldList {
 public:
  size_t Count() const { return items_.size(); }
  TField& At(size_t i) const { return *items_[i]; }
  int IndexOf(std::string_view name) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (SameText(items_[i]->Name(), name)) return static_cast<int>(i);
    return -1;
  }
  TField* Find(std::string_view name) const {
    int i = IndexOf(name);
    return i < 0 ? nullptr : items_[static_cast<size_t>(i)].get();
  }
  TField& Add(std::unique_ptr<TField> f) {
    items_.push_back(std::move(f));
    return *items_.back();
  }
  void Clear() { items_.clear(); }
  // Computes every field in order, so later formulas see earlier results.
  void RecomputeFields() {
    for (auto& f : items_) f->Recompute();
  }

 private:
  std::vector<std::unique_ptr<TField>> items_;
};

class TSearchInputFieldList : public TSearchFieldList<TSearchInputField> {
 public:
  TSearchInputField* DefaultInputField = nullptr;
};
using TSearchOutputFieldList = TSearchFieldList<TSearchOutputField>;

struct TKWDFieldInfo {
  int64_t And = 0, Or = 0, Exact = 0, None = 0;  // KO_AND, KO_OR, KO_EXACT, KO_NONE
  TSearchInputField* Keywords = nullptr;
  TSearchInputField* KeywordOp = nullptr;
};

class TSearchTypeInstance {
 public:
  explicit TSearchTypeInstance(TSearchTypeReader* reader = nullptr, TEditionInfo* edition = nullptr);
  ~TSearchTypeInstance();
  TSearchTypeInstance(const TSearchTypeInstance&) = delete;
  TSearchTypeInstance& operator=(const TSearchTypeInstance&) = delete;

  void SetReader(TSearchTypeReader* reader);
  TSearchTypeReader* SearchType() const { return searchType_; }

  // Per-language text: the language's entry, else the edition's, else the default.
  std::string LocalText(const TZnCollection& c) const;
  std::string InputDisplayText();
  // flags -1: the current view's reduction; 0: unchanged.
  std::string ReduceForType(const std::string& url, int64_t flags) const;
  int64_t KeywordOperation() const;
  // A text unique to each call, for records without a key field.
  std::string NextRecordKey() { return "#record" + std::to_string(++recordSerial_); }

  TWordList Keywords;
  TEvalSlot DisplaySlot;
  TVariableList Variables;  // the instance variables; parent: the search type's list
  std::unique_ptr<TFieldEvaluator> Evaluator;
  TEvalSlot FilterSlot;
  TKWDFieldInfo KeywordInfo;
  TSearchInputFieldList InputFields;
  TSearchOutputFieldList OutputFields;
  TEditionInfo* EditionInfo;  // not owned; may be null

 private:
  TSearchTypeReader* searchType_ = nullptr;
  uint64_t recordSerial_ = 0;
};

}  // namespace vandrel

// The search forms as models: which form a category gets, the fields of each kind, how a form reads and
// writes a stored search, and the checks a form makes before a search may run.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "presentation/DesktopPorts.h"

namespace vandrel {

class TCategoryStorageItem;
class TSearchStorageItem;
class TSearchTypeStorageItem;

enum class TSearchFrameKind { sfkBooks, sfkKeywords, sfkMusic, sfkMovies, sfkReview };

// Form names to form kinds; names are matched without regard to case, and registering a name again
// replaces the earlier entry. Main thread only.
class TSearchFrameRegistry {
 public:
  // Holds every form the bundled search types and categories name.
  static TSearchFrameRegistry& Default();

  void Register(const std::string& name, TSearchFrameKind kind);
  const TSearchFrameKind* Find(const std::string& name) const;
  // The category's own form, else its search type's; null when neither is registered.
  const TSearchFrameKind* ForCategory(const TCategoryStorageItem& category,
                                      const TSearchTypeStorageItem* searchType) const;

 private:
  std::map<std::string, TSearchFrameKind> Kinds_;  // by lower-cased name
};

// "&Quick", "T&horough", "Su&per thorough": results asked of each engine.
enum class TSearchMode { smQuick, smThorough, smSuperThorough };
int ResultsPerEngineOf(TSearchMode mode);

// KEYWORDOP values of the review form. VALUES: stored with searches and read by engine scripts.
enum TKeywordOp : int { koAllKeywords = 1, koAnyKeyword = 2, koExactPhrase = 3 };

// The settings the forms read and write; the desktop fills it from the configuration.
class ISearchFormSettings {
 public:
  virtual ~ISearchFormSettings() = default;
  // The results per engine a new search starts with, kept apart for reviews and prices.
  virtual int ResultsPerEngine(bool reviews) const = 0;
  virtual void SetResultsPerEngine(bool reviews, int value) = 0;
  // Whether the Boolean-operator question is still asked.
  virtual bool PromptAndOrInformation() const = 0;
  virtual void SetPromptAndOrInformation(bool value) = 0;
};

// What a form asks of the program around it. Prompts and Settings must outlive the form.
struct TSearchFrameContext {
  IUserPrompts* Prompts = nullptr;
  ISearchFormSettings* Settings = nullptr;
  // Whether at least one enabled engine of the category takes a search filled by `filler`; empty: all do.
  std::function<bool(const TCategoryStorageItem& category,
                     const std::function<void(TSearchStorageItem&)>& filler)>
      EnginesAccept;
};

// Texts of the form's messages.
inline constexpr char kMsgFillOneField[] = "You must fill in at least one field.";
inline constexpr char kMsgNoQuotes[] = "You cannot use the quote (\") symbol";
inline constexpr char kMsgInvalidIsbn[] = "Invalid ISBN.";
inline constexpr char kMsgBooleanOperators[] =
    "You do not have to use Boolean operators (and, or) since Vandrel Shopper automatically manages "
    "them.\n\r\n\rDo you want to continue anyway?";

// An ISBN-10 with or without hyphens whose check digit is right.
bool IsValidIsbn(const std::string& text);

struct TSearchFrameTextField {
  std::string Name;     // stored field name
  std::string Caption;  // with its accelerator
  std::string Value;    // as typed
};

// A drop-down stored as the index of the chosen entry.
struct TSearchFrameChoiceField {
  std::string Name;
  std::string Caption;
  std::vector<std::string> Entries;
  int Index = 0;
};

// A "Paste in:" link: copies the initial text into one text field.
struct TPasteLink {
  std::string Caption;
  size_t Field = 0;  // index into Fields
};

// One search form. The view shows Fields, Choice, the paste panel and the mode buttons, writes what the
// user types into them, and calls the operations below. Main thread only.
class TSearchFrameModel {
 public:
  TSearchFrameModel(TSearchFrameKind kind, TSearchFrameContext context);

  TSearchFrameKind Kind() const { return Kind_; }
  // "Note: Only one field is mandatory." on the books form; empty elsewhere.
  const std::string& Note() const { return Note_; }

  std::vector<TSearchFrameTextField> Fields;
  std::unique_ptr<TSearchFrameChoiceField> Choice;  // MEDIA or FORMAT; null on other forms

  // The review form's operator choices, by TKeywordOp - 1.
  static constexpr std::array<const char*, 3> kOperatorCaptions = {
      "Search &for all keywords", "Search for &any keyword", "Search for exact &phrase"};
  bool HasOperators() const { return Kind_ == TSearchFrameKind::sfkReview; }
  bool OperatorEnabled(int op) const;
  int Operator() const { return Operator_; }
  void SetOperator(int op);

  TSearchMode Mode() const { return Mode_; }
  // Super thorough is not offered: it tells the user so and falls back to thorough.
  void SetMode(TSearchMode mode);

  // The initial text that did not fit a field, shown with the paste links; empty: no panel.
  const std::string& PasteText() const { return PasteText_; }
  const std::vector<TPasteLink>& PasteLinks() const { return PasteLinks_; }
  // Copies the paste text into the link's field; returns that field's index, which the view selects.
  size_t Paste(size_t link);

  // The field that takes the focus first.
  size_t FirstField() const { return 0; }
  void LoadFromSearch(const TSearchStorageItem& search);
  // The filler of NewSearch/UpdateSearch: fields, operator or choice, and the results per engine, which
  // also become the next new search's default.
  void SaveToSearch(TSearchStorageItem& search);
  // Checks the input, telling the user why it is refused (unless silent) and asking about Boolean
  // operators.
  bool Validate();
  void SetInputText(const std::string& text);
  // Picks the mode for a new search of that category and, on the review form, the operators its engines
  // take.
  void SetCategory(const TCategoryStorageItem* category, bool reviews);
  bool HasInput() const;

  bool Silent = false;

 private:
  bool AllowsExactPhrase() const;
  void Tell(const std::string& text);
  void ResetValues();

  TSearchFrameKind Kind_;
  TSearchFrameContext Context_;
  std::string Note_;
  std::vector<TPasteLink> Links_;  // the kind's links; shown only with a paste text
  std::vector<TPasteLink> PasteLinks_;
  std::string PasteText_;
  std::array<bool, 3> OperatorEnabled_ = {true, true, true};
  int Operator_ = koAllKeywords;
  TSearchMode Mode_ = TSearchMode::smQuick;
  bool Reviews_ = false;  // which stored default the mode comes from and goes to
};

}  // namespace vandrel

// The search wizard as a model: its three pages and their texts, Back and Next, the ways it opens, and
// turning the filled form into a stored search of the right history.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "presentation/SearchFrames.h"

namespace vandrel {

class ISearchCatalogue;
class TAppSearchHistory;
struct TCategoryItem;
class TCategoryList;
class TCategoryStorageItem;
class TSearchStorageItem;

// What the wizard asks of the program that runs searches; the desktop fills it from the kernel.
class ISearchStarter {
 public:
  virtual ~ISearchStarter() = default;
  // The action runner is not idle.
  virtual bool Busy() const = 0;
  // Queues a run of `search` from the chosen history; false when it was refused (the user was told).
  virtual bool StartSearch(TSearchStorageItem* search, bool isReviews, bool isNew) = 0;
};

// How the wizard opens.
struct TSearchWizardOptions {
  std::string CategoryName{};  // base name, "buy…" or "review…" name; empty or unknown: the first category
  bool Reviews = false;        // preselects "Find Reviews"
  bool Duplicate = false;      // save `Search`'s values as a new search instead of changing it
  std::string InitialText{};   // the query for a new search
  TSearchStorageItem* Search = nullptr;  // to modify or duplicate
  bool SkipChoice = false;               // from the category page straight to the form
  bool StartPastCategories = false;      // begin after the category page
  bool MayRunUnseen = false;             // a form with valid input runs without the wizard being shown
};

// Everything must outlive the wizard.
struct TSearchWizardContext {
  const TCategoryList* Categories = nullptr;
  ISearchCatalogue* Catalogue = nullptr;  // for the review form's operators; null: all offered
  TAppSearchHistory* CompareHistory = nullptr;
  TAppSearchHistory* ReviewsHistory = nullptr;
  ISearchStarter* Starter = nullptr;
  IUserPrompts* Prompts = nullptr;
  ISearchFormSettings* Settings = nullptr;
  std::string DataFolder;  // holds the header pictures, named after the categories
};

enum class TWizardPage { wpCategory = 0, wpChoice = 1, wpForm = 2 };

inline constexpr char kWizardCategoryText[] = "Please select the category you want to use and click Next.";
inline constexpr char kWizardChoiceText[] = "What do you want to do?";
inline constexpr char kWizardReviewsCaption[] = "Find &Reviews";
inline constexpr char kWizardReviewsText[] = "I want to find reviews about one or more products.";
inline constexpr char kWizardPricesCaption[] = "Find &Prices";
inline constexpr char kWizardPricesText[] = "I want to find the best prices for one or more products.";
inline constexpr char kWizardHeaderResource[] = "HEADERCATEGORIESBITMAP";
inline constexpr char kAlreadySearching[] = "Vandrel Shopper is already searching.";

// Main thread only.
class TSearchWizard {
 public:
  TSearchWizard(TSearchWizardContext context, TSearchWizardOptions options);
  ~TSearchWizard();

  TWizardPage Page() const { return Page_; }
  // The page's heading.
  std::string PageText() const;
  // Empty on the category page, whose picture is kWizardHeaderResource; else the category's picture.
  std::string HeaderImageFile() const;
  std::string NextCaption() const { return Page_ == TWizardPage::wpForm ? "&Search" : "&Next >"; }
  bool NextEnabled() const;
  bool BackEnabled() const;

  const TCategoryList* Categories() const { return Context_.Categories; }
  // Index into the category list; -1: none selected.
  int SelectedCategory() const { return Category_; }
  void SelectCategory(int index);
  const TCategoryItem* Category() const;
  bool Reviews() const { return Reviews_; }
  void SetReviews(bool reviews) { Reviews_ = reviews; }

  // The form of the chosen category and choice; null before the form page was reached.
  TSearchFrameModel* Frame() const { return Frame_.get(); }

  // Next on the category and choice pages moves on; on the form page it checks and saves the search and
  // answers true when the wizard may close with OK. False keeps the wizard where it is.
  bool Next();
  void Back();

  // Runs the wizard without showing it when it was opened so and its form has valid input: the search is
  // saved and the wizard is done. False: it must be shown.
  bool RunUnseen();

  // The saved search, whether it is new, and the final choice; valid once Next or RunUnseen said done.
  TSearchStorageItem* ResultSearch() const { return Result_; }
  bool ResultIsNew() const { return ResultIsNew_; }
  bool ResultReviews() const { return Reviews_; }

 private:
  void LoadForm();
  bool Save();
  bool EnginesAccept(const TCategoryStorageItem& category,
                     const std::function<void(TSearchStorageItem&)>& filler);
  TCategoryStorageItem* StoredCategory() const;

  TSearchWizardContext Context_;
  TSearchWizardOptions Options_;
  TWizardPage Page_ = TWizardPage::wpCategory;
  int Category_ = -1;
  bool Reviews_ = false;
  std::unique_ptr<TSearchFrameModel> Frame_;
  TSearchStorageItem* Kept_ = nullptr;  // the search the form changes; null: a new one is saved
  TSearchStorageItem* Result_ = nullptr;
  bool ResultIsNew_ = false;
};

// Opens the wizard (a search running: the warning instead), shows it through `showModal` unless it runs
// unseen, and starts the accepted search. `showModal` answers whether the wizard closed with OK.
bool RunSearchWizard(TSearchWizard& wizard, ISearchStarter& starter, IUserPrompts& prompts,
                     const std::function<bool()>& showModal);

}  // namespace vandrel

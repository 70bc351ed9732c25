#include "presentation/SearchWizard.h"

#include "actions/AppErrors.h"
#include "engines/SearchTypeCompiler.h"
#include "platform/TextUtils.h"
#include "search/CategoryList.h"
#include "search/EngineValidation.h"
#include "search/SearchCatalogue.h"
#include "search/SearchHistory.h"
#include "storage/EngineStorage.h"
#include "storage/SearchStorage.h"

namespace vandrel {

TSearchWizard::TSearchWizard(TSearchWizardContext context, TSearchWizardOptions options)
    : Context_(std::move(context)), Options_(std::move(options)), Reviews_(Options_.Reviews) {
  if (const TCategoryList* list = Context_.Categories) {
    if (const TCategoryItem* wanted = list->Find(Options_.CategoryName))
      for (size_t i = 0; i < list->Count(); ++i)
        if (&list->Items(i) == wanted) Category_ = static_cast<int>(i);
    if (Category_ < 0 && list->Count() > 0) Category_ = 0;
  }
  if (Options_.StartPastCategories && Category_ >= 0) {
    if (Options_.SkipChoice) {
      LoadForm();
      Page_ = TWizardPage::wpForm;
    } else {
      Page_ = TWizardPage::wpChoice;
    }
  }
}

TSearchWizard::~TSearchWizard() = default;

std::string TSearchWizard::PageText() const {
  switch (Page_) {
    case TWizardPage::wpCategory:
      return kWizardCategoryText;
    case TWizardPage::wpChoice:
      return kWizardChoiceText;
    case TWizardPage::wpForm:
      return Reviews_ ? "I want to find reviews for:" : "I want to find the best price for:";
  }
  return {};
}

std::string TSearchWizard::HeaderImageFile() const {
  const TCategoryItem* item = Category();
  if (Page_ == TWizardPage::wpCategory || !item) return {};
  std::string folder = Context_.DataFolder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + item->BaseName + ".bmp";
}

bool TSearchWizard::NextEnabled() const {
  return Page_ != TWizardPage::wpCategory || Category_ >= 0;
}

bool TSearchWizard::BackEnabled() const {
  return Page_ != TWizardPage::wpCategory && !(Options_.Search && !Options_.Duplicate);
}

void TSearchWizard::SelectCategory(int index) {
  const int count = Context_.Categories ? static_cast<int>(Context_.Categories->Count()) : 0;
  Category_ = index >= 0 && index < count ? index : -1;
}

const TCategoryItem* TSearchWizard::Category() const {
  return Category_ >= 0 && Context_.Categories ? &Context_.Categories->Items(static_cast<size_t>(Category_))
                                               : nullptr;
}

TCategoryStorageItem* TSearchWizard::StoredCategory() const {
  const TCategoryItem* item = Category();
  if (!item) return nullptr;
  return Reviews_ ? item->ReviewCategory : item->PriceCategory;
}

bool TSearchWizard::EnginesAccept(const TCategoryStorageItem& category,
                                  const std::function<void(TSearchStorageItem&)>& filler) {
  ISearchCatalogue* catalogue = Context_.Catalogue;
  if (!catalogue) return true;
  TEngineStorageList* engines = catalogue->CategoryEngines(category.CatName);
  std::unique_ptr<TSearchTypeReader> type = LoadSearchType(*catalogue, category.SrtName);
  if (!engines || !type) return false;
  TSearchStorageItem probe;
  probe.CatName = category.CatName;
  probe.SrtName = category.SrtName;
  filler(probe);
  for (size_t i = 0; i < engines->Count(); ++i) {
    const TEngineStorageItem* engine = engines->Engine(i);
    if (engine->Enabled && EngineAcceptsSearch(*catalogue, *type, probe, *engine)) return true;
  }
  return false;
}

void TSearchWizard::LoadForm() {
  TCategoryStorageItem* category = StoredCategory();
  Kept_ = nullptr;
  const TSearchTypeStorageItem* type =
      category && Context_.Catalogue ? Context_.Catalogue->FindSearchType(category->SrtName) : nullptr;
  const TSearchFrameKind* kind =
      category ? TSearchFrameRegistry::Default().ForCategory(*category, type) : nullptr;
  if (!kind) {
    Frame_.reset();
    return;
  }
  if (!Frame_ || Frame_->Kind() != *kind) {
    TSearchFrameContext frameContext{Context_.Prompts, Context_.Settings, nullptr};
    frameContext.EnginesAccept = [this](const TCategoryStorageItem& c,
                                        const std::function<void(TSearchStorageItem&)>& filler) {
      return EnginesAccept(c, filler);
    };
    Frame_ = std::make_unique<TSearchFrameModel>(*kind, std::move(frameContext));
  }
  Frame_->SetCategory(category, Reviews_);
  TSearchStorageItem* existing = Options_.Search;
  if (!existing || !SameText(existing->CatName, category->CatName)) {
    Frame_->SetInputText(Options_.InitialText);
  } else {
    Frame_->LoadFromSearch(*existing);
    if (!Options_.Duplicate) Kept_ = existing;
  }
}

bool TSearchWizard::Next() {
  switch (Page_) {
    case TWizardPage::wpCategory:
      if (Category_ < 0) return false;
      if (Options_.SkipChoice) {
        LoadForm();
        Page_ = TWizardPage::wpForm;
      } else {
        Page_ = TWizardPage::wpChoice;
      }
      return false;
    case TWizardPage::wpChoice:
      LoadForm();
      Page_ = TWizardPage::wpForm;
      return false;
    case TWizardPage::wpForm:
      if (!Frame_ || !Frame_->Validate()) return false;
      // Checked before saving: a refused press must not leave a stored search behind each time.
      if (Context_.Starter && Context_.Starter->Busy()) {
        ShowAppError(aeBusy);
        return false;
      }
      return Save();
  }
  return false;
}

void TSearchWizard::Back() {
  if (!BackEnabled()) return;
  Page_ =
      Page_ == TWizardPage::wpForm && !Options_.SkipChoice ? TWizardPage::wpChoice : TWizardPage::wpCategory;
}

bool TSearchWizard::Save() {
  TAppSearchHistory* history = Reviews_ ? Context_.ReviewsHistory : Context_.CompareHistory;
  TCategoryStorageItem* category = StoredCategory();
  if (!history || !history->Item() || !category || !Frame_) return false;
  const TSearchFiller filler = [this](TSearchStorageItem& s) { Frame_->SaveToSearch(s); };
  // A search the user picked in one history is changed only there; the other choice saves a new one.
  const bool keep = Kept_ && Kept_->Owner() == &history->Item()->GetSearches();
  TSearchStorageItem* saved = nullptr;
  if (keep) {
    if (history->Item()->UpdateSearch(Kept_, filler)) saved = Kept_;
  } else {
    saved = history->Item()->NewSearch(*category, filler);
  }
  if (!saved) {
    ShowAppError(aeGeneral, {"the search could not be saved"});
    return false;
  }
  Result_ = saved;
  ResultIsNew_ = !keep;
  return true;
}

bool TSearchWizard::RunUnseen() {
  if (!Options_.MayRunUnseen || !Options_.StartPastCategories || !Options_.SkipChoice) return false;
  if (!Frame_) LoadForm();
  if (!Frame_ || !Frame_->HasInput() || !Frame_->Validate()) return false;
  return Save();
}

bool RunSearchWizard(TSearchWizard& wizard, ISearchStarter& starter, IUserPrompts& prompts,
                     const std::function<bool()>& showModal) {
  if (starter.Busy()) {
    prompts.Ask({"", kAlreadySearching, TPromptIcon::piWarning});
    return false;
  }
  if (!wizard.RunUnseen() && !(showModal && showModal())) return false;
  if (!wizard.ResultSearch()) return false;
  return starter.StartSearch(wizard.ResultSearch(), wizard.ResultReviews(), wizard.ResultIsNew());
}

}  // namespace vandrel

#include <cstdio>
#include <initializer_list>
#include <limits>

#include "actions/QuorinApplications.h"
#include "currency/CurrencyConverters.h"
#include "currency/CurrencyScript.h"
#include "kernel/AppConfig.h"
#include "kernel/AppKernel.h"
#include "kernel/KernelDatabase.h"
#include "platform/DateTime.h"
#include "presentation/ResultGroups.h"
#include "search/CategoryList.h"
#include "search/QuorinEngineRepository.h"
#include "search/SearchAction.h"
#include "search/SearchHistory.h"
#include "update/QuorinUpdateActions.h"

namespace vandrel {
namespace {

std::vector<TStorageDataList*> DefinitionLists(TEngineRepository& repository) {
  return {&repository.SearchTypes(), &repository.Categories(), &repository.EngineLists().Template()};
}

}  // namespace

void TAppKernel::Progress(int percent, const std::string& text) const {
  if (hooks_.ShowProgress) hooks_.ShowProgress(percent, text);
}

void TAppKernel::OpenCatalogueAndHistories() {
  TQuorinApplication* runner = hooks_.Runner;
  if (!runner || !storage_) return;
  if (runner->State() != asIdle) {
    // A running action refers to the runner's catalogue and history; they cannot be replaced under it.
    std::fprintf(stderr, "Vandrel Shopper: the action runner is busy; searches are not wired\n");
    return;
  }
  TCodebaseStorageManager& storage = *storage_;
  // A stored search carries its groupings and filters; any command that loads and saves it again must
  // be able to read them, or the save would drop them.
  RegisterPresentationClasses();

  auto repository = NewEngineRepository();
  repository->Defines = defines_;
  // Read-only, the catalogue lives in memory: its refresh from the files could not be stored.
  if (!storage.ReadOnly()) AttachDefinitionStorage(storage, DefinitionLists(*repository));
  // A catalogue that cannot log in still works from memory; the refresh fills it from the files.
  if (!repository->Login(TCodebaseStorageLoginInfo::StaticClass()))
    std::fprintf(stderr, "Vandrel Shopper: the stored catalogue could not be opened\n");
  catalogue_ = TCataloguePtr(new TRepositorySearchCatalogue(*repository),
                             [](TRepositorySearchCatalogue* catalogue) { delete catalogue; });

  TQuorinApplicationParts parts;
  parts.History = {new TSearchHistory(catalogue_.get()), [](TSearchHistory* history) { delete history; }};
  UseDatabaseForHistory(storage, *parts.History);
  parts.History->SetFolder(folders_.UserFolder());

  const bool shift = !hooks_.Headless && hooks_.ShiftHeld && hooks_.ShiftHeld();
  const bool refresh = hooks_.RefreshCatalogue || debugMode_ || freshInstall_ || installedFilesChanged_ ||
                       shift || storage.ReadOnly();
  bool refreshShown = false;
  repository->Start(folders_.Data(), debugMode_, refresh, [this, &refreshShown](int) {
    if (refreshShown) return;
    refreshShown = true;
    Progress(30, "Refreshing database...");
  });
  parts.Repository = std::move(repository);
  parts.BindStoredSearch = &TSearchHistory::Bind;
  partsInstalled_ = runner->InstallParts(std::move(parts));
  if (!partsInstalled_) {
    catalogue_.reset();
    return;
  }
  TQuorinActionRepository& actions = hooks_.Actions ? *hooks_.Actions : TQuorinActionRepository::Instance();
  RegisterSearchAction(actions, *runner, *catalogue_);
  // The update window and the update before a search hand the runner update operations.
  RegisterUpdateAction(actions, *runner, dispatcher_);

  TSearchHistory& history = *runner->History();
  auto compare = TAppSearchHistoryPtr(new TAppSearchHistory(history, "Compare", runner),
                                      [](TAppSearchHistory* h) { delete h; });
  auto reviews = TAppSearchHistoryPtr(new TAppSearchHistory(history, "Reviews", runner),
                                      [](TAppSearchHistory* h) { delete h; });
  SetSearchContext(runner, hooks_.Config, std::move(compare), std::move(reviews));
}

void TAppKernel::OpenHistories() {
  int32_t days = hooks_.Config ? hooks_.Config->Preferences().DaysToKeepSearches() : 15;
  if (hooks_.Headless) days = std::numeric_limits<int32_t>::max();
  const TDateTime now = Now();
  for (TAppSearchHistory* history : {compareHistory_.get(), reviewsHistory_.get()})
    if (history) history->Open(days, now);
}

void TAppKernel::CompactWhenDue() {
  Progress(50, "Compacting database...");
  TAppConfig* config = hooks_.Config;
  if (config && !IsCompactionDue(config->GlobalSystem().LastCompactDatabase(), Now(),
                                 config->GlobalSystem().CompactDatabaseDelay()))
    return;
  CompactDatabase();
}

bool TAppKernel::CompactDatabase() {
  TEngineRepository* repository = Repository();
  if (!repository) return false;
  const TDateTime now = Now();
  bool ok = CompactLists(DefinitionLists(*repository));
  for (TAppSearchHistory* history : {compareHistory_.get(), reviewsHistory_.get()})
    if (history && history->Item()) history->Item()->Pack();
  if (!ok) {
    ShowAppError(aeCompactDatabase);
    return false;
  }
  if (hooks_.Config) hooks_.Config->GlobalSystem().SetLastCompactDatabase(now);
  return true;
}

bool TAppKernel::ReadOnly() const {
  return storage_ && storage_->ReadOnly();
}

TEngineRepository* TAppKernel::Repository() const {
  return partsInstalled_ && hooks_.Runner ? hooks_.Runner->Repository() : nullptr;
}

ISearchCatalogue* TAppKernel::Catalogue() const {
  return catalogue_.get();
}

void TAppKernel::LoadCurrencyTable() {
  std::string code = hooks_.CurrencyCode;
  bool showConverted = !code.empty();
  if (code.empty() && hooks_.Config) {
    code = hooks_.Config->GlobalSystem().CurrencyConvertCode();
    showConverted = hooks_.Config->Preferences().ShowConvertedCurrencies();
  }
  ReloadCurrencyTable(CurrencyConverter(), folders_.Data(), code, showConverted);
}

void TAppKernel::LoadCategoryList() {
  TEngineRepository* repository = Repository();
  if (!repository) return;
  categoryList_ = std::make_unique<TCategoryList>(repository->Categories(), folders_.Data());
  categoryList_->Load();
}

void TAppKernel::CloseCatalogueAndHistories() {
  categoryList_.reset();  // it observes the stored categories
  compareHistory_.reset();
  reviewsHistory_.reset();
  TQuorinApplication* runner = hooks_.Runner;
  if (partsInstalled_ && runner && storage_) {
    if (TEngineRepository* repository = runner->Repository())
      ReleaseDefinitionStorage(*storage_, DefinitionLists(*repository));
    if (runner->InstallParts({})) {
      partsInstalled_ = false;
      catalogue_.reset();
    } else if (runner->History()) {
      // The runner keeps its history while an action runs; it must not log in through the database.
      runner->History()->SetStorage({});
    }
  }
}

}  // namespace vandrel

#include "search/SearchAction.h"

#include "actions/QuorinApplications.h"
#include "currency/CurrencyConverters.h"
#include "engines/SearchTypeCompiler.h"
#include "platform/DateTime.h"
#include "platform/TextUtils.h"
#include "search/EngineListCache.h"
#include "search/EngineValidation.h"
#include "search/SearchConverters.h"
#include "search/SearchHistory.h"
#include "storage/CategoryStorage.h"
#include "storage/CodebaseStorage.h"
#include "storage/EngineStorage.h"
#include "storage/ResultStorage.h"
#include "storage/SearchStorage.h"

namespace vandrel {

const TClassInfo& TQuorinSearchOperation::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TQuorinSearchOperation>("TQuorinSearchOperation", TQuorinOperation::StaticClass())
          .Build();
  return info;
}

// Watches the stored search and its results: a stored result that goes must not stay linked to its
// master, and a stored search deleted under a running search ends the run instead of being written to.
class TQuorinSearchAction::TResultsWatch : public IStorageDataListObserver {
 public:
  explicit TResultsWatch(TQuorinSearchAction& action) : action_(action) {}
  void ItemDeleted(TStorageNotifier*, TStorageDataItem* item) override {
    if (item && item == action_.Search_) {
      action_.SearchGone();
      return;
    }
    std::erase_if(action_.Links_, [item](const auto& link) { return link.second == item; });
  }
  void StorageError(TStorageDataList*, bool writing) override {
    if (writing) action_.StorageFailed_ = true;
  }

 private:
  TQuorinSearchAction& action_;
};

TQuorinSearchAction::TQuorinSearchAction(TQuorinApplication& runner, ISearchCatalogue& catalogue,
                                         TSearcherFactory searcherClass)
    : Runner_(runner),
      Catalogue_(catalogue),
      SearcherClass_(std::move(searcherClass)),
      Watch_(std::make_unique<TResultsWatch>(*this)) {}

TQuorinSearchAction::~TQuorinSearchAction() {
  // The searcher may still hold events pointing here; it goes first.
  if (Searcher_) {
    Searcher_->Stop();
    Searcher_.reset();
  }
  if (Results_) Results_->RemoveObserver(Watch_.get());
  if (SearchList_) SearchList_->RemoveObserver(Watch_.get());
}

void TQuorinSearchAction::SearchGone() {
  Search_ = nullptr;
  if (SearchList_) SearchList_->RemoveObserver(Watch_.get());
  SearchList_ = nullptr;
  if (Searcher_) Searcher_->Stop();
}

bool TQuorinSearchAction::Prepare(TEngineRepository* repository, TSearchHistory* history) {
  TQuorinAsynchronousAction::Prepare(repository, history);
  ResultItem_ = Runner_.CurrentResultItem();
  if (!ResultItem_) return false;
  Search_ = ResultItem_->GetSearch();
  Results_ = &ResultItem_->GetResults();
  if (!Search_) return false;
  CategoryEngines_ = Catalogue_.CategoryEngines(Search_->CatName);
  SearchType_ = LoadSearchType(Catalogue_, Search_->SrtName);
  if (!SearchType_) return false;
  Searcher_ = SearcherClass_ ? SearcherClass_(SearchType_.get()) : nullptr;
  if (!Searcher_) return false;
  try {
    Convert(Searcher_->Instance(), *Search_);
  } catch (const ESearchConvertError&) {
    return false;
  }
  Results_->AddObserver(Watch_.get());
  SearchList_ = Search_->Owner();
  if (SearchList_) SearchList_->AddObserver(Watch_.get());
  ConnectSearcher();
  return true;
}

bool TQuorinSearchAction::Bind(const TQuorinOperation& operation) {
  return CategoryEngines_ != nullptr;
}

void TQuorinSearchAction::ConnectSearcher() {
  THttpSearchManager& s = *Searcher_;
  s.OnSearchStart = [this](THttpSearcher&) { SearchStarted(); };
  s.OnSearchEnd = [this](THttpSearcher&) { SearchEnded(); };
  s.OnNewResults = [this](THttpSearchManager&) { NewResults(); };
  s.OnUpdatedResults = [this](THttpSearchManager&) { UpdatedResults(); };
  s.OnStatus = [this](THttpSearcher& searcher) {
    const int code = searcher.ErrorCode;
    const std::string text = searcher.ErrorText;
    Tell([&](ISearchActionObserver& o) { o.SearchStatus(code, text); });
  };
  s.OnEngineStarted = [this](TSearchEngine& engine) {
    TEngineStorageItem* item = EngineItem(engine);
    Tell([&](ISearchActionObserver& o) { o.EngineStarted(item); });
  };
  s.OnEngineDone = [this](TSearchEngine& engine) {
    TEngineStorageItem* item = EngineItem(engine);
    Tell([&](ISearchActionObserver& o) { o.EngineDone(item); });
  };
  s.OnEngineError = [this](TSearchEngine& engine) {
    Failed_ = true;
    RunEngines_.MarkIncomplete(engine.Name);
    TEngineStorageItem* item = EngineItem(engine);
    const std::string text = engine.ErrorText;
    Tell([&](ISearchActionObserver& o) { o.EngineError(item, text); });
  };
  s.OnEngineResults = [this](TSearchEngine& engine) {
    const int count = engine.AllResults ? static_cast<int>(engine.AllResults->Count()) : 0;
    TotalResults_ += count;
    TEngineStorageItem* item = EngineItem(engine);
    Tell([&](ISearchActionObserver& o) { o.EngineResults(item, count); });
  };
  s.OnEngineProgress = [this](TSearchEngine& engine, int percent) {
    TEngineStorageItem* item = EngineItem(engine);
    Tell([&](ISearchActionObserver& o) { o.EngineProgress(item, percent); });
  };
  s.OnEngineAuthorize = [this](TSearchEngine& engine, bool& stop) {
    TEngineStorageItem* item = EngineItem(engine);
    Tell([&](ISearchActionObserver& o) {
      if (!stop) o.EngineAuthorize(item, stop);
    });
    if (!stop && item) {
      engine.UserName = item->UserName;
      engine.Password = item->Password;
    }
  };
  s.OnDetectStart = [this](TConnectionDetector&) {
    Tell([](ISearchActionObserver& o) { o.ConnectionDetectStart(); });
  };
  s.OnDetectDone = [this](TConnectionDetector&, int status) {
    ConnectionResult_ = status;
    Tell([&](ISearchActionObserver& o) { o.ConnectionDetectDone(status); });
  };
}

TEngineStorageItem* TQuorinSearchAction::EngineItem(const TSearchEngine& engine) const {
  if (!CategoryEngines_) return nullptr;
  for (size_t i = 0; i < CategoryEngines_->Count(); ++i) {
    TEngineStorageItem* item = CategoryEngines_->Engine(i);
    if (SameText(item->EngName, engine.Name)) return item;
  }
  return nullptr;
}

bool TQuorinSearchAction::Validates(TEngineStorageItem& engine, TSearchTypeReader& validationType) {
  return EngineAcceptsSearch(Catalogue_, validationType, *Search_, engine);
}

void TQuorinSearchAction::SelectEngines() {
  Selected_.clear();
  RunEngines_.Clear();
  std::unique_ptr<TSearchTypeReader> validationType = LoadSearchType(Catalogue_, Search_->SrtName);
  if (!validationType || !CategoryEngines_) return;
  auto keep = [&](TEngineStorageItem* engine) {
    if (!engine) return;
    for (TEngineStorageItem* kept : Selected_)
      if (kept == engine) return;
    if (Validates(*engine, *validationType)) Selected_.push_back(engine);
  };
  for (const std::string& name : Search_->Engines.Lines) keep(CategoryEngines_->FindByName(name));
  // The fall-back takes the engines as the user sees them listed, whatever order they were stored in.
  if (Selected_.empty()) {
    TStorageDataListView& listed = TEngineListCache::Sorted(*CategoryEngines_);
    for (size_t i = 0; i < listed.Count(); ++i) {
      auto* engine = static_cast<TEngineStorageItem*>(listed.Item(i));
      if (engine->Enabled) keep(engine);
    }
  }
}

bool TQuorinSearchAction::Start() {
  if (!Searcher_ || !Search_ || !Results_) return false;
  InStart_ = true;
  struct TLeave {
    bool& flag;
    ~TLeave() { flag = false; }
  } leave{InStart_};

  THttpSearchManager& s = *Searcher_;
  s.SetSearchType(SearchType_.get());
  Convert(s.Instance(), *Search_);
  s.Debug = Debug;
  s.SetResultsPerEngine(Search_->ResultsPerEngine);
  s.SetEngineTimeLimit(EngineTimeLimit);
  s.DetectConnection = DetectConnection;
  s.SetMaxThreads(MaxThreads);

  SelectEngines();
  s.Engines().DeleteAll();
  for (TEngineStorageItem* engine : Selected_) {
    TSearchEngine& added =
        s.Engines().FindOrAdd(engine->EngName, Catalogue_.EngineFile(Search_->CatName, engine->EngName));
    if (engine->State & esAuthorizationRequired) {
      added.AuthorizationRequired = true;
      added.UserName = engine->UserName;
      added.Password = engine->Password;
    }
    RunEngines_.Add(engine->EngName, (engine->Flags & efSupportsNew) != 0);
  }
  s.Instance().Variables.SetInteger("EngineCacheCount", static_cast<int64_t>(Selected_.size()));
  s.Instance().Variables.SetString("DefaultMoneyCode", CurrencyConverter().AxisCode);
  if (Selected_.empty()) return false;

  // The master list starts from what earlier runs stored.
  TSearchResultList& stored = s.ResultManager().StoredRecords();
  stored.Clear();
  std::vector<TResultStorageItem*> seeds;
  for (size_t i = 0; i < Results_->Count(); ++i) {
    TResultStorageItem* result = Results_->Result(i);
    TResultRecord& record = stored.NewRecord(CurrencyConverter().AxisCode);
    Convert(record, *result);
    seeds.push_back(result);
  }

  Failed_ = false;
  StorageFailed_ = false;
  s.Prepare();
  if (Failed_) return false;

  // Each stored result goes with the master its key seeded; of several whose keys coincide the first
  // carries on and the others are dropped, so no result is written with another's data.
  Links_.clear();
  Coinciding_.clear();
  for (size_t i = 0; i < seeds.size(); ++i) {
    TMasterResult* master = s.ResultManager().SeedMaster(i);
    if (master && !Links_.emplace(master, seeds[i]).second) Coinciding_.push_back(seeds[i]->Index());
  }

  s.Execute();
  if (Finished_) return false;
  return s.State() != ssIdle || SearchStartSeen_;
}

std::string TQuorinSearchAction::StorageFailure() const {
  if (!StorageFailed_) return {};
  std::string reason;
  if (auto* codebase = dynamic_cast<TCodebaseStorage*>(Results_ ? Results_->Storage() : nullptr))
    if (codebase->Database()) reason = codebase->Database()->LastErrorMessage();
  return "the results of this run could not be stored" + (reason.empty() ? std::string() : ": " + reason) +
         "; the history keeps the search as it was before";
}

void TQuorinSearchAction::Stop() {
  if (!Searcher_) return;
  Searcher_->Stop();
  // A stop during the connection test ends the run before it began: nothing else will finish us.
  if (!SearchStartSeen_ && Searcher_->State() == ssIdle && !InStart_) Finish();
}

void TQuorinSearchAction::Finish() {
  if (Finished_) return;
  Finished_ = true;
  NotifyAllFinished();
}

TResultStorageItem* TQuorinSearchAction::StoredResultOf(const TMasterResult& master) const {
  auto it = Links_.find(&master);
  return it == Links_.end() ? nullptr : it->second;
}

void TQuorinSearchAction::ReloadResults() {
  // Reloading frees every stored result; the links follow their keys to the reloaded ones.
  std::unordered_map<const TMasterResult*, int32_t> keys;
  for (const auto& [master, result] : Links_) keys[master] = result->Index();
  Links_.clear();
  Results_->Load();
  std::unordered_map<int32_t, TResultStorageItem*> byKey;
  for (size_t i = 0; i < Results_->Count(); ++i)
    byKey.emplace(Results_->Result(i)->Index(), Results_->Result(i));
  for (const auto& [master, key] : keys) {
    auto found = byKey.find(key);
    if (found != byKey.end()) Links_[master] = found->second;
  }
}

void TQuorinSearchAction::SaveSearch(int fieldIndex) {
  if (!Search_) return;
  // While the run's results are uncommitted the stored count stays with the stored results; both are
  // written together when the run ends.
  if (Results_ && Results_->State() == lsRewriting) return;
  if (Search_->Owner() && !Search_->Owner()->InTransaction()) Search_->RunTransaction(lsUpdating, fieldIndex);
}

void TQuorinSearchAction::UpdateMatchCount() {
  if (!Search_) return;
  TStorageDataListView* view = Results_->FindView(kDefaultViewName);
  Search_->MatchCount = view ? static_cast<int32_t>(view->Count()) : static_cast<int32_t>(Results_->Count());
  SaveSearch(kSearchUpdateMatchCount);
}

void TQuorinSearchAction::SearchStarted() {
  SearchStartSeen_ = true;
  if (!Search_) return;
  const TDateTime now = Now();
  UpdateDate_ = now;
  if (TCategoryStorageItem* category = Catalogue_.FindCategory(Search_->CatName)) {
    category->LastSearchDate = now;
    Catalogue_.SaveCategory(*category);
  }
  Search_->UpdateDate = now;
  HadResults_ = Results_->Count() > 0;
  MatchCountBefore_ = Search_->MatchCount;
  SaveSearch(0);
  // A list with a back end is read again, as the database holds it; a memory-only list is its own store.
  if (Results_->Storage()) ReloadResults();
  Results_->BeginTransaction(lsRewriting);
  for (int32_t key : Coinciding_) {
    for (size_t i = 0; i < Results_->Count(); ++i) {
      TResultStorageItem* result = Results_->Result(i);
      if (result->Index() != key) continue;
      // A rewrite removes it at once; the watch drops any link to it.
      result->Delete();
      break;
    }
  }
  Coinciding_.clear();
  TotalResults_ = 0;
  for (size_t i = 0; i < Results_->Count(); ++i) Results_->Result(i)->New = false;
  NotifyAllStarted();
}

void TQuorinSearchAction::NewResults() {
  if (!Searcher_) return;
  TResultManager& manager = Searcher_->ResultManager();
  for (TMasterResult* master : manager.NewResults()) {
    TResultStorageItem* result = Results_->NewResult();
    if (!result) continue;
    Convert(*result, *master, Searcher_->EngineResults());
    result->Date = UpdateDate_;
    if (HadResults_ && !result->FoundBy.Lines.empty()) {
      TEngineStorageItem* finder = CategoryEngines_->FindByName(result->FoundBy.Lines.back());
      result->New = finder && (finder->Flags & efSupportsNew);
    }
    Links_[master] = result;
    Results_->NotifyItemChanged(result);
    Tell([&](ISearchActionObserver& o) { o.ResultAdded(result); });
  }
  UpdateMatchCount();
}

void TQuorinSearchAction::UpdatedResults() {
  if (!Searcher_) return;
  for (TMasterResult* master : Searcher_->ResultManager().UpdatedResults()) {
    TResultStorageItem* result = StoredResultOf(*master);
    if (!result) continue;
    Convert(*result, *master, Searcher_->EngineResults());
    result->FilterState &= static_cast<uint8_t>(~(rfsOutdated | rfsRemains));
    Results_->NotifyItemChanged(result);
    Tell([&](ISearchActionObserver& o) { o.ResultUpdated(result); });
  }
  UpdateMatchCount();
}

void TQuorinSearchAction::SearchEnded() {
  // Engines that were stopped, or never got to run, did not look in full.
  for (TSearchEngine* engine : Searcher_->Engines().Items())
    if (engine->Stopped || engine->State != ersFinished) RunEngines_.MarkIncomplete(engine->Name);

  Results_->BeginUpdate();
  for (TMasterResult* master : Searcher_->ResultManager().OldResults()) {
    TResultStorageItem* result = StoredResultOf(*master);
    if (!result) continue;
    switch (RunEngines_.Fate(result->FoundBy.Lines)) {
      case TOldResultFate::orfRemains:
        result->FilterState |= rfsRemains;
        Results_->NotifyItemChanged(result);
        break;
      case TOldResultFate::orfOutdated:
        // The user's own deletion mark stays: it must survive the result being found again later.
        result->FilterState = static_cast<uint8_t>((result->FilterState & rfsDeleted) | rfsOutdated);
        Results_->NotifyItemChanged(result);
        break;
      case TOldResultFate::orfDeleted:
        // Notifications are held back here, so the watch would not hear of it.
        Links_.erase(master);
        result->Delete();
        break;
    }
  }
  Results_->EndUpdate(true);
  // The results and the count that describes them reach the files in one batch, or neither does.
  IStorageManager* storage = Results_->Storage();
  if (storage) storage->BeginBatch();
  if (Results_->State() == lsRewriting) Results_->EndTransaction();
  if (!StorageFailed_) {
    UpdateMatchCount();
    if (storage && !storage->EndBatch(!StorageFailed_)) StorageFailed_ = true;
  } else if (storage) {
    storage->EndBatch(false);
  }
  if (StorageFailed_ && Search_) {
    // Memory goes back to what the files hold, so nothing shown disagrees with what is stored.
    Search_->MatchCount = MatchCountBefore_;
    if (storage) ReloadResults();
  }
  Finish();
}

TQuorinHttpSearchAction::TQuorinHttpSearchAction(TQuorinApplication& runner, ISearchCatalogue& catalogue)
    : TQuorinSearchAction(runner, catalogue, [](TSearchTypeReader* searchType) {
        return std::make_unique<THttpSearchManager>(searchType);
      }) {}

void RegisterSearchAction(TQuorinActionRepository& actions, TQuorinApplication& runner,
                          ISearchCatalogue& catalogue) {
  actions.RegisterSearchAction(
      [&runner, &catalogue] { return std::make_unique<TQuorinHttpSearchAction>(runner, catalogue); },
      TQuorinSearchOperation::StaticClass());
}

}  // namespace vandrel

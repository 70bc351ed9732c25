#include "search/HttpSearcher.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/Format.h"
#include "platform/Guarded.h"
#include "platform/TextUtils.h"

namespace vandrel {

namespace {

constexpr int64_t kOnePagePerSubEngine = 65535;  // "ResultsPerPage" RP_INFINITE

int64_t Var(TEngineCompiler& c, std::string_view name, int64_t def) {
  return c.Variables().GetInteger(name, def);
}

void SetVar(TEngineCompiler& c, const std::string& name, int64_t value) {
  c.Variables().SetValue(name, THostValue(value));
}

}  // namespace

std::string HttpSearcherErrorText(int code) {
  switch (code) {
    case hseNoEngine:
      return "Select at least 1 search engine";
    case hseNoDefaultInputField:
      return "No DefaultInputField";
    case hseNoHttpItem:
      return "HttpItem not assigned";
    case hseNoThread:
      return "Select at least 1 thread";
    case hseEmptySourceUrl:
      return "SourceUrl is empty";
    default:
      return "()";
  }
}

// ---------------------------------------------------------------------------------------------------

TSearchEngine::TSearchEngine(THttpSearcher& searcher, std::string name, std::string fileName)
    : Name(name),
      OriginalName(std::move(name)),
      FileName(std::move(fileName)),
      PageResults(searcher.instance_.get(), false),
      Searcher(&searcher),
      reader_(std::make_unique<TEngineReader>()) {
  Compiler().SetInstance(searcher.instance_.get());
  Compiler().OnError = [this](TBaseCompiler&, const TCompilerMsgItem& e) {
    Searcher->EngineScriptError(*this, e);
  };
}

TSearchEngine::~TSearchEngine() {
  Compiler().OnError = nullptr;
}

TEngineCompiler& TSearchEngine::Compiler() {
  return reader_->Compiler();
}

void TSearchEngine::Reset() {
  State = ersReset;
  ErrorCode = 0;
  ErrorText.clear();
  ErrorLine = 0;
  Page = 1;
  PageCount = 1;
  Done = Stopped = ErrorReported = errorPending_ = false;
  scriptErrors_ = 0;
  Url.clear();
  PostData.clear();
  response_.reset();
  PageResults.Clear();
  if (AllResults) AllResults->Clear();
  TEngineCompiler& c = Compiler();
  c.ResetEngineVariables();
  c.ResultsParser.Reset();
  c.ResultsParser.Results().Clear();
}

bool TSearchEngine::Load() {
  if (loaded_) return true;
  if (loadFailed_) {
    // A definition that failed once fails the same way again; report it for this run too.
    Fail(loadError_.Code, loadError_.Text, loadError_.Line);
    return false;
  }
  TSearchTypeInstance* instance = Searcher->instance_.get();
  loaded_ = reader_->Load(FileName, instance);
  if (!loaded_) {
    loadFailed_ = true;
    if (!Done) {
      const auto& errors = Compiler().Errors;
      if (errors.empty())
        Fail(127, "Cannot open file " + FileName, 0);
      else
        Fail(errors.front().Code, errors.front().Text, errors.front().Line);
    }
    loadError_.Code = ErrorCode ? ErrorCode : 127;
    loadError_.Text = ErrorText;
    loadError_.Line = ErrorLine;
    return false;
  }
  // Register may have changed what a run starts from.
  Compiler().ResetEngineVariables();
  Compiler().ResultsParser.Reset();
  if (reader_->AuthorizationRequired) AuthorizationRequired = true;
  return true;
}

void TSearchEngine::Fail(int code, const std::string& text, int line) {
  Done = true;
  ErrorCode = code;
  ErrorText = text;
  ErrorLine = line;
}

// ---------------------------------------------------------------------------------------------------

size_t TIndexedEngineList::Count() const {
  std::lock_guard<std::mutex> g(lock_);
  return items_.size();
}

TSearchEngine* TIndexedEngineList::At(size_t i) const {
  std::lock_guard<std::mutex> g(lock_);
  return i < items_.size() ? items_[i] : nullptr;
}

TSearchEngine* TIndexedEngineList::Find(std::string_view name) const {
  std::lock_guard<std::mutex> g(lock_);
  if (indexed_) {
    auto it = index_.find(LowerAscii(name));
    return it == index_.end() ? nullptr : items_[it->second];
  }
  for (TSearchEngine* e : items_)
    if (SameText(e->Name, name)) return e;
  return nullptr;
}

void TIndexedEngineList::Add(TSearchEngine* engine) {
  std::lock_guard<std::mutex> g(lock_);
  items_.push_back(engine);
  if (indexed_) index_[LowerAscii(engine->Name)] = items_.size() - 1;
}

TSearchEngine* TIndexedEngineList::TakeFirst() {
  std::lock_guard<std::mutex> g(lock_);
  if (items_.empty()) return nullptr;
  TSearchEngine* e = items_.front();
  items_.erase(items_.begin());
  if (indexed_) {
    index_.erase(LowerAscii(e->Name));
    RebuildIndexFrom(0);
  }
  return e;
}

void TIndexedEngineList::Remove(TSearchEngine* engine) {
  std::lock_guard<std::mutex> g(lock_);
  auto it = std::find(items_.begin(), items_.end(), engine);
  if (it == items_.end()) return;
  size_t position = static_cast<size_t>(it - items_.begin());
  items_.erase(it);
  if (indexed_) {
    index_.erase(LowerAscii(engine->Name));
    RebuildIndexFrom(position);
  }
}

void TIndexedEngineList::Clear() {
  std::lock_guard<std::mutex> g(lock_);
  items_.clear();
  index_.clear();
}

std::vector<TSearchEngine*> TIndexedEngineList::Items() const {
  return ReadLocked(lock_, items_);
}

void TIndexedEngineList::RebuildIndexFrom(size_t position) {
  for (size_t i = position; i < items_.size(); ++i) index_[LowerAscii(items_[i]->Name)] = i;
}

TEngineList::~TEngineList() {
  Clear();
}

TSearchEngine& TEngineList::FindOrAdd(const std::string& name, const std::string& fileName) {
  if (TSearchEngine* e = Find(name)) return *e;
  owned_.push_back(std::make_unique<TSearchEngine>(searcher_, name, fileName));
  TSearchEngine& e = *owned_.back();
  e.Index = static_cast<int>(Count());
  e.AllResults = &searcher_.engineResults_.FindOrAdd(name);
  Add(&e);
  return e;
}

void TEngineList::DeleteAll() {
  Clear();
  searcher_.pending_.Clear();
  searcher_.finished_.Clear();
  owned_.clear();
}

// ---------------------------------------------------------------------------------------------------

THttpSearcher::THttpSearcher(TSearchTypeReader* searchType, MainDispatcher& dispatcher)
    : dispatcher_(dispatcher),
      alive_(std::make_shared<bool>(true)),
      instance_(std::make_unique<TSearchTypeInstance>(searchType)),
      engines_(*this),
      pending_(false),
      finished_(false),
      detector_(std::make_unique<TConnectionDetector>(dispatcher)),
      downloader_(std::make_unique<THttpDownloader>(dispatcher)) {
  searchType_ = searchType;
  engineResults_.SetInstance(instance_.get());
  PublishSettings();
  ApplyDownloaderSettings();

  std::weak_ptr<bool> alive = alive_;
  THttpDownloaderEvents events;
  events.OnItemDone = [this, alive](const IHttpResultPtr& r) {
    if (!alive.expired()) ItemDone(r);
  };
  events.OnItemProgress = [this, alive](const IHttpResultPtr& r) {
    if (!alive.expired()) ItemProgress(r);
  };
  events.OnDone = [this, alive] {
    if (!alive.expired()) PostCheckCompletion();
  };
  events.OnError = [this, alive](const TThreadError& e) {
    if (!alive.expired()) Status(e.Reason, e.Text());
  };
  downloader_->SetEvents(std::move(events));

  detector_->OnDetectStart = [this](TConnectionDetector& d) {
    if (OnDetectStart) OnDetectStart(d);
  };
  detector_->OnDetectDone = [this](TConnectionDetector& d, int status) {
    detectStatus_ = status;
    detectDone_ = true;
    if (OnDetectDone) OnDetectDone(d, status);
  };
}

THttpSearcher::~THttpSearcher() {
  alive_.reset();
  downloader_->SetEvents({});
  if (!downloader_->IsIdle()) downloader_->Stop();
  detector_->OnDetectStart = nullptr;
  detector_->OnDetectDone = nullptr;
  if (detector_->Running()) detector_->Cancel();
  items_.clear();
  // Engines first: their records live in the engine results.
  engines_.DeleteAll();
  downloader_.reset();
}

void THttpSearcher::SetSearchType(TSearchTypeReader* reader) {
  if (running_) return;
  auto fresh = std::make_unique<TSearchTypeInstance>(reader);
  searchType_ = reader;
  for (TSearchEngine* e : engines_.Items()) e->PageResults.Clear();
  engineResults_.SetInstance(fresh.get());
  for (TSearchEngine* e : engines_.Items()) {
    e->Compiler().SetInstance(fresh.get());
    e->PageResults.SetInstance(fresh.get());
    e->AllResults = &engineResults_.FindOrAdd(e->Name);
  }
  instance_ = std::move(fresh);
  PublishSettings();
}

void THttpSearcher::PublishSettings() {
  TVariableList& v = instance_->Variables;
  v.SetInteger("EngineTimeLimit", engineTimeLimit_);
  v.SetInteger("MaxThreads", maxThreads_);
  v.SetInteger("ResultsPerEngine", resultsPerEngine_);
}

void ReadPagesAsSearches(THttpDownloaderSettings& s) {
  s.CruncherMode = true;
  s.KeepResults = true;
  s.StoreInMemory = true;
  s.DownloadFrames = false;
  s.ParsePages = false;
  s.DownloadOnError = true;
}

void THttpSearcher::ApplyDownloaderSettings() {
  THttpDownloaderSettings s = downloader_->Settings();
  ReadPagesAsSearches(s);
  // A store whose page never ends must not take the memory: the page ends at the limit, with the reason.
  if (s.MaxFileSize <= 0) s.MaxFileSize = kDefaultPageSizeLimit;
  s.MaxDownloadThreads = std::max(1, maxThreads_);
  s.UseTimeLimit = engineTimeLimit_ > 0;
  downloader_->SetSettings(s);  // refused while transfers run; Execute applies them again
}

void THttpSearcher::SetEngineTimeLimit(int milliseconds) {
  engineTimeLimit_ = milliseconds;
  PublishSettings();
  ApplyDownloaderSettings();
}

void THttpSearcher::SetMaxThreads(int count) {
  maxThreads_ = count;
  PublishSettings();
  ApplyDownloaderSettings();
}

void THttpSearcher::SetResultsPerEngine(int count) {
  resultsPerEngine_ = count;
  PublishSettings();
}

int THttpSearcher::GetActiveCount() const {
  return ReadLocked(lock_, activeCount_);
}

void THttpSearcher::SetActiveCount(int count) {
  WriteLocked(lock_, activeCount_, count);
}

void THttpSearcher::Status(int code, const std::string& text) {
  ErrorCode = code;
  ErrorText = text.empty() ? HttpSearcherErrorText(code) : text;
  if (OnStatus) OnStatus(*this);
}

bool THttpSearcher::RunProcedure(TSearchEngine& engine, const std::string& name) {
  // An output field named like an input field shares its variable, and every evaluated record writes
  // it; scripts must see what the user asked for.
  for (size_t i = 0; i < instance_->InputFields.Count(); ++i) instance_->InputFields.At(i).Changed();
  // A looping script is stopped like a slow store: its error fails this engine and the others go on. It
  // holds the main thread, where the other engines' pages wait meanwhile, so it gets half the time limit
  // and they are still taken in before their own limit runs out.
  if (engineTimeLimit_ > 0) engine.Compiler().RunTimeLimit = std::max(engineTimeLimit_ / 2, 1);
  return engine.Compiler().ExecuteProcedure(name) == 0;
}

// ---------------------------------------------------------------------------------------------------

void THttpSearcher::Prepare() {
  prepared_ = false;
  if (!instance_->InputFields.DefaultInputField) {
    Status(hseNoDefaultInputField);
    return;
  }
  instance_->InputFields.RecomputeFields();
  SetActiveCount(0);
  pending_.Clear();
  finished_.Clear();
  items_.clear();
  for (TSearchEngine* e : engines_.Items()) {
    e->Reset();
    e->Compiler().Debug = Debug;
    pending_.Add(e);
    if (!e->Load()) {
      // Raised when the engine starts, so the owner hears of it inside the run.
      e->errorPending_ = true;
      continue;
    }
    SetVar(e->Compiler(), "ResultsPerEngine", resultsPerEngine_);
  }
  prepared_ = true;
}

void THttpSearcher::Execute() {
  if (state_ != ssIdle) return;
  if (DetectConnection) {
    state_ = ssDetecting;
    detectDone_ = false;
    detectStatus_ = TConnectionDetector::kStatusNotStarted;
    detector_->Start();
    dispatcher_.RunUntil([this] { return detectDone_ || !detector_->Running(); }, std::chrono::hours(24));
    bool passed = detectDone_ && detectStatus_ == TConnectionDetector::kStatusConnected;
    if (!passed || state_ == ssStopping) {
      state_ = ssIdle;
      prepared_ = false;
      return;
    }
  }
  if (engines_.Count() == 0 || maxThreads_ < 1) {
    state_ = ssIdle;
    prepared_ = false;
    Status(engines_.Count() == 0 ? hseNoEngine : hseNoThread);
    return;
  }
  ApplyDownloaderSettings();
  running_ = true;
  state_ = ssPreparing;
  if (!prepared_) Prepare();
  if (!prepared_) {
    // No usable default input field: nothing can be asked of any engine.
    running_ = false;
    state_ = ssIdle;
    return;
  }
  BeforeSearch();
  if (OnSearchStart) OnSearchStart(*this);
  if (state_ == ssPreparing) state_ = ssRunning;
  while (state_ == ssRunning && pending_.Count() > 0 && GetActiveCount() < maxThreads_) StartNextEngine();
  prepared_ = false;
  // A stop during OnSearchStart, or engines that all ended at once, still complete through the check.
  PostCheckCompletion();
}

void THttpSearcher::Stop() {
  if (state_ == ssIdle || state_ == ssStopping) return;
  bool detecting = state_ == ssDetecting;
  state_ = ssStopping;
  if (detecting) {
    if (detector_->Running()) detector_->Cancel();
    return;
  }
  if (!downloader_->IsIdle()) downloader_->Stop();
  PostCheckCompletion();
}

void THttpSearcher::StartNextEngine() {
  TSearchEngine* e = pending_.TakeFirst();
  if (!e) return;
  if (e->errorPending_) {
    e->errorPending_ = false;
    e->ErrorReported = true;
    if (OnEngineError) OnEngineError(*e);
  }
  if (!e->Done) {
    {
      std::lock_guard<std::mutex> g(lock_);
      e->State = ersDownloading;
      ++activeCount_;
    }
    if (!e->ErrorReported && OnEngineStarted) OnEngineStarted(*e);
  }
  if (!e->Done) InitEngine(*e);
  if (!e->Done) RequestPage(*e);
  if (!e->Done) return;
  PostEngineFinished(*e);
}

void THttpSearcher::InitEngine(TSearchEngine& engine) {
  TEngineCompiler& c = engine.Compiler();
  if (!RunProcedure(engine, "Init")) engine.Done = true;
  if (!engine.Done) engine.Done = c.Variables().GetBoolean("Terminated", false);
  if (!engine.Done) {
    if (c.Variables().GetBoolean("AuthorizationRequired", false)) engine.AuthorizationRequired = true;
    if (engine.AuthorizationRequired && engine.UserName.empty() && OnEngineAuthorize) {
      bool stop = false;
      OnEngineAuthorize(engine, stop);
      if (stop) engine.Done = true;
    }
  }
  if (engine.Done) return;
  c.ResultsParser.MaxResults =
      static_cast<int32_t>(std::clamp<int64_t>(Var(c, "ResultsPerEngine", 0), 0, INT32_MAX));
  c.ResultsParser.DocumentType = static_cast<int32_t>(Var(c, "DocumentType", 0));
  int64_t perPage = Var(c, "ResultsPerPage", kOnePagePerSubEngine);
  int64_t pages = 1;
  if (perPage != kOnePagePerSubEngine && perPage > 0)
    pages = (Var(c, "ResultsPerEngine", 0) - 1) / perPage + 1;
  // A script may set NbSubEngines or ResultsPerEngine to anything; progress divides by the page count.
  pages += std::max<int64_t>(Var(c, "NbSubEngines", 1), 1) - 1;
  engine.PageCount = static_cast<int>(std::clamp<int64_t>(pages, 1, INT32_MAX));
  SetVar(c, "Iteration", 0);
  engine.State = ersDownloading;
}

void THttpSearcher::RequestPage(TSearchEngine& engine) {
  TEngineCompiler& c = engine.Compiler();
  engine.State = ersDownloading;
  if (state_ == ssStopping) engine.Stopped = engine.Done = true;
  if (!engine.Done) {
    if (!RunProcedure(engine, "BeforeDownload")) {
      engine.Done = true;
    } else {
      engine.Url = c.Variables().GetString("SourceUrl", "");
      engine.Done = c.Variables().GetBoolean("Terminated", false);
      if (!engine.Url.empty()) {
        engine.PostData.clear();
        engine.TransferMethod = static_cast<int>(Var(c, "TransferMethod", 0));
      } else if (!engine.Done) {
        EngineError(engine, hseEmptySourceUrl, HttpSearcherErrorText(hseEmptySourceUrl));
      }
    }
  }
  if (engine.Done) return;
  IHttpItemPtr item = downloader_->AddItem(engine.Url);
  if (!item) {
    engine.Done = true;
    Status(hseNoHttpItem);
    return;
  }
  THttpParam& p = item->Params();
  if (engineTimeLimit_ > 0) p.TimeLimit.Set(engineTimeLimit_);
  p.DocumentType.Set(dtHtml);
  int method = std::clamp(engine.TransferMethod, 0, 2);
  p.TransferMethod.Set(static_cast<TZHttpMethod>(method));
  for (size_t i = 0; i < c.HttpVars->Count(); ++i) p.Vars.push_back(c.HttpVars->At(i));
  if (!engine.PostData.empty()) p.PostStream = engine.PostData;
  if (!engine.UserName.empty()) p.UserName.Set(engine.UserName);
  if (!engine.Password.empty()) p.Password.Set(engine.Password);
  p.UseCookies.Set(c.Variables().GetBoolean("UseCookies", true));
  std::string agent = c.Variables().GetString("UserAgent", "");
  if (!agent.empty()) p.UserAgent.Set(agent);
  items_[item->UniqueId()] = &engine;
  item->Run();
}

TSearchEngine* THttpSearcher::EngineOfItem(int uniqueId, bool release) {
  auto it = items_.find(uniqueId);
  if (it == items_.end()) return nullptr;
  TSearchEngine* e = it->second;
  if (release) items_.erase(it);
  return e;
}

void THttpSearcher::ItemDone(const IHttpResultPtr& result) {
  std::weak_ptr<bool> alive = alive_;
  dispatcher_.Post(
      [this, alive, result] {
        if (alive.expired()) return;
        if (TSearchEngine* e = EngineOfItem(result->UniqueId(), true)) ProcessPage(*e, result);
      },
      kMsgPageArrived);
}

void THttpSearcher::ItemProgress(const IHttpResultPtr& result) {
  std::weak_ptr<bool> alive = alive_;
  dispatcher_.Post(
      [this, alive, result] {
        if (alive.expired()) return;
        TSearchEngine* e = EngineOfItem(result->UniqueId(), false);
        if (e && e->State == ersDownloading) ReportProgress(*e, result.get());
      },
      kMsgSearchProgress);
}

void THttpSearcher::ProcessPage(TSearchEngine& engine, const IHttpResultPtr& result) {
  TEngineCompiler& c = engine.Compiler();
  engine.response_ = result;
  engine.State = ersProcessing;
  engine.Done = engine.Done || state_ != ssRunning;
  engine.Stopped = state_ == ssStopping;
  if (!engine.Done) {
    int status = result->StatusCode();
    bool failed = result->ResultCode() != 0 || status < 200 || status >= 400;
    if (failed && std::find(c.IgnoredStatusCodes.begin(), c.IgnoredStatusCodes.end(), status) ==
                      c.IgnoredStatusCodes.end()) {
      std::string text = result->ErrorText();
      if (text.empty()) text = Format("StatusCode: %d", {status});
      EngineError(engine, result->ResultCode() != 0 ? result->ResultCode() : status, text);
    }
  }
  if (!engine.Done) {
    ReportProgress(engine, result.get());
    std::string text = result->Content().Text;
    if (text.empty()) {
      engine.Done = true;
    } else {
      c.ApplyPageSettings();
      c.ResultsParser.SetPageText(std::move(text));
      c.ResultsParser.DocumentDate = result->Date();
      c.ResultsParser.DocumentLastModified = result->LastModified();
      std::vector<std::string> visited = result->Visited();
      c.ResultsParser.SetDocumentAddress(visited.empty() ? result->Url() : visited.back());
      if (!RunProcedure(engine, "AfterDownload")) engine.Done = true;
      if (!engine.Done) engine.Done = c.Variables().GetBoolean("Terminated", false);
    }
  }
  if (!engine.Done) ParsePage(engine);
  if (!engine.Done) {
    ++engine.Page;
    RequestPage(engine);
    if (!engine.Done) return;
  }
  PostEngineFinished(engine);
}

void THttpSearcher::ParsePage(TSearchEngine& engine) {
  TEngineCompiler& c = engine.Compiler();
  TResultsParserEx& parser = c.ResultsParser;
  c.ApplyParseSettings();
  int count = parser.Parse();
  if (!RunProcedure(engine, "AfterParse")) engine.Done = true;
  if (!engine.Done) engine.Done = c.Variables().GetBoolean("Terminated", false);

  // The page's records move into the engine's results; scripts flagged the ones to drop.
  for (auto& record : parser.Results().TakeAll()) {
    if (record->Deleted || record->FilteredOut) continue;
    record->Refresh();
    TResultRecord* r = record.get();
    engine.AllResults->Add(std::move(record));
    engine.PageResults.AddRef(r);
  }
  ProcessPageResults(engine);
  if (engine.PageResults.Count() > 0) {
    if (OnEngineResults) OnEngineResults(engine);
    ClearPageResults(engine);
  }
  if (engine.Done) return;
  if (engine.AllResults->Count() >= static_cast<size_t>(std::max(resultsPerEngine_, 0))) {
    engine.Done = true;
    return;
  }
  int64_t subEngine = Var(c, "SubEngine", 1);
  int64_t subEngines = Var(c, "NbSubEngines", 1);
  SetVar(c, "Iteration", Var(c, "Iteration", 0) + 1);
  bool multi = subEngines >= 2 && subEngine <= subEngines;
  bool shortPage = (engine.PageCount == 1 && count < resultsPerEngine_) ||
                   (engine.PageCount > 1 && count < Var(c, "ResultsPerPage", kOnePagePerSubEngine));
  if (multi && shortPage) {
    if (subEngine < subEngines) {
      SetVar(c, "SubEngine", subEngine + 1);
      SetVar(c, "Iteration", 0);
      subEngine += 1;
    } else {
      engine.Done = true;
    }
  }
  if (engine.Done) return;
  if (count == 0 && !multi)
    engine.Done = true;
  else if (engine.Page >= engine.PageCount)
    engine.Done = true;
  else if (subEngines < subEngine)
    engine.Done = true;
}

void THttpSearcher::ReportProgress(TSearchEngine& engine, const IHttpResult* result) {
  if (!result) return;
  int status = result->StatusCode();
  if (status == 301 || status == 302) return;
  double fraction;
  int64_t expected = result->ContentLength();
  bool failed = result->ResultCode() != 0;
  if (expected >= 1)
    fraction = std::min(1.0, static_cast<double>(result->BytesTransferred()) / static_cast<double>(expected));
  else
    fraction = (engine.State == ersDownloading || failed) ? 0.0 : 1.0;
  int pages = std::max(engine.PageCount, 1);
  double percent = (engine.Page - 1 + fraction) * 100.0 / pages;
  // std::nearbyint rounds halves to the even neighbour in the default rounding mode.
  if (OnEngineProgress) OnEngineProgress(engine, static_cast<int>(std::nearbyint(percent)));
}

void THttpSearcher::PostEngineFinished(TSearchEngine& engine) {
  std::weak_ptr<bool> alive = alive_;
  TSearchEngine* e = &engine;
  dispatcher_.Post(
      [this, alive, e] {
        if (!alive.expired()) EngineFinished(*e);
      },
      kMsgEngineFinished);
}

void THttpSearcher::EngineFinished(TSearchEngine& engine) {
  if (engine.State == ersFinished) return;
  if (engine.State == ersDownloading || engine.State == ersProcessing) {
    std::lock_guard<std::mutex> g(lock_);
    --activeCount_;
  }
  engine.State = ersFinished;
  finished_.Add(&engine);
  if (const IHttpResultPtr& r = engine.response_) {
    if (r->ResultCode() == 0 && engine.PageCount > 1) engine.PageCount = engine.Page;
    ReportProgress(engine, r.get());
  }
  if (!engine.ErrorReported && OnEngineDone) OnEngineDone(engine);
  if (state_ == ssRunning && pending_.Count() > 0 && GetActiveCount() < maxThreads_) {
    StartNextEngine();
    return;
  }
  if (GetActiveCount() == 0) PostCheckCompletion();
}

void THttpSearcher::PostCheckCompletion() {
  if (checkPosted_) return;
  checkPosted_ = true;
  std::weak_ptr<bool> alive = alive_;
  dispatcher_.Post(
      [this, alive] {
        if (alive.expired()) return;
        checkPosted_ = false;
        CheckCompletion();
      },
      kMsgCheckCompletion);
}

void THttpSearcher::CheckCompletion() {
  if (state_ == ssIdle || state_ == ssDetecting || GetActiveCount() != 0 || !downloader_->IsIdle()) return;
  state_ = ssIdle;
  AfterSearch();
  if (OnSearchEnd) OnSearchEnd(*this);
  if (downloader_->IsIdle()) downloader_->ClearResults();
  running_ = false;
}

void THttpSearcher::EngineScriptError(TSearchEngine& engine, const TCompilerMsgItem& error) {
  // The first error is the cause; what a script reports after it (a compile going on past a bad line)
  // follows from it, so it must not replace the text the user is shown.
  const bool first = engine.scriptErrors_++ == 0;
  if (first)
    engine.Fail(error.Code, error.Text, error.Line);
  else
    engine.Done = true;
  // While preparing, the error is kept and raised when the engine starts.
  if (state_ != ssRunning && state_ != ssStopping) return;
  if (first) engine.ErrorReported = true;
  if (OnEngineError) OnEngineError(engine);
}

void THttpSearcher::EngineError(TSearchEngine& engine, int code, const std::string& text, int line) {
  engine.Fail(code, text, line);
  if (OnEngineError) OnEngineError(engine);
}

void THttpSearcher::ClearPageResults(TSearchEngine& engine) {
  engine.PageResults.Clear();
}

void THttpSearcher::ProcessPageResults(TSearchEngine&) {}
void THttpSearcher::BeforeSearch() {}
void THttpSearcher::AfterSearch() {}

// ---------------------------------------------------------------------------------------------------

THttpSearchManager::THttpSearchManager(TSearchTypeReader* searchType, MainDispatcher& dispatcher)
    : THttpSearcher(searchType, dispatcher), results_(std::make_unique<TResultManager>()) {
  results_->SetInstance(&Instance());
}

THttpSearchManager::~THttpSearchManager() {
  // Masters refer to records of the engines' results, which the base frees.
  results_.reset();
}

void THttpSearchManager::SetSearchType(TSearchTypeReader* reader) {
  if (Running()) return;
  results_->SetInstance(nullptr);
  THttpSearcher::SetSearchType(reader);
  results_->SetInstance(&Instance());
}

void THttpSearchManager::Prepare() {
  // Before the engines drop last run's records, which the masters still point to.
  results_->Reset();
  THttpSearcher::Prepare();
}

void THttpSearchManager::ProcessPageResults(TSearchEngine& engine) {
  size_t total = engine.AllResults->Count();
  size_t n = engine.PageResults.Count();
  for (size_t i = 0; i < n; ++i) {
    TResultRecord& r = engine.PageResults.At(i);
    r.Rank = static_cast<int32_t>(total - n + i + 1);
    results_->Merge(r);
  }
  if (!results_->NewResults().empty()) {
    if (OnNewResults) OnNewResults(*this);
    results_->NewResults().clear();
  }
  if (!results_->UpdatedResults().empty()) {
    if (OnUpdatedResults) OnUpdatedResults(*this);
    results_->UpdatedResults().clear();
  }
}

void THttpSearchManager::AfterSearch() {
  results_->CollectOld();
}

}  // namespace vandrel

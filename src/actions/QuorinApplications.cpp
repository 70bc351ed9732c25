#include "actions/QuorinApplications.h"

#include <algorithm>

#include "platform/BuildInfo.h"
#include "platform/Format.h"

namespace vandrel {

TQuorinVersionInfo TQuorinVersionInfo::Parse(const std::string& productVersion) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t bar = productVersion.find('|', start);
    parts.push_back(productVersion.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  if (parts.size() != 4) return {};
  return {parts[0], parts[1], parts[2], parts[3]};
}

TQuorinVersionInfo TQuorinVersionInfo::FromBuild() {
  std::string version = Format("%0:d.%1:d", {build::kMajor, build::kMinor});
  if (build::kRelease != 0) version += Format(".%0:d", {build::kRelease});
  std::string number = Format("%0:d", {build::kBuild});
  // Build numbers are shown four digits wide.
  if (number.size() < 4) number.insert(0, 4 - number.size(), '0');
  return Parse(version + "|" + number + "|" + build::kLanguage + "|" + build::kEdition);
}

// Marks a call of the runner into the current action; a disposal that fell due inside it is posted when
// the outermost one returns.
class TQuorinApplication::TActionCall {
 public:
  explicit TActionCall(TQuorinApplication& runner) : runner_(runner) { ++runner_.ActionCallDepth_; }
  ~TActionCall() {
    if (--runner_.ActionCallDepth_ == 0 && runner_.DisposalDue_ && runner_.State_ == asFinished)
      runner_.PostDisposal();
  }
  TActionCall(const TActionCall&) = delete;
  TActionCall& operator=(const TActionCall&) = delete;

 private:
  TQuorinApplication& runner_;
};

// The runner's ear on the action it started; every report concerns the current action.
class TQuorinApplication::TActionObserver : public IQuorinActionObserver {
 public:
  explicit TActionObserver(TQuorinApplication& runner) : runner_(runner) {}
  void ActionStarted() override { runner_.ActionStarted(); }
  void ActionFinished() override { runner_.ActionFinished(); }

 private:
  TQuorinApplication& runner_;
};

TQuorinApplication::TQuorinApplication(TQuorinActionRepository& actions, MainDispatcher& dispatcher,
                                       TQuorinApplicationParts parts)
    : Actions_(actions),
      Dispatcher_(dispatcher),
      Parts_(std::move(parts)),
      Version_(TQuorinVersionInfo::FromBuild()),
      ActionObserver_(std::make_unique<TActionObserver>(*this)),
      Self_(std::make_shared<TQuorinApplication*>(this)) {}

TQuorinApplication::~TQuorinApplication() {
  Self_.reset();
  // The action may still call back while it is torn down; it must not reach a half-destroyed runner.
  if (Current_) Current_->RemoveObserver(ActionObserver_.get());
  Current_.reset();
  Binding_ = {};
}

TQuorinApplication& TQuorinApplication::Instance() {
  static TQuorinApplication instance(TQuorinActionRepository::Instance(), MainDispatcher::Default());
  return instance;
}

bool TQuorinApplication::InstallParts(TQuorinApplicationParts parts) {
  if (State_ != asIdle) return false;
  Parts_ = std::move(parts);
  return true;
}

void TQuorinApplication::Enqueue(std::unique_ptr<TQuorinOperation> operation) {
  Queue_.Push(std::move(operation));
}

TQuorinActionResult TQuorinApplication::Run() {
  if (State_ != asIdle) return arBusy;
  const bool wasBusy = Busy_;
  TQuorinActionResult result = RunNext();
  if (result != arOk) {
    ForEachObserver([result](IQuorinApplicationObserver& o) { o.Error(result); });
    // An action that reported started and then failed its start opened a run that nothing else will end.
    if (Busy_ && !wasBusy && State_ == asIdle) {
      Busy_ = false;
      ForEachObserver([](IQuorinApplicationObserver& o) { o.Idle(); });
    }
  }
  return result;
}

TQuorinActionResult TQuorinApplication::Submit(std::unique_ptr<TQuorinOperation> operation) {
  Enqueue(std::move(operation));
  if (State_ != asIdle) return arOk;
  return Run();
}

TQuorinActionResult TQuorinApplication::RunNext() {
  std::unique_ptr<TQuorinOperation> operation = Queue_.Pop();
  if (!operation) return arQueueEmpty;
  const TActionItem* item = Actions_.FindActionClass(*operation);
  if (!item) return arClassNotRegistered;

  std::unique_ptr<TQuorinAction> action = item->CreateAction();
  if (!action) return arCannotStart;
  TQuorinAction* started = action.get();
  Current_ = std::move(action);
  ++CurrentSerial_;

  bool ok = true;
  if (!operation->Folder.empty()) {
    std::optional<TStoredSearchBinding> binding;
    if (Parts_.BindStoredSearch)
      binding = Parts_.BindStoredSearch(Parts_.History.get(), operation->Folder, operation->SrhNum);
    if (binding && binding->Item && binding->Result)
      Binding_ = std::move(*binding);
    else
      ok = false;
  }
  if (ok) {
    State_ = asPreparing;
    TActionCall call(*this);
    ok = started->Prepare(Parts_.Repository.get(), Parts_.History.get()) && started->Bind(*operation);
  }
  operation.reset();
  if (ok) {
    ForEachObserver([started](IQuorinApplicationObserver& o) { o.ActionStarting(*started); });
    started->AddObserver(ActionObserver_.get());
    State_ = asStarting;
    TActionCall call(*this);
    ok = started->Start();
  }
  if (!ok) {
    State_ = asIdle;
    DisposalDue_ = false;
    // A start that failed after reporting finished left a disposal posted; the new serial makes it void.
    ++CurrentSerial_;
    started->RemoveObserver(ActionObserver_.get());
    Current_.reset();
    Binding_ = {};
    return arCannotStart;
  }
  return arOk;
}

TQuorinActionResult TQuorinApplication::Stop(bool clearQueue) {
  if (clearQueue) Queue_.Clear();
  auto* asynchronous = dynamic_cast<TQuorinAsynchronousAction*>(Current_.get());
  if (Current_ && State_ == asRunning && !asynchronous) return arCannotStopSynchronous;
  // A start may wait a long time (a search first tests the connection, pumping messages meanwhile); an
  // asynchronous action can be stopped then too, or the user's stop would be lost.
  if (asynchronous && (State_ == asRunning || State_ == asStarting)) {
    const TQuorinApplicationState before = State_;
    TActionCall call(*this);
    asynchronous->Stop();
    if (State_ == before) State_ = asStopping;
    return arOk;
  }
  switch (State_) {
    case asStopping:
      return arStopping;
    case asPreparing:
    case asStarting:
    case asFinished:
      return arCannotStopNow;
    case asRunning:
    case asIdle:
      break;
  }
  return arNoActiveAction;
}

void TQuorinApplication::AddObserver(IQuorinApplicationObserver* observer, bool first) {
  if (!observer || std::find(Observers_.begin(), Observers_.end(), observer) != Observers_.end()) return;
  if (first)
    Observers_.insert(Observers_.begin(), observer);
  else
    Observers_.push_back(observer);
}

void TQuorinApplication::RemoveObserver(IQuorinApplicationObserver* observer) {
  auto it = std::find(Observers_.begin(), Observers_.end(), observer);
  if (it != Observers_.end()) Observers_.erase(it);
}

void TQuorinApplication::NotifyStorageProgress(const void* sender, int percent) {
  ForEachObserver([&](IQuorinApplicationObserver& o) { o.StorageProgress(sender, percent); });
}

void TQuorinApplication::NotifyListOpened(const void* owner, TStorageDataList* list) {
  ForEachObserver([&](IQuorinApplicationObserver& o) { o.ListOpened(owner, list); });
}

void TQuorinApplication::ActionStarted() {
  if (!Current_ || State_ == asFinished) return;
  // A stop asked for while starting stays asked for.
  if (State_ == asStarting) State_ = asRunning;
  if (!Busy_) {
    Busy_ = true;
    ForEachObserver([](IQuorinApplicationObserver& o) { o.Busy(); });
  }
  TQuorinAction* action = Current_.get();
  ForEachObserver([action](IQuorinApplicationObserver& o) { o.ActionStarted(*action); });
}

void TQuorinApplication::ActionFinished() {
  // A second report of the same end must not dispose of the action twice.
  if (!Current_ || State_ == asFinished) return;
  State_ = asFinished;
  // Inside one of our calls into the action the disposal waits until that call returned: the action may
  // pump messages there (a search's connection test does) and would be freed under its own feet.
  if (ActionCallDepth_ > 0)
    DisposalDue_ = true;
  else
    PostDisposal();
}

void TQuorinApplication::PostDisposal() {
  DisposalDue_ = false;
  std::weak_ptr<TQuorinApplication*> self = Self_;
  const uint64_t serial = CurrentSerial_;
  Dispatcher_.Post([self, serial] {
    if (auto runner = self.lock()) (*runner)->DisposeFinished(serial);
  });
}

void TQuorinApplication::DisposeFinished(uint64_t serial) {
  if (serial != CurrentSerial_ || State_ != asFinished || !Current_) return;
  TQuorinAction* action = Current_.get();
  ForEachObserver([action](IQuorinApplicationObserver& o) { o.ActionFinished(*action); });
  // An observer may have torn the action down already (the runner's own Stop never does).
  if (serial != CurrentSerial_ || !Current_) return;
  Current_->RemoveObserver(ActionObserver_.get());
  Current_.reset();
  Binding_ = {};
  State_ = asIdle;
  TQuorinActionResult result = RunNext();
  if (result == arOk) return;
  EndRun();
  if (result != arQueueEmpty) ForEachObserver([result](IQuorinApplicationObserver& o) { o.Error(result); });
  ForEachObserver([](IQuorinApplicationObserver& o) { o.Idle(); });
}

void TQuorinApplication::EndRun() {
  State_ = asIdle;
  Busy_ = false;
}

void TQuorinApplication::ForEachObserver(const std::function<void(IQuorinApplicationObserver&)>& callback) {
  // A copy, checked against the live list: an observer may remove itself or another while it is told.
  const std::vector<IQuorinApplicationObserver*> observers = Observers_;
  for (IQuorinApplicationObserver* observer : observers)
    if (std::find(Observers_.begin(), Observers_.end(), observer) != Observers_.end()) callback(*observer);
}

}  // namespace vandrel

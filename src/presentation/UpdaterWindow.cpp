#include "presentation/UpdaterWindow.h"

#include <algorithm>

#include "actions/AppErrors.h"
#include "actions/QuorinApplications.h"
#include "search/QuorinEngineRepository.h"
#include "storage/StorageDataLists.h"

namespace vandrel {

// The catalogue's stored lists report how far their commits are; the install is most of an update's time.
class TUpdaterWindow::TListEar : public IStorageDataListObserver {
 public:
  TListEar(TUpdaterWindow& window, TEngineRepository* repository) : Window_(window) {
    if (!repository) return;
    Lists_ = {&repository->SearchTypes(), &repository->Categories(), &repository->EngineLists().Template()};
    for (TStorageDataList* list : Lists_) list->AddObserver(this);
  }
  ~TListEar() override {
    for (TStorageDataList* list : Lists_) list->RemoveObserver(this);
  }
  void Progress(TStorageDataList*, int position) override { Window_.ListProgress(position); }
  // The catalogue cannot be trusted any more; the error ends the program.
  void StorageError(TStorageDataList*, bool) override { ShowAppError(aeDatabaseAccess); }

 private:
  TUpdaterWindow& Window_;
  std::vector<TStorageDataList*> Lists_;
};

TUpdaterWindow::TUpdaterWindow(TAppUpdater& updater, IScheduler& scheduler, IUserPrompts& prompts,
                               MainDispatcher& dispatcher)
    : Updater_(updater),
      Scheduler_(scheduler),
      Prompts_(prompts),
      Dispatcher_(dispatcher),
      Run_(updater, dispatcher),
      Lists_(std::make_unique<TListEar>(*this, updater.Runner().Repository())) {
  Run_.OnStep = [this](TUpdateStep, const std::string&) {
    Progress_ = 0;
    Changed();
  };
  Run_.OnProgress = [this](int percent, int64_t, int64_t) {
    // The install's parts report on scales of their own; the bar never runs back while it installs.
    Progress_ = Installing() ? std::max(Progress_, percent) : percent;
    Changed();
  };
}

void TUpdaterWindow::ListProgress(int position) {
  if (!Installing() || position <= Progress_) return;
  Progress_ = std::min(position, 100);
  Changed();
}

TUpdaterWindow::~TUpdaterWindow() {
  CancelTimer();
  OnClose = nullptr;
  OnChanged = nullptr;
  // A window torn down mid-update must not leave the runner working for nobody.
  if (Started_ && !Ended_) ShowFailed();
  Lists_.reset();
}

void TUpdaterWindow::Shown() {
  if (Started_ || Finished()) return;
  CancelTimer();
  Timer_ = Scheduler_.Schedule(kStartDelayMs, [this] {
    Timer_ = 0;
    StartUpdate();
  });
}

void TUpdaterWindow::StartUpdate() {
  Started_ = true;
  Run_.Begin(AllCategories);
  Changed();
  Tick();
}

void TUpdaterWindow::ScheduleTick() {
  Timer_ = Scheduler_.Schedule(kWaitTickMs, [this] {
    Timer_ = 0;
    Tick();
  });
}

void TUpdaterWindow::Tick() {
  // The desktop's event loop runs the dispatcher too; pumping here as well keeps a window whose loop is
  // busy elsewhere (and the tests' manual clock) moving.
  Dispatcher_.ProcessPending();
  if (Run_.Done()) return Finish();
  ++WaitTicks_;
  if (!Run_.Canceled() && std::chrono::milliseconds(int64_t(WaitTicks_) * kWaitTickMs) >= Limit)
    Run_.Cancel();
  ScheduleTick();
}

void TUpdaterWindow::Finish() {
  Ended_ = true;
  Run_.End();
  Progress_ = Run_.Progress();
  Changed();
  if (Run_.Canceled()) return Close(TUpdaterWindowResult::uwrCancel);
  if (AskSoftwareUpdate && Run_.SoftwareUpdate() && !Run_.SoftwareUpdate()->Addresses.empty()) {
    TPrompt prompt;
    prompt.Caption = AppName;
    prompt.Text = WithAppName(kSoftwareUpdateText);
    prompt.Icon = TPromptIcon::piQuestion;
    prompt.Buttons = TPromptButtons::pbYesNo;
    prompt.Default = TPromptAnswer::paYes;
    if (Prompts_.Ask(prompt).Answer == TPromptAnswer::paYes && OpenPage)
      OpenPage(Run_.SoftwareUpdate()->Addresses.front());
  }
  Timer_ = Scheduler_.Schedule(CloseDelayMs, [this] {
    Timer_ = 0;
    Close(TUpdaterWindowResult::uwrOk);
  });
}

void TUpdaterWindow::CancelPressed() {
  if (Finished()) return;
  if (!Started_) {
    CancelTimer();
    return Close(TUpdaterWindowResult::uwrCancel);
  }
  // The wait goes on until the runner reports idle; only then does the window close.
  if (!Ended_) Run_.Cancel();
}

void TUpdaterWindow::ShowFailed() {
  CancelTimer();
  if (Started_ && !Ended_) {
    Run_.Cancel();
    TQuorinApplication& runner = Updater_.Runner();
    // The stopped action is disposed of from a posted message; bounded, since nothing else may block here.
    Dispatcher_.RunUntil([&] { return Run_.Done() && runner.State() == asIdle; }, std::chrono::seconds(10));
    Ended_ = true;
    Run_.End();
    Progress_ = Run_.Progress();
  }
  if (!Finished()) Close(TUpdaterWindowResult::uwrCancel);
}

void TUpdaterWindow::Close(TUpdaterWindowResult result) {
  if (Finished()) return;
  Result_ = result;
  if (OnClose) OnClose(result);
}

void TUpdaterWindow::Changed() {
  if (OnChanged) OnChanged();
}

void TUpdaterWindow::CancelTimer() {
  if (Timer_) Scheduler_.Cancel(Timer_);
  Timer_ = 0;
}

std::string TUpdaterWindow::WithAppName(std::string text) const {
  const std::string placeholder = "%APPNAME%";
  for (size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at))
    text.replace(at, placeholder.size(), AppName), at += AppName.size();
  return text;
}

}  // namespace vandrel

#include "update/AppUpdater.h"

#include <cmath>

#include "search/QuorinEngineRepository.h"
#include "storage/CategoryStorage.h"

namespace vandrel {

std::string DefaultUpdateAddress() {
  return std::string(kDefaultUpdateSite) + "/update-info/013";
}

TAppUpdater::TAppUpdater(TQuorinApplication& runner, IUpdaterSettings& settings, TClock clock)
    : Runner_(runner), Settings_(settings), Clock_(std::move(clock)) {}

bool TAppUpdater::IsCategoryDue(const TCategoryStorageItem& category, TDateTime now) {
  if (category.LastUpdateDate == 0) return true;
  // A category never searched has LastSearchDate 0: it counts as long unsearched.
  return now - category.LastSearchDate >= 30 && now - category.LastUpdateDate >= 1;
}

bool TAppUpdater::IsUpdateDue() const {
  TEngineRepository* repository = Runner_.Repository();
  if (!repository) return false;
  const TDateTime now = Clock_();
  TCategoryStorageList& categories = repository->Categories();
  for (size_t i = 0; i < categories.Count(); ++i)
    if (IsCategoryDue(*categories.Category(i), now)) return true;
  return false;
}

std::unique_ptr<TQuorinUpdateOperation> TAppUpdater::MakeOperation(bool all) const {
  const TDateTime now = Clock_();
  if (!all && IsUpdateDue() && std::fabs(now - Settings_.LastChannelUpdate()) < 1) all = true;
  auto operation = std::make_unique<TQuorinUpdateOperation>();
  operation->UpdaterAddress = Settings_.UpdateAddress();
  if (operation->UpdaterAddress.empty()) operation->UpdaterAddress = DefaultUpdateAddress();
  operation->CustomScripts.Lines = {"currencies", "shopper"};
  if (TEngineRepository* repository = Runner_.Repository()) {
    TCategoryStorageList& categories = repository->Categories();
    for (size_t i = 0; i < categories.Count(); ++i) {
      const TCategoryStorageItem& category = *categories.Category(i);
      if (all || IsCategoryDue(category, now)) operation->CatNames.Lines.push_back(category.CatName);
    }
  }
  operation->CompilerVersion = kUpdateCompilerVersion;
  return operation;
}

TQuorinActionResult TAppUpdater::StartUpdate(bool all) {
  Runner_.Enqueue(MakeOperation(all));
  return Runner_.Run();
}

// ---------------------------------------------------------------------------------------------------

class TUpdateRun::TObserver : public IQuorinUpdateActionObserver {
 public:
  explicit TObserver(TUpdateRun& run) : Run_(run) {}

  void ActionFinished() override {
    if (Run_.Action_) Run_.Collect(*Run_.Action_);
  }
  void ProgressChanged(int percent) override {
    Run_.Progress_ = percent;
    if (Run_.OnProgress) {
      const TQuorinUpdateAction* action = Run_.Action_;
      Run_.OnProgress(percent, action ? action->BytesReceived() : 0, action ? action->BytesExpected() : 0);
    }
  }
  void UpdateSiteChanged(const std::string& address) override {
    Run_.Updater_.Settings().SetUpdateAddress(address);
  }
  void SoftwareUpdateAvailable(const TVersionVUISoftwareUpdate& entry) override {
    Run_.SoftwareUpdate_ = entry;
    if (!entry.Addresses.empty()) Run_.Updater_.Settings().SetSoftwareUpdateAddress(entry.Addresses.front());
  }
  void UpdateReportReady(const TQuorinUpdateReport& report) override {
    Run_.Installed_ = true;
    Run_.Done_ = true;
  }
  void UpdateStepChanged(TUpdateStep step) override {
    Run_.LastStep_ = step;
    Run_.Status_ = StepText(step);
    if (step == TUpdateStep::Install) Run_.Installing_ = true;
    Run_.Progress_ = 0;
    if (Run_.OnStep) Run_.OnStep(step, Run_.Status_);
  }

 private:
  TUpdateRun& Run_;
};

TUpdateRun::TUpdateRun(TAppUpdater& updater, MainDispatcher& dispatcher)
    : Updater_(updater), Dispatcher_(dispatcher), Observer_(std::make_unique<TObserver>(*this)) {
  Updater_.Runner().AddObserver(this);
}

TUpdateRun::~TUpdateRun() {
  Updater_.Runner().RemoveObserver(this);
  if (Action_) Action_->RemoveObserver(Observer_.get());
}

const char* TUpdateRun::StepText(TUpdateStep step) {
  switch (step) {
    case TUpdateStep::CheckVersions:
      return "Checking for engine updates...";
    case TUpdateStep::FetchCategories:
      return "Downloading categories...";
    case TUpdateStep::DownloadFiles:
      return "Downloading updates...";
    case TUpdateStep::Install:
      return "Installing updates...";
    default:
      return "Preparing update...";
  }
}

void TUpdateRun::Run(bool all, std::chrono::milliseconds limit) {
  Begin(all);
  if (!Dispatcher_.RunUntil([this] { return Done_; }, limit)) {
    ErrorText_ = "the update did not end in time";
    Cancel();
  }
  End();
}

void TUpdateRun::Begin(bool all) {
  Installing_ = Canceled_ = Done_ = Installed_ = Disabled_ = false;
  LastStep_ = TUpdateStep::None;
  Report_.Clear();
  ErrorText_.clear();
  Refused_.clear();
  SoftwareUpdate_.reset();
  const TQuorinActionResult started = Updater_.StartUpdate(all);
  // A refused start sends neither Idle nor a report: nothing would end the wait.
  if (started != arOk && started != arBusy) {
    ErrorText_ = "the update could not be started";
    Done_ = true;
  }
}

void TUpdateRun::End() {
  if (!Canceled_) {
    Progress_ = 100;
    Status_ = LastStep_ <= TUpdateStep::CheckVersions ? "No changes detected." : "Update completed.";
    // A look that installs nothing leaves the schedule as it was.
    if (!CheckOnly) Updater_.Settings().SetLastChannelUpdate(Updater_.CurrentTime());
  }
  Dispatcher_.ProcessPending();
}

void TUpdateRun::Cancel() {
  Canceled_ = true;
  Updater_.Runner().Stop(true);
}

void TUpdateRun::ActionStarting(TQuorinAction& action) {
  auto* update = dynamic_cast<TQuorinUpdateAction*>(&action);
  if (!update) return;
  THttpDownloader& http = update->Downloader().HttpDownloader();
  THttpDownloaderSettings settings = http.Settings();
  Updater_.Settings().ConfigureDownloader(settings);
  settings.Timeout = kUpdateTimeoutSeconds;
  http.SetSettings(settings);
  update->CheckOnly = CheckOnly;
  update->Clock = [this] { return Updater_.CurrentTime(); };
  update->AddObserver(Observer_.get());
  Action_ = update;
}

void TUpdateRun::ActionFinished(TQuorinAction& action) {
  if (&action != Action_) return;
  Action_->RemoveObserver(Observer_.get());
  Action_ = nullptr;
}

void TUpdateRun::Idle() {
  Done_ = true;
}

void TUpdateRun::Collect(const TQuorinUpdateAction& action) {
  Report_ = action.Report();
  ErrorText_ = action.ErrorText();
  Disabled_ = action.Disabled();
  Refused_ = action.Refused();
}

}  // namespace vandrel

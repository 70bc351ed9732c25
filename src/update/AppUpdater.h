// When an engine update is due, the operation that runs it, and the toolkit-free half of the update
// window: it follows the update's steps and records the outcome in the configuration.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "actions/QuorinApplications.h"
#include "http/HttpDownloader.h"
#include "platform/DateTime.h"
#include "search/QuorinUpdateReport.h"
#include "update/QuorinUpdateActions.h"

namespace vandrel {

class TCategoryStorageItem;

// The settings an update reads and writes. The kernel's configuration implements it; tests keep their
// own. Main thread only.
class IUpdaterSettings {
 public:
  virtual ~IUpdaterSettings() = default;
  virtual std::string UpdateAddress() const = 0;
  virtual void SetUpdateAddress(const std::string& address) = 0;
  virtual TDateTime LastChannelUpdate() const = 0;
  virtual void SetLastChannelUpdate(TDateTime when) = 0;
  virtual void SetSoftwareUpdateAddress(const std::string& address) = 0;
  // Transfer and proxy values for the update's downloader.
  virtual void ConfigureDownloader(THttpDownloaderSettings& settings) const {}
};

// The update site's base address when the configuration names none: the one a publisher's
// vandrel-update-site answers on this machine by default.
inline constexpr const char* kDefaultUpdateSite = "http://127.0.0.1:8643";
std::string DefaultUpdateAddress();
// Every update's transfers wait at most this long, whatever the preference says.
inline constexpr int kUpdateTimeoutSeconds = 60;

// Decides and starts updates. No state of its own. Main thread only.
class TAppUpdater {
 public:
  using TClock = std::function<TDateTime()>;
  TAppUpdater(
      TQuorinApplication& runner, IUpdaterSettings& settings, TClock clock = [] { return Now(); });

  // Never updated, or not searched for 30 days and not updated for one.
  static bool IsCategoryDue(const TCategoryStorageItem& category, TDateTime now);
  bool IsCategoryDue(const TCategoryStorageItem& category) const { return IsCategoryDue(category, Clock_()); }
  // Some stored category is due.
  bool IsUpdateDue() const;
  // The operation StartUpdate queues. Without `all` only due categories are listed, unless the channel
  // was updated less than a day ago while something is due.
  std::unique_ptr<TQuorinUpdateOperation> MakeOperation(bool all) const;
  // Queues the operation and runs the queue.
  TQuorinActionResult StartUpdate(bool all);

  TQuorinApplication& Runner() const { return Runner_; }
  IUpdaterSettings& Settings() const { return Settings_; }
  TDateTime CurrentTime() const { return Clock_(); }

 private:
  TQuorinApplication& Runner_;
  IUpdaterSettings& Settings_;
  TClock Clock_;
};

// One run of an update as the update window shows it: status line, progress, and what to record. Main
// thread only; Run pumps the dispatcher until the update is over.
class TUpdateRun : public IQuorinApplicationObserver {
 public:
  TUpdateRun(TAppUpdater& updater, MainDispatcher& dispatcher = MainDispatcher::Default());
  ~TUpdateRun() override;
  TUpdateRun(const TUpdateRun&) = delete;
  TUpdateRun& operator=(const TUpdateRun&) = delete;

  // Stop before downloading: the report says what would change.
  bool CheckOnly = false;
  // Blocks until the update ended (or `limit` passed, which counts as canceled). Unless canceled or only
  // checking, records LastChannelUpdate, also after a failed update.
  void Run(bool all, std::chrono::milliseconds limit = std::chrono::minutes(30));
  // Run in two halves, for a window that waits in its own event loop: Begin starts the update, End
  // (once Done) records the outcome.
  void Begin(bool all);
  void End();
  void Cancel();

  bool Canceled() const { return Canceled_; }
  bool Done() const { return Done_; }
  bool Installing() const { return Installing_; }
  TUpdateStep LastStep() const { return LastStep_; }
  int Progress() const { return Progress_; }
  const std::string& Status() const { return Status_; }

  // What the update found, kept after its action is gone.
  const TQuorinUpdateReport& Report() const { return Report_; }
  bool Installed() const { return Installed_; }
  const std::string& ErrorText() const { return ErrorText_; }
  bool Disabled() const { return Disabled_; }
  const std::vector<std::string>& Refused() const { return Refused_; }
  const std::optional<TVersionVUISoftwareUpdate>& SoftwareUpdate() const { return SoftwareUpdate_; }

  // Each step as it begins, with its status text.
  std::function<void(TUpdateStep step, const std::string& status)> OnStep;
  // Progress of the running step, with the download's bytes (expected 0: unknown).
  std::function<void(int percent, int64_t received, int64_t expected)> OnProgress;

  void ActionStarting(TQuorinAction& action) override;
  void ActionFinished(TQuorinAction& action) override;
  void Idle() override;

  static const char* StepText(TUpdateStep step);

 private:
  class TObserver;
  friend class TObserver;
  void Collect(const TQuorinUpdateAction& action);

  TAppUpdater& Updater_;
  MainDispatcher& Dispatcher_;
  std::unique_ptr<TObserver> Observer_;
  TQuorinUpdateAction* Action_ = nullptr;  // the running update, between ActionStarting and ActionFinished
  bool Canceled_ = false;
  bool Done_ = false;
  bool Installing_ = false;
  TUpdateStep LastStep_ = TUpdateStep::None;
  int Progress_ = 0;
  std::string Status_ = "Preparing update...";
  TQuorinUpdateReport Report_;
  bool Installed_ = false;
  std::string ErrorText_;
  bool Disabled_ = false;
  std::vector<std::string> Refused_;
  std::optional<TVersionVUISoftwareUpdate> SoftwareUpdate_;
};

}  // namespace vandrel

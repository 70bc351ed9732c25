// The engine update window without its toolkit: when the update starts, the wait that keeps events
// flowing, the status line and progress, Skip, and how the window closes.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/MainDispatcher.h"
#include "presentation/DesktopPorts.h"
#include "update/AppUpdater.h"

namespace vandrel {

enum class TUpdaterWindowResult { uwrNone, uwrOk, uwrCancel };

// One modal run of the window. Main thread only. The view calls Shown once it is on screen, forwards the
// button, and closes itself when OnClose says so.
class TUpdaterWindow {
 public:
  static constexpr int kStartDelayMs = 50;   // after the window is shown, so it paints before work starts
  static constexpr int kWaitTickMs = 55;     // how often the wait looks whether the update has ended
  static constexpr int kCloseDelayMs = 250;  // the final status stays readable this long

  static constexpr const char* kCaption = "Engine Update";
  static constexpr const char* kIntroText =
      "Please wait while %APPNAME% updates your search engines. This may take a few minutes.";
  static constexpr const char* kSoftwareUpdateText =
      "A new version of %APPNAME% is now available.\n\nWould you like to update your current version?";

  TUpdaterWindow(TAppUpdater& updater, IScheduler& scheduler, IUserPrompts& prompts,
                 MainDispatcher& dispatcher = MainDispatcher::Default());
  ~TUpdaterWindow();
  TUpdaterWindow(const TUpdaterWindow&) = delete;
  TUpdaterWindow& operator=(const TUpdaterWindow&) = delete;

  // Full mode (start-up, "Check Updates Now"): the button reads "Cancel". Automatic mode (before a
  // search): "&Skip". Set before Shown.
  bool FullMode = true;
  // Every stored category; otherwise only the due ones (the updater may still widen it).
  bool AllCategories = true;
  // Ask the user about a new program version the site announces, and hand its page to OpenPage on Yes.
  bool AskSoftwareUpdate = false;
  std::function<void(const std::string& address)> OpenPage;
  // Replaces "%APPNAME%" in the texts this controller shows itself.
  std::string AppName = "Vandrel Shopper";
  // How long the final status stays before the window closes with OK.
  int CloseDelayMs = kCloseDelayMs;
  // The longest the window waits for the update; then it gives up as if skipped.
  std::chrono::milliseconds Limit = std::chrono::minutes(30);

  std::string ButtonText() const { return FullMode ? "Cancel" : "&Skip"; }
  const std::string& Status() const { return Run_.Status(); }
  // The bar: the running step's download, then the install with the catalogue's commits.
  int Progress() const { return Progress_; }
  bool Started() const { return Started_; }
  bool Finished() const { return Result_ != TUpdaterWindowResult::uwrNone; }
  TUpdaterWindowResult Result() const { return Result_; }
  TUpdateRun& UpdateRun() { return Run_; }
  // How many times the wait has looked so far; each look is one scheduled tick, never a spin.
  int WaitTicks() const { return WaitTicks_; }

  // The window is on screen.
  void Shown();
  // The Skip/Cancel button or Escape.
  void CancelPressed();
  // The window could not be shown (no display, a failed load). Stops whatever was started and pumps
  // until the runner is idle again, so nothing is left busy; the result is Cancel.
  void ShowFailed();

  // True while the update installs: the loop is busy then, so a view repaints at once on every change.
  bool Installing() const { return Run_.Installing() && !Ended_; }

  // The status line or the progress changed.
  std::function<void()> OnChanged;
  // The window should close with this result. Called once.
  std::function<void(TUpdaterWindowResult result)> OnClose;

 private:
  class TListEar;
  void StartUpdate();
  void ListProgress(int position);
  void ScheduleTick();
  void Tick();
  void Finish();
  void Close(TUpdaterWindowResult result);
  void Changed();
  void CancelTimer();
  std::string WithAppName(std::string text) const;

  TAppUpdater& Updater_;
  IScheduler& Scheduler_;
  IUserPrompts& Prompts_;
  MainDispatcher& Dispatcher_;
  TUpdateRun Run_;
  std::unique_ptr<TListEar> Lists_;  // the catalogue's stored lists, heard while the window lives
  int Progress_ = 0;
  IScheduler::TTimerId Timer_ = 0;  // the one pending timer (start, tick or close); 0 none
  bool Started_ = false;
  bool Ended_ = false;  // the run's outcome was recorded
  int WaitTicks_ = 0;
  TUpdaterWindowResult Result_ = TUpdaterWindowResult::uwrNone;
};

}  // namespace vandrel

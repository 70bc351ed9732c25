// The program's windows hooked up to the main window and to the kernel's start-up: the home page, the
// search wizard and progress window, options, categories, engine updates and the advertisement strip.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "kernel/AppKernel.h"
#include "presentation/LanSettingsController.h"

namespace vandrel {

class IHomePageSource;
class IResultFrameSettings;
class TBrowserFrm;
class TResultFilterFrm;
class TResultFrm;
class TAdFrm;
class TAppConfig;
class TAppUpdater;
class THistoryHomeSource;
class THomeFrm;
class TProgressForm;
class TQtScheduler;
class TQtUserPrompts;
class TVandrelShopperForm;

// What the start's windows work on; each left empty is the program's own.
struct TStartWindowParts {
  TAppConfig* Config = nullptr;
  TAppUpdater* Updater = nullptr;  // over the hooks' runner
  TProxyDetect Detect;             // the proxy the wizard proposes: the user's environment and browser
  std::function<void()> RewriteIntegration;
};

// The start-up's windows: the setup wizard on a first start and the engine update window when no engines
// exist; registers the engine update with the hooks' runner. Before the kernel starts.
void AddStartWindows(TAppKernel::THooks& hooks, TStartWindowParts parts = {});

// The automatic engine update before a search, when one is due. Before the main window exists.
void AddSearchUpdate(TAppKernel& kernel, std::function<QWidget*()> parent);

// Everything the main window hosts or opens; goes before the window does.
class TDesktopWindows : public QObject {
 public:
  TDesktopWindows(TAppKernel& kernel, TVandrelShopperForm& form);
  ~TDesktopWindows() override;

  // Lets go of the main window before it is destroyed; the home page's source stays until this goes.
  void LeaveWindow();

  THomeFrm* Home() const { return home_; }
  TProgressForm* Progress() const { return progress_.get(); }
  TAdFrm* Ads() const { return ads_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class TRunnerEar;
  void HostHomePage();
  void HostProgress();
  void HostAds();
  void HostResultPages();
  TResultFrm* HostResultPage(bool reviews);
  void RegisterWindows();
  void NewSearch(const std::string& category, bool isReviews, const std::string& query);

  TAppKernel& kernel_;
  TVandrelShopperForm& form_;
  std::unique_ptr<TQtScheduler> scheduler_;
  std::unique_ptr<TQtUserPrompts> prompts_;
  std::unique_ptr<THistoryHomeSource> homeSource_;
  THomeFrm* home_ = nullptr;  // owned by the main window
  std::unique_ptr<TProgressForm> progress_;
  TAdFrm* ads_ = nullptr;  // owned by the main window
  std::unique_ptr<IResultFrameSettings> frameSettings_;
  TResultFilterFrm* filters_ = nullptr;        // owned by the main window
  TResultFrm* pages_[2] = {nullptr, nullptr};  // reviews, prices; owned by the main window
  std::unique_ptr<TRunnerEar> runnerEar_;
  bool left_ = false;
  bool homeLoaded_ = false;  // the home page has reported its first load
};

}  // namespace vandrel

// The first-run setup wizard's model: its pages and the way between them, and storing everything at the
// end so that a wizard left early comes back at the next start.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "currency/CurrencyConverters.h"
#include "presentation/DesktopPorts.h"
#include "presentation/DesktopSettings.h"
#include "presentation/LanSettingsController.h"
#include "presentation/OptionsController.h"

namespace vandrel {

// ORDER: the wizard's page order; "< &Back" from a page without a rule of its own goes one up.
enum class TSetupPage {
  spConnection,
  spNetwork,
  spInternetExplorer,
  spRegional,
  spUpdates,
  spUpdating,
  spReady
};
inline constexpr int kSetupPageCount = 7;

namespace setup_text {
inline constexpr std::string_view kCaption = "%APPNAME% Setup Wizard";
inline constexpr std::string_view kBack = "< &Back";
inline constexpr std::string_view kNext = "&Next >";
inline constexpr std::string_view kFinish = "&Finish";
inline constexpr std::string_view kCancel = "Cancel";
inline constexpr std::string_view kConnectionQuestion = "How do you connect to the Internet?";
inline constexpr std::string_view kModem = "I connect through a &phone line and modem";
inline constexpr std::string_view kLan = "I connect through a &local area network (LAN)";
inline constexpr std::string_view kProxyQuestion = "Do you need to use a proxy server?";
inline constexpr std::string_view kDirect = "N&o, I am connected directly to the Internet";
inline constexpr std::string_view kUseProxy = "&Yes, I connect through a proxy server";
inline constexpr std::string_view kProxyNote =
    "If you do not know the information requested, please contact your system administrator.";
inline constexpr std::string_view kCurrencyQuestion = "What is your local currency?";
inline constexpr std::string_view kRatePattern = "Today's rate: %s";
inline constexpr std::string_view kUseCurrency = "&Use this currency to display prices";
inline constexpr std::string_view kUpdateQuestion = "Do you want to check for search engine updates now?";
inline constexpr std::string_view kUpdateYes = "&Yes  (recommended)";
inline constexpr std::string_view kUpdateNo = "N&o";
inline constexpr std::string_view kReady =
    "Congratulations, you are now ready to shop on the Internet using %APPNAME%.\r\n\r\nFor future "
    "modifications of your user profile, select Options from the Tools menu.";
inline constexpr std::string_view kEmptyProxy = "Please enter valid proxy settings.";
inline constexpr std::string_view kLeaveCaption = "Warning";
inline constexpr std::string_view kLeaveText =
    "%APPNAME% configuration is not complete.\r\n\r\nTo continue with configuration, click Continue.\r\n"
    "To quit configuration, click Exit.";
inline constexpr std::string_view kContinue = "&Continue";
inline constexpr std::string_view kExit = "E&xit";
}  // namespace setup_text

// The name a page shows in the wizard's title.
std::string_view SetupPageName(TSetupPage page);

enum class TLeaveChoice { lcContinue, lcExit };

struct TSetupWizardHooks {
  // Runs the engine update of every category to its end; false when the user canceled it.
  std::function<bool()> RunEngineUpdate;
  // Rebuilds the browser and desktop integration from the stored preferences.
  std::function<void()> RewriteIntegration;
  std::function<void()> ReloadPriceResults;
  // The "configuration is not complete" window; empty counts as Exit.
  std::function<TLeaveChoice()> AskLeave;
  // Told whenever the page or the buttons' state changed, so the view shows them.
  std::function<void()> Changed;
  // The wizard has finished (true: through "&Finish") or was left (false).
  std::function<void(bool finished)> Closed;
};

// Main thread only.
class TSetupWizardController {
 public:
  TSetupWizardController(IDesktopSettings& settings, TCurrencyConverter& converter, IUserPrompts& prompts,
                         IScheduler& scheduler, TProxyDetect detect, TSetupWizardHooks hooks);
  ~TSetupWizardController();

  // Takes the stored values and opens on "Connection".
  void Load();

  // What the pages show and the user edits.
  bool Lan = false;  // else modem
  bool UseProxy = false;
  TProxyType ProxyType = ptHttp;
  std::string ProxyAddress;
  int ProxyPort = 8080;
  bool UseQuickLaunch = true;
  bool UseContextMenu = true;
  bool UseBrowserExtensions = true;
  TCurrencyPicker Currency;
  bool ShowConverted = false;
  bool UpdateNow = true;

  void SetProxyPort(int port);  // clamped to 0..65535

  TSetupPage Page() const { return page_; }
  std::string_view Title() const { return SetupPageName(page_); }
  bool BackEnabled() const { return backEnabled_; }
  bool NextEnabled() const { return nextEnabled_; }
  bool CancelEnabled() const { return cancelEnabled_; }
  std::string_view NextCaption() const;
  // The proxy fields are shown only with the proxy chosen.
  bool ProxyFieldsVisible() const { return UseProxy; }
  // The last "&Next >" stopped on an empty proxy address: the view focuses that field.
  bool AddressNeedsFocus() const { return addressNeedsFocus_; }

  void Next();
  void Back();
  // "Cancel" or the title bar's close button.
  void Cancel();

  bool Saved() const { return saved_; }
  bool Closed() const { return closed_; }
  bool Finished() const { return finished_; }

 private:
  bool BrowserComponentMissing() const { return settings_.BrowserComponentVersion() < 0; }
  TSetupPage AfterConnection() const;
  void Enter(TSetupPage page);
  void ProposeDetectedProxy();
  void RunUpdate();
  void StoreSettings();
  void Close(bool finished);
  void Notify();

  IDesktopSettings& settings_;
  TCurrencyConverter& converter_;
  IUserPrompts& prompts_;
  IScheduler& scheduler_;
  TProxyDetect detect_;
  TSetupWizardHooks hooks_;
  TNetworkSettings network_;  // as loaded: the addresses of the type not shown
  TSetupPage page_ = TSetupPage::spConnection;
  bool backEnabled_ = false, nextEnabled_ = true, cancelEnabled_ = true;
  bool addressNeedsFocus_ = false;
  bool saved_ = false;
  bool closed_ = false;
  bool finished_ = false;
  bool detectionDone_ = false;      // the browser's proxy was looked up in this run
  IScheduler::TTimerId pause_ = 0;  // the wait after a finished update; 0 when none
};

}  // namespace vandrel

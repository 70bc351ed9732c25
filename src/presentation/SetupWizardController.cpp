#include "presentation/SetupWizardController.h"

#include <algorithm>

#include "platform/TextUtils.h"

namespace vandrel {

std::string_view SetupPageName(TSetupPage page) {
  switch (page) {
    case TSetupPage::spConnection:
      return "Connection";
    case TSetupPage::spNetwork:
      return "Network";
    case TSetupPage::spInternetExplorer:
      return "Internet Explorer";
    case TSetupPage::spRegional:
      return "Regional Settings";
    case TSetupPage::spUpdates:
      return "Search Engine Updates";
    case TSetupPage::spUpdating:
      return "Update in Progress";
    case TSetupPage::spReady:
      return "Ready to Shop";
  }
  return "";
}

TSetupWizardController::TSetupWizardController(IDesktopSettings& settings, TCurrencyConverter& converter,
                                               IUserPrompts& prompts, IScheduler& scheduler,
                                               TProxyDetect detect, TSetupWizardHooks hooks)
    : Currency(converter, std::string(setup_text::kRatePattern)),
      settings_(settings),
      converter_(converter),
      prompts_(prompts),
      scheduler_(scheduler),
      detect_(std::move(detect)),
      hooks_(std::move(hooks)) {}

TSetupWizardController::~TSetupWizardController() {
  if (pause_) scheduler_.Cancel(pause_);
}

void TSetupWizardController::Load() {
  network_ = settings_.ReadNetwork();
  Lan = network_.LANConnection;
  UseProxy = network_.UseProxyConnection;
  ProxyType = network_.ProxyType;
  const bool socks = ProxyType == ptSocks;
  ProxyAddress = socks ? network_.SocksAddress : network_.ProxyAddress;
  SetProxyPort(socks ? network_.SocksPort : network_.ProxyPort);
  const TOptionsSettings options = settings_.ReadOptions();
  UseQuickLaunch = options.UseExplorerQuickLaunch;
  UseContextMenu = options.UseExplorerContextMenu;
  UseBrowserExtensions = options.UseExplorerBrowser;
  Currency.Select(options.CurrencyConvertCode);
  ShowConverted = options.ShowConvertedCurrencies;
  saved_ = closed_ = finished_ = detectionDone_ = false;
  Enter(TSetupPage::spConnection);
}

void TSetupWizardController::SetProxyPort(int port) {
  ProxyPort = std::clamp(port, 0, kMaxPort);
}

std::string_view TSetupWizardController::NextCaption() const {
  return page_ == TSetupPage::spReady ? setup_text::kFinish : setup_text::kNext;
}

TSetupPage TSetupWizardController::AfterConnection() const {
  return BrowserComponentMissing() ? TSetupPage::spRegional : TSetupPage::spInternetExplorer;
}

void TSetupWizardController::ProposeDetectedProxy() {
  // Once per run: coming back to the first page must not undo what the user chose since.
  if (detectionDone_) return;
  detectionDone_ = true;
  if (network_.ModemConnection || network_.UseDirectConnection || !ProxyAddress.empty() || !detect_) return;
  bool anyEnabled = false;
  for (int kind : {0, 1}) {
    std::string host;
    int port = 0;
    bool enabled = false;
    if (detect_(kind, host, port, enabled)) {
      Lan = UseProxy = true;
      ProxyType = kind == 0 ? ptHttp : ptSocks;
      ProxyAddress = host;
      SetProxyPort(port);
      return;
    }
    anyEnabled = anyEnabled || enabled;
  }
  if (anyEnabled) Lan = UseProxy = true;
}

void TSetupWizardController::Enter(TSetupPage page) {
  page_ = page;
  addressNeedsFocus_ = false;
  switch (page) {
    case TSetupPage::spConnection:
      backEnabled_ = false;
      nextEnabled_ = cancelEnabled_ = true;
      ProposeDetectedProxy();
      break;
    case TSetupPage::spNetwork:
    case TSetupPage::spInternetExplorer:
    case TSetupPage::spRegional:
    case TSetupPage::spUpdates:
      backEnabled_ = nextEnabled_ = cancelEnabled_ = true;
      break;
    case TSetupPage::spUpdating:
      backEnabled_ = nextEnabled_ = false;
      cancelEnabled_ = true;
      Notify();  // the page is on screen before the settings are stored and the update starts
      StoreSettings();
      RunUpdate();
      return;
    case TSetupPage::spReady:
      backEnabled_ = cancelEnabled_ = false;
      nextEnabled_ = true;
      break;
  }
  Notify();
}

void TSetupWizardController::RunUpdate() {
  if (!hooks_.RunEngineUpdate) {
    Enter(TSetupPage::spReady);
    return;
  }
  const bool finished = hooks_.RunEngineUpdate();
  if (closed_) return;
  if (!finished) {
    Enter(TSetupPage::spReady);
    return;
  }
  // A short pause lets the user see the update's last state before the page changes.
  pause_ = scheduler_.Schedule(250, [this] {
    pause_ = 0;
    Enter(TSetupPage::spReady);
  });
}

void TSetupWizardController::Next() {
  if (closed_ || !nextEnabled_) return;
  switch (page_) {
    case TSetupPage::spConnection:
      Enter(Lan ? TSetupPage::spNetwork : AfterConnection());
      break;
    case TSetupPage::spNetwork:
      if (UseProxy && Trim(ProxyAddress).empty()) {
        addressNeedsFocus_ = true;
        TPrompt prompt;
        prompt.Caption = "Warning";
        prompt.Text = setup_text::kEmptyProxy;
        prompt.Icon = TPromptIcon::piWarning;
        prompts_.Ask(prompt);
        Notify();
        return;
      }
      Enter(AfterConnection());
      break;
    case TSetupPage::spInternetExplorer:
      Enter(TSetupPage::spRegional);
      break;
    case TSetupPage::spRegional:
      Enter(TSetupPage::spUpdates);
      break;
    case TSetupPage::spUpdates:
      Enter(UpdateNow ? TSetupPage::spUpdating : TSetupPage::spReady);
      break;
    case TSetupPage::spUpdating:
      break;
    case TSetupPage::spReady:
      if (!saved_) StoreSettings();
      Close(true);
      break;
  }
}

void TSetupWizardController::Back() {
  if (closed_ || !backEnabled_) return;
  const TSetupPage beforeAddOns = Lan ? TSetupPage::spNetwork : TSetupPage::spConnection;
  switch (page_) {
    case TSetupPage::spInternetExplorer:
      Enter(beforeAddOns);
      break;
    case TSetupPage::spRegional:
      Enter(BrowserComponentMissing() ? beforeAddOns : TSetupPage::spInternetExplorer);
      break;
    case TSetupPage::spNetwork:
    case TSetupPage::spUpdates:
      Enter(static_cast<TSetupPage>(static_cast<int>(page_) - 1));
      break;
    default:
      break;
  }
}

void TSetupWizardController::Cancel() {
  if (closed_) return;
  switch (page_) {
    case TSetupPage::spUpdating:
      // The update itself is canceled in its own window; here only the pause after it is left.
      if (pause_) {
        scheduler_.Cancel(pause_);
        pause_ = 0;
        Enter(TSetupPage::spReady);
      }
      return;
    case TSetupPage::spReady:
      // Everything the user chose is final on this page: closing it must not lose the settings.
      if (!saved_) StoreSettings();
      Close(true);
      return;
    default:
      break;
  }
  const TLeaveChoice choice = hooks_.AskLeave ? hooks_.AskLeave() : TLeaveChoice::lcExit;
  if (choice == TLeaveChoice::lcExit) Close(false);
}

void TSetupWizardController::StoreSettings() {
  TNetworkSettings net = settings_.ReadNetwork();
  net.LANConnection = Lan;
  net.ModemConnection = !Lan;
  net.UseDirectConnection = Lan && !UseProxy;
  net.UseProxyConnection = Lan && UseProxy;
  // A typed address is kept even when the direct connection was chosen afterwards.
  const std::string address(Trim(ProxyAddress));
  if (!address.empty()) {
    net.ProxyType = ProxyType;
    if (ProxyType == ptSocks) {
      net.SocksAddress = address;
      net.SocksPort = ProxyPort;
    } else {
      net.ProxyAddress = address;
      net.ProxyPort = ProxyPort;
    }
  }
  settings_.WriteNetwork(net);

  TOptionsSettings options = settings_.ReadOptions();
  options.UseExplorerQuickLaunch = UseQuickLaunch;
  options.UseExplorerContextMenu = UseContextMenu;
  options.UseExplorerBrowser = UseBrowserExtensions;
  const std::string code = Currency.Code();
  const bool currencyChanged =
      code != converter_.TargetCode || ShowConverted != options.ShowConvertedCurrencies;
  if (currencyChanged) {
    options.CurrencyConvertCode = code;
    options.ShowConvertedCurrencies = ShowConverted;
  }
  settings_.WriteOptions(options);
  if (hooks_.RewriteIntegration) hooks_.RewriteIntegration();
  if (currencyChanged) {
    converter_.TargetCode = code;
    converter_.ShowConverted = ShowConverted;
    if (hooks_.ReloadPriceResults) hooks_.ReloadPriceResults();
  }
  settings_.SetAppConfigured(true);
  saved_ = true;
}

void TSetupWizardController::Close(bool finished) {
  closed_ = true;
  finished_ = finished;
  if (pause_) {
    scheduler_.Cancel(pause_);
    pause_ = 0;
  }
  if (hooks_.Closed) hooks_.Closed(finished);
}

void TSetupWizardController::Notify() {
  if (hooks_.Changed) hooks_.Changed();
}

}  // namespace vandrel

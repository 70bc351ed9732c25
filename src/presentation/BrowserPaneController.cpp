#include "presentation/BrowserPaneController.h"

#include <algorithm>

#include "platform/RegistryStore.h"
#include "platform/TextUtils.h"
#include "platform/UrlUtils.h"

namespace vandrel {

namespace {
constexpr int kTypedUrlSlots = 25;  // "Url1" to "Url25"
}

std::string CompleteAddress(std::string_view text) {
  std::string address(text);
  // A secure address keeps its scheme; "www." goes after whichever of the two it has.
  size_t host = 7;
  if (StartsWithText(address, "https://"))
    host = 8;
  else if (!StartsWithText(address, "http://"))
    address.insert(0, "http://");
  if (!StartsWithText(std::string_view(address).substr(host), "www.")) address.insert(host, "www.");
  if (address.size() < 4 || !SameText(std::string_view(address).substr(address.size() - 4), ".com"))
    address += ".com";
  return address;
}

std::string DisplayAddress(std::string_view url) {
  constexpr std::string_view kFileScheme = "file://";
  if (!StartsWithText(url, kFileScheme)) return std::string(url);
  // Local files show as the path the user would type.
  return DecodeUrlEscapes(url.substr(kFileScheme.size()));
}

TBrowserPaneController::TBrowserPaneController(IBrowserView& view, IScheduler& scheduler)
    : View_(view), Scheduler_(scheduler) {
  View_.AddObserver(this);
}

TBrowserPaneController::~TBrowserPaneController() {
  if (Timer_) Scheduler_.Cancel(Timer_);
  View_.RemoveObserver(this);
}

void TBrowserPaneController::LoadTypedUrls(IRegistryStore& store) {
  std::vector<std::string> addresses;
  for (int i = 1; i <= kTypedUrlSlots; ++i) {
    auto value = store.ReadValue(TRegRoot::rrCurrentUser, kTypedUrlsKey, "Url" + std::to_string(i));
    if (value && value->Type == TRegDataType::rdString && !value->Data.empty())
      addresses.push_back(value->Data);
  }
  AppendAddresses(addresses);
}

void TBrowserPaneController::SaveTypedUrls(IRegistryStore& store) const {
  if (!store.CreateKey(TRegRoot::rrCurrentUser, kTypedUrlsKey)) return;
  for (int i = 1; i <= kTypedUrlSlots; ++i) {
    const std::string name = "Url" + std::to_string(i);
    if (static_cast<size_t>(i) <= Addresses_.size())
      store.WriteValue(TRegRoot::rrCurrentUser, kTypedUrlsKey, name, TRegValue::String(Addresses_[i - 1]));
    else
      store.DeleteValue(TRegRoot::rrCurrentUser, kTypedUrlsKey, name);
  }
}

void TBrowserPaneController::AppendAddresses(const std::vector<std::string>& addresses) {
  for (const std::string& address : addresses) {
    if (Addresses_.size() >= kMaxAddresses) break;
    if (address.empty() || std::find(Addresses_.begin(), Addresses_.end(), address) != Addresses_.end())
      continue;
    Addresses_.push_back(address);
  }
  Changed();
}

void TBrowserPaneController::PutOnTop(const std::string& address) {
  Addresses_.erase(std::remove(Addresses_.begin(), Addresses_.end(), address), Addresses_.end());
  Addresses_.insert(Addresses_.begin(), address);
  if (Addresses_.size() > kMaxAddresses) Addresses_.resize(kMaxAddresses);
}

std::string TBrowserPaneController::Enter(bool ctrl) {
  std::string address(Trim(AddressText_));
  if (address.empty()) return {};
  if (ctrl) address = CompleteAddress(address);
  AddressText_ = address;
  PutOnTop(address);
  Changed();
  if (OnUrlSelected) OnUrlSelected(address);
  View_.Navigate(address);
  return address;
}

void TBrowserPaneController::Escape() {
  AddressText_ = DisplayAddress(View_.Location());
  Changed();
  if (OnEditCancel) OnEditCancel();
}

void TBrowserPaneController::ToggleZoom() {
  ZoomDown_ = !ZoomDown_;
  Changed();
  if (OnZoom) OnZoom(ZoomDown_);
}

TEditTarget TBrowserPaneController::EditTargetFor(TPaneFocus focus) {
  switch (focus) {
    case TPaneFocus::pfBrowser:
      return TEditTarget::etBrowser;
    case TPaneFocus::pfAddressBox:
      return TEditTarget::etAddressBox;
    default:
      return TEditTarget::etNone;
  }
}

bool TBrowserPaneController::EditAvailable(TBrowserCommand command, TPaneFocus focus) const {
  switch (EditTargetFor(focus)) {
    case TEditTarget::etBrowser:
      return View_.CommandAvailable(command);
    case TEditTarget::etAddressBox:
      switch (command) {
        case TBrowserCommand::bcCopy:
        case TBrowserCommand::bcCut:
          return !AddressText_.empty();
        case TBrowserCommand::bcPaste:
        case TBrowserCommand::bcSelectAll:
          return true;
        default:
          return false;
      }
    default:
      return false;
  }
}

void TBrowserPaneController::NavigateLater(std::string url) {
  PendingUrl_ = std::move(url);
  if (Timer_) Scheduler_.Cancel(Timer_);
  Timer_ = Scheduler_.Schedule(kNavigationDelayMs, [this] {
    Timer_ = 0;
    View_.Navigate(PendingUrl_);
  });
}

void TBrowserPaneController::LocationChanged(const std::string& url) {
  TitleChanged({});
}

void TBrowserPaneController::TitleChanged(const std::string&) {
  const std::string shown = DisplayAddress(View_.Location());
  if (AddressText_ == shown) return;
  AddressText_ = shown;
  Changed();
}

void TBrowserPaneController::StatusTextChanged(const std::string& text) {
  if (OnStatusText) OnStatusText(text);
}

void TBrowserPaneController::CommandStateChanged(bool canGoBack, bool canGoForward) {
  CanGoBack_ = canGoBack;
  CanGoForward_ = canGoForward;
  Changed();
}

}  // namespace vandrel

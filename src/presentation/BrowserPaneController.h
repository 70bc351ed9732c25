// The browser pane's rules without a toolkit: the address box with its recent addresses, the navigation
// buttons' enabling, the editing commands' target and the delayed opening of a chosen result's page.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "presentation/BrowserView.h"
#include "presentation/DesktopPorts.h"

namespace vandrel {

class IRegistryStore;

// Where the typed addresses are kept, in the current user's part of the store.
inline constexpr std::string_view kTypedUrlsKey = "Software\\Microsoft\\Internet Explorer\\TypedURLs";

// Ctrl+Enter: "http://" in front, "www." after it and ".com" at the end, each unless already there.
std::string CompleteAddress(std::string_view text);
// How the address box shows an address: local files as paths, anything else unchanged.
std::string DisplayAddress(std::string_view url);

// What the editing commands act on.
enum class TEditTarget { etNone, etBrowser, etAddressBox };
enum class TPaneFocus { pfOther, pfBrowser, pfAddressBox };

// Observes the view it is given, which must outlive it. Main thread only.
class TBrowserPaneController : private IBrowserViewObserver {
 public:
  static constexpr size_t kMaxAddresses = 24;
  static constexpr int kNavigationDelayMs = 500;

  TBrowserPaneController(IBrowserView& view, IScheduler& scheduler);
  ~TBrowserPaneController() override;
  TBrowserPaneController(const TBrowserPaneController&) = delete;
  TBrowserPaneController& operator=(const TBrowserPaneController&) = delete;

  // --- Address box
  // Fills the list from the store's typed addresses ("Url1" to "Url25", empty ones skipped).
  void LoadTypedUrls(IRegistryStore& store);
  // Writes the list back, so addresses typed here are offered at the next start.
  void SaveTypedUrls(IRegistryStore& store) const;
  // Appends addresses from another source after those already listed; duplicates and the excess go.
  void AppendAddresses(const std::vector<std::string>& addresses);
  const std::vector<std::string>& Addresses() const { return Addresses_; }
  // The box's text, as the user edits it.
  const std::string& AddressText() const { return AddressText_; }
  void SetAddressText(std::string text) { AddressText_ = std::move(text); }
  // Enter (completed first with Ctrl): the text moves to the top of the list and the view opens it.
  // Returns the address opened; empty text does nothing.
  std::string Enter(bool ctrl);
  // Escape: the box shows the view's location again.
  void Escape();

  // --- Buttons
  bool BackEnabled() const { return CanGoBack_; }
  bool ForwardEnabled() const { return CanGoForward_; }
  bool ZoomDown() const { return ZoomDown_; }
  // The zoom button pressed: toggles and tells the owner.
  void ToggleZoom();
  // Sets the state without telling the owner.
  void SetZoomDown(bool down) { ZoomDown_ = down; }

  // --- Editing commands
  static TEditTarget EditTargetFor(TPaneFocus focus);
  // Whether a command is available: the browser's word, or for the address box its focus and text.
  bool EditAvailable(TBrowserCommand command, TPaneFocus focus) const;

  // --- Delayed navigation: only the last address asked for within the delay is opened.
  void NavigateLater(std::string url);
  bool NavigationPending() const { return Timer_ != 0; }

  // Owner callbacks, each optional.
  std::function<void()> OnChanged;  // the box's text, list or a button's state changed
  std::function<void(const std::string& text)> OnStatusText;
  std::function<void(bool down)> OnZoom;
  std::function<void(const std::string& url)> OnUrlSelected;
  std::function<void()> OnEditCancel;

 private:
  void LocationChanged(const std::string& url) override;
  void TitleChanged(const std::string& title) override;
  void StatusTextChanged(const std::string& text) override;
  void CommandStateChanged(bool canGoBack, bool canGoForward) override;
  void PutOnTop(const std::string& address);
  void Changed() const {
    if (OnChanged) OnChanged();
  }

  IBrowserView& View_;
  IScheduler& Scheduler_;
  std::vector<std::string> Addresses_;  // newest first, at most kMaxAddresses
  std::string AddressText_;
  bool CanGoBack_ = false;
  bool CanGoForward_ = false;
  bool ZoomDown_ = false;
  IScheduler::TTimerId Timer_ = 0;  // 0: no navigation waiting
  std::string PendingUrl_;
};

}  // namespace vandrel

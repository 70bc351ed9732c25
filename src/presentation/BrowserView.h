// The embedded browser as the window controllers see it: one page view, its commands and what it reports.
// The desktop fills it with the web engine; nothing outside that one implementation names the engine.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace vandrel {

// The page commands a pane offers; whether each is available is the view's to say.
enum class TBrowserCommand {
  bcBack,
  bcForward,
  bcStop,
  bcRefresh,
  bcFind,
  bcSaveAs,
  bcPrint,
  bcSource,
  bcCopy,
  bcCut,
  bcPaste,
  bcSelectAll,
};

// What a view tells the controllers. Main thread only; every call has an empty default.
class IBrowserViewObserver {
 public:
  virtual ~IBrowserViewObserver() = default;
  virtual void LocationChanged(const std::string& url) {}
  virtual void TitleChanged(const std::string& title) {}
  virtual void StatusTextChanged(const std::string& text) {}
  // The go-back and go-forward commands became available or not.
  virtual void CommandStateChanged(bool canGoBack, bool canGoForward) {}
  virtual void LoadProgress(int percent) {}
  virtual void LoadFinished(bool ok) {}
  // The browser itself could not start or its page process died; `reason` is for the user.
  virtual void BrowserFailed(const std::string& reason) {}
};

// One embedded page view. Main thread only.
class IBrowserView {
 public:
  virtual ~IBrowserView() = default;

  virtual void Navigate(const std::string& url) = 0;
  // The address of the document shown; empty before the first navigation.
  virtual std::string Location() const = 0;
  // False before a document arrived, and while the view shows "about:blank".
  virtual bool HasDocument() const = 0;
  virtual bool CommandAvailable(TBrowserCommand command) const = 0;
  virtual void Execute(TBrowserCommand command) = 0;
  // Runs one script statement in the page's window; the result is not waited for.
  virtual void RunScript(const std::string& statement) = 0;

  void AddObserver(IBrowserViewObserver* observer) {
    if (std::find(Observers_.begin(), Observers_.end(), observer) == Observers_.end())
      Observers_.push_back(observer);
  }
  void RemoveObserver(IBrowserViewObserver* observer) {
    Observers_.erase(std::remove(Observers_.begin(), Observers_.end(), observer), Observers_.end());
  }

 protected:
  // Calls each observer in registration order; an observer may remove itself meanwhile.
  template <class F>
  void Tell(F&& call) {
    const std::vector<IBrowserViewObserver*> observers = Observers_;
    for (IBrowserViewObserver* observer : observers)
      if (std::find(Observers_.begin(), Observers_.end(), observer) != Observers_.end()) call(*observer);
  }

 private:
  std::vector<IBrowserViewObserver*> Observers_;  // not owned, registration order
};

// True for addresses that show no document ("about:blank", empty).
inline bool IsBlankAddress(const std::string& url) {
  return url.empty() || url == "about:blank";
}

}  // namespace vandrel

// A browser view that records what it is asked and reports what a test tells it to.
#pragma once

#include <string>
#include <vector>

#include "presentation/BrowserView.h"

namespace vandrel::test {

class TFakeBrowserView : public IBrowserView {
 public:
  void Navigate(const std::string& url) override { Navigated.push_back(url); }
  std::string Location() const override { return Url; }
  bool HasDocument() const override { return Document; }
  bool CommandAvailable(TBrowserCommand command) const override { return Available; }
  void Execute(TBrowserCommand command) override { Executed.push_back(command); }
  void RunScript(const std::string& statement) override { Scripts.push_back(statement); }

  // A page arrived at `url`.
  void Show(const std::string& url) {
    Url = url;
    Document = !IsBlankAddress(url);
    Tell([&](IBrowserViewObserver& o) { o.LocationChanged(url); });
  }
  void History(bool back, bool forward) {
    Tell([&](IBrowserViewObserver& o) { o.CommandStateChanged(back, forward); });
  }
  void Status(const std::string& text) {
    Tell([&](IBrowserViewObserver& o) { o.StatusTextChanged(text); });
  }

  std::string Url;
  bool Document = false;
  bool Available = false;
  std::vector<std::string> Navigated;
  std::vector<std::string> Scripts;
  std::vector<TBrowserCommand> Executed;
};

}  // namespace vandrel::test

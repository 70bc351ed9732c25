// The browser view over the web engine: one page in its own profile, and the reason in its place when the
// engine cannot show it.
#pragma once

#include <QWidget>
#include <string>

#include "presentation/BrowserView.h"

class QLabel;
class QStackedLayout;
class QWebEngineProfile;
class QWebEngineView;

namespace vandrel {

enum class TBrowserProfile {
  bpLocalFilesOnly,  // our own pages: nothing but local files loads
  bpOffTheRecord,    // result pages: nothing is kept on disk
};

class TWebBrowserView : public QWidget, public IBrowserView {
  Q_OBJECT

 public:
  explicit TWebBrowserView(TBrowserProfile profile, QWidget* parent = nullptr);
  ~TWebBrowserView() override;

  void Navigate(const std::string& url) override;
  std::string Location() const override;
  bool HasDocument() const override;
  bool CommandAvailable(TBrowserCommand command) const override;
  void Execute(TBrowserCommand command) override;
  void RunScript(const std::string& statement) override;

  // Shows `reason` where the page would be, until the next navigation.
  void ShowFailure(const QString& reason);
  bool Failed() const;
  QString FailureText() const;

  QWebEngineView* Engine() const { return view_; }
  QWebEngineProfile* Profile() const { return profile_; }

 signals:
  void LoadFinished(bool ok);

 private:
  void ReportHistory();

  QWebEngineProfile* profile_ = nullptr;  // owned; outlives the page, deleted after it
  QWebEngineView* view_ = nullptr;
  QLabel* failure_ = nullptr;
  QStackedLayout* stack_ = nullptr;
  bool loaded_ = false;  // a document arrived since the last navigation
};

}  // namespace vandrel

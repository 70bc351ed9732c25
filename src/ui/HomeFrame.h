// The home page frame: our own page in a local-files-only browser, filled by the program and calling back
// through window.external.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "presentation/HomePageBridge.h"

class QMenu;
class QWebChannel;

namespace vandrel {

class TWebBrowserView;
class THomeExternal;

class THomeFrm : public QWidget {
  Q_OBJECT

 public:
  // `source` is not owned and must outlive the frame; `pageFile` is the root's Web/Welcome.htm.
  THomeFrm(IHomePageSource& source, std::string pageFile, QWidget* parent = nullptr);
  ~THomeFrm() override;

  // Makes the external names reachable from the page; done once (the constructor already does).
  void RegisterExternals();
  // The home page became current: fills it, or loads it first.
  void ShowHome();

  // Owner handlers, each optional: a link (type, text) from the page; Ctrl+N; Ctrl+Tab (backwards with
  // Shift).
  std::function<void(THomeLink type, const std::string& text)> OnLink;
  std::function<void()> OnNewSearch;
  std::function<void(bool backwards)> OnNextPage;

  THomePageBridge& Bridge() { return *bridge_; }
  TWebBrowserView& View() { return *view_; }
  // The menu of the last right-click, while it is open; null otherwise.
  QMenu* ContextMenu() const { return menu_; }
  // Opens the menu of the element with that identifier at `globalPos` (what a right-click does once the
  // page named the element under the pointer).
  void OpenContextMenu(const QString& elementId, const QPoint& globalPos);

 signals:
  // The page finished loading (false: it could not; the reason shows in its place).
  void PageLoaded(bool ok);
  // The page called the program.
  void PageCalled(const QString& name, const QString& argument);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void RequestContextMenu(const QPoint& pos);
  void WatchKeys();

  std::string pageFile_;
  TWebBrowserView* view_ = nullptr;
  std::unique_ptr<THomePageBridge> bridge_;
  THomeExternal* external_ = nullptr;  // owned by the frame
  QWebChannel* channel_ = nullptr;     // owned by the frame
  QMenu* menu_ = nullptr;
  QString currentElement_;        // the identifier under the pointer at the last right-click
  QObject* keyTarget_ = nullptr;  // the widget whose keys are watched
  bool fillPending_ = false;      // the page said it was loaded before the browser did
};

}  // namespace vandrel

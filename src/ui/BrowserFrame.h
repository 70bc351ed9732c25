// The browser pane of a result page: the page of the chosen result with its own buttons, address box,
// favourites and page commands.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "presentation/BrowserFavorites.h"
#include "presentation/BrowserPaneController.h"

class QComboBox;
class QLineEdit;
class QMenu;
class QToolButton;
class QWidget;

namespace vandrel {

class IRegistryStore;
class TWebBrowserView;

class TBrowserFrm : public QWidget {
  Q_OBJECT

 public:
  // `scheduler` must outlive the pane; `store` (may be null) holds the typed addresses and must too.
  // `favorites` fills the favourites menu (LoadUserFavorites for the user's own).
  TBrowserFrm(IScheduler& scheduler, IRegistryStore* store, TFavoriteFolder favorites,
              QWidget* parent = nullptr);
  ~TBrowserFrm() override;

  // Shows an empty page.
  void InitPane();
  void Navigate(const std::string& url);
  // The chosen result changed; only the last one chosen within half a second opens.
  void NavigateLater(const std::string& url);
  // Sets the zoom button without calling back.
  void SetZoomDown(bool down);
  // Runs an editing command on the browser or the address box, whichever has the focus.
  void EditCommand(TBrowserCommand command);
  bool EditAvailable(TBrowserCommand command) const;

  // Owner callbacks, each optional.
  std::function<void(const std::string& text)> OnStatusText;
  std::function<void(bool down)> OnZoom;

  TBrowserPaneController& Controller() { return *controller_; }
  TWebBrowserView& View() { return *view_; }
  QComboBox* AddressEdit() const { return address_; }
  QMenu* PopupMenu() const { return popup_; }
  QMenu* FavoritesMenu() const { return favoritesMenu_; }
  QLineEdit* FindEdit() const { return findEdit_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QToolButton* AddButton(const QString& name, const QString& hint, int icon);
  void BuildPopupMenu();
  void FillFavorites(QMenu* menu, const TFavoriteFolder& folder);
  void Refresh();
  void ShowFind();
  void FindNext(bool backwards);
  void SaveAs();
  void Print();
  void WatchKeys();
  TPaneFocus Focus() const;

  IRegistryStore* store_;
  TFavoriteFolder favorites_;
  TWebBrowserView* view_ = nullptr;
  std::unique_ptr<TBrowserPaneController> controller_;
  QToolButton* back_ = nullptr;
  QToolButton* forward_ = nullptr;
  QToolButton* zoom_ = nullptr;
  QComboBox* address_ = nullptr;
  QMenu* popup_ = nullptr;
  QMenu* favoritesMenu_ = nullptr;
  QWidget* findBar_ = nullptr;
  QLineEdit* findEdit_ = nullptr;
  QObject* keyTarget_ = nullptr;  // the engine's widget whose keys are watched
  bool refreshing_ = false;       // the box is being set from the controller
};

}  // namespace vandrel

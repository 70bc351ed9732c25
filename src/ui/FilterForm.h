// The filter window, one for both result pages: the price and delivery panel of the prices page and the
// reviews page's empty panel, with "&Close" and "&Reset".
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "presentation/ResultFilters.h"
#include "presentation/ResultFrameController.h"

class QComboBox;
class QLabel;
class QSlider;
class QSpinBox;
class QTabWidget;

namespace vandrel {

class TResultFilterFrm : public QWidget {
  Q_OBJECT

 public:
  explicit TResultFilterFrm(IScheduler& scheduler, QWidget* parent = nullptr);
  ~TResultFilterFrm() override;

  // Shows the panel of that page bound to its views; the window goes to the lower right of the screen
  // the first time.
  void ShowFor(TResultFrameController& frame);
  // Loads the panel again from the page's views (a new search is shown).
  void Reload();
  TResultFrameController* Frame() const { return Frame_; }
  // The page goes away: the window no longer serves it.
  void Release(const TResultFrameController* frame);
  TCompareFilterPanel& Panel() { return *Panel_; }
  QTabWidget* Pages() const { return Pages_; }
  QSlider* MinSlider() const { return MinSlider_; }
  QSlider* MaxSlider() const { return MaxSlider_; }
  QComboBox* Delivery() const { return Delivery_; }
  // Told when the window shows or hides (the pages' filter buttons follow).
  std::function<void(bool visible)> OnVisibleChanged;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void ShowRows();

  std::unique_ptr<TCompareFilterPanel> Panel_;
  TResultFrameController* Frame_ = nullptr;  // the page the window serves; not owned
  QTabWidget* Pages_ = nullptr;
  QSlider *MinSlider_ = nullptr, *MaxSlider_ = nullptr;
  QSpinBox *MinBox_ = nullptr, *MaxBox_ = nullptr;
  QLabel *MinLabel_ = nullptr, *MaxLabel_ = nullptr;
  QComboBox* Delivery_ = nullptr;
  bool Placed_ = false;
  bool Showing_ = false;  // controls are being set from the panel
};

}  // namespace vandrel

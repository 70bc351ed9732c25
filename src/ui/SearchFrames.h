// The search form of one frame kind as widgets: labelled fields, the drop-down of music and films, the
// "Paste in:" links, the review form's operators and the Quick/Thorough buttons, all over the form model.
#pragma once

#include <QWidget>
#include <vector>

#include "presentation/SearchFrames.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace vandrel {

class TSearchFrameWidget : public QWidget {
  Q_OBJECT

 public:
  // `model` must outlive the widget; what the user types goes straight into it.
  explicit TSearchFrameWidget(TSearchFrameModel& model, QWidget* parent = nullptr);

  TSearchFrameModel& Model() const { return model_; }
  // Shows the model's values again (after it loaded a search or took the initial text).
  void Refresh();
  void FocusFirstField();

  QLineEdit* Field(size_t index) const { return fields_[index]; }
  QComboBox* Choice() const { return choice_; }
  QRadioButton* OperatorButton(int op) const { return operators_[static_cast<size_t>(op - 1)]; }
  QRadioButton* ModeButton(TSearchMode mode) const { return modes_[static_cast<size_t>(mode)]; }
  QWidget* PastePanel() const { return pastePanel_; }
  std::vector<QLabel*> PasteLinks() const { return links_; }

 private:
  TSearchFrameModel& model_;
  std::vector<QLineEdit*> fields_;
  QComboBox* choice_ = nullptr;
  std::vector<QRadioButton*> operators_;
  std::vector<QRadioButton*> modes_;
  QWidget* pastePanel_ = nullptr;
  QLabel* pasteText_ = nullptr;
  std::vector<QLabel*> links_;
  bool refreshing_ = false;  // the widgets are being set from the model
};

}  // namespace vandrel

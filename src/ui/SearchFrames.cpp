#include "ui/SearchFrames.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vandrel {
namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

TSearchFrameWidget::TSearchFrameWidget(TSearchFrameModel& model, QWidget* parent)
    : QWidget(parent), model_(model) {
  setObjectName("SearchFrame");
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  for (size_t i = 0; i < model_.Fields.size(); ++i) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(Q(model_.Fields[i].Name));
    auto* label = new QLabel(Q(model_.Fields[i].Caption), this);
    label->setBuddy(edit);
    form->addRow(label, edit);
    connect(edit, &QLineEdit::textEdited, this,
            [this, i](const QString& text) { model_.Fields[i].Value = text.toStdString(); });
    fields_.push_back(edit);
  }
  if (model_.Choice) {
    choice_ = new QComboBox(this);
    choice_->setObjectName(Q(model_.Choice->Name));
    for (const std::string& entry : model_.Choice->Entries) choice_->addItem(Q(entry));
    auto* label = new QLabel(Q(model_.Choice->Caption), this);
    label->setBuddy(choice_);
    form->addRow(label, choice_);
    connect(choice_, &QComboBox::currentIndexChanged, this, [this](int index) {
      if (!refreshing_ && index >= 0) model_.Choice->Index = index;
    });
  }
  layout->addLayout(form);
  if (!model_.Note().empty()) layout->addWidget(new QLabel(Q(model_.Note()), this));

  pastePanel_ = new QWidget(this);
  pastePanel_->setObjectName("PastePanel");
  auto* paste = new QHBoxLayout(pastePanel_);
  paste->setContentsMargins(0, 0, 0, 0);
  paste->addWidget(new QLabel("Paste in:", pastePanel_));
  pasteText_ = new QLabel(pastePanel_);
  pasteText_->setTextFormat(Qt::PlainText);
  for (size_t i = 0; i < 3; ++i) {
    auto* link = new QLabel(pastePanel_);
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(link, &QLabel::linkActivated, this, [this, i](const QString&) {
      const size_t field = model_.Paste(i);
      Refresh();
      fields_[field]->setFocus();
      fields_[field]->selectAll();
    });
    paste->addWidget(link);
    links_.push_back(link);
  }
  paste->addWidget(pasteText_, 1);
  layout->addWidget(pastePanel_);

  if (model_.HasOperators()) {
    auto* group = new QButtonGroup(this);
    for (int op = koAllKeywords; op <= koExactPhrase; ++op) {
      auto* button =
          new QRadioButton(TSearchFrameModel::kOperatorCaptions[static_cast<size_t>(op - 1)], this);
      button->setObjectName(QString("Operator%1").arg(op));
      group->addButton(button, op);
      layout->addWidget(button);
      operators_.push_back(button);
    }
    connect(group, &QButtonGroup::idClicked, this, [this](int op) { model_.SetOperator(op); });
  }

  auto* modes = new QHBoxLayout;
  auto* modeGroup = new QButtonGroup(this);
  const char* captions[] = {"&Quick", "T&horough", "Su&per thorough"};
  for (int m = 0; m < 3; ++m) {
    auto* button = new QRadioButton(captions[m], this);
    button->setObjectName(QString("Mode%1").arg(m));
    modeGroup->addButton(button, m);
    modes->addWidget(button);
    modes_.push_back(button);
  }
  modes->addStretch(1);
  layout->addLayout(modes);
  layout->addStretch(1);
  connect(modeGroup, &QButtonGroup::idClicked, this, [this](int m) {
    model_.SetMode(static_cast<TSearchMode>(m));
    Refresh();  // super thorough falls back
  });
  Refresh();
}

void TSearchFrameWidget::Refresh() {
  refreshing_ = true;
  for (size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i]->text().toStdString() != model_.Fields[i].Value)
      fields_[i]->setText(Q(model_.Fields[i].Value));
  if (choice_) choice_->setCurrentIndex(model_.Choice->Index);
  for (int op = koAllKeywords; op <= static_cast<int>(operators_.size()); ++op) {
    operators_[static_cast<size_t>(op - 1)]->setEnabled(model_.OperatorEnabled(op));
    operators_[static_cast<size_t>(op - 1)]->setChecked(model_.Operator() == op);
  }
  modes_[static_cast<size_t>(model_.Mode())]->setChecked(true);
  const auto& links = model_.PasteLinks();
  pastePanel_->setVisible(!model_.PasteText().empty());
  pasteText_->setText("\"" + Q(model_.PasteText()) + "\"");
  for (size_t i = 0; i < links_.size(); ++i) {
    links_[i]->setVisible(i < links.size());
    if (i < links.size()) links_[i]->setText(QString("<a href=\"#\">%1</a>").arg(Q(links[i].Caption)));
  }
  refreshing_ = false;
}

void TSearchFrameWidget::FocusFirstField() {
  if (fields_.empty()) return;
  fields_[model_.FirstField()]->setFocus();
}

}  // namespace vandrel

#include "ui/FormPages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "kernel/AppName.h"
#include "presentation/DesktopSettings.h"
#include "presentation/LanSettingsController.h"
#include "presentation/OptionsController.h"

namespace vandrel {
namespace {

template <class Button>
Button* AddButton(QWidget* page, const char* name, std::string_view caption) {
  auto* button = new Button(FormText(caption), page);
  button->setObjectName(name);
  page->layout()->addWidget(button);
  return button;
}

}  // namespace

QString FormText(std::string_view text) {
  return QString::fromStdString(ExpandAppName(text));
}

QVBoxLayout* PageLayout(QWidget* page, std::string_view question) {
  auto* layout = new QVBoxLayout(page);
  layout->setAlignment(Qt::AlignTop);
  if (!question.empty()) layout->addWidget(new QLabel(FormText(question), page));
  return layout;
}

QCheckBox* AddCheckBox(QWidget* page, const char* name, std::string_view caption) {
  return AddButton<QCheckBox>(page, name, caption);
}

QRadioButton* AddRadioButton(QWidget* page, const char* name, std::string_view caption) {
  return AddButton<QRadioButton>(page, name, caption);
}

QWidget* CheckBoxPage(std::initializer_list<TPageButton<QCheckBox>> boxes) {
  auto* page = new QWidget;
  PageLayout(page);
  for (const auto& box : boxes) box.Slot = AddCheckBox(page, box.Name, box.Caption);
  return page;
}

QWidget* QuestionPage(std::string_view question, std::initializer_list<TPageButton<QRadioButton>> answers) {
  auto* page = new QWidget;
  PageLayout(page, question);
  for (const auto& answer : answers) answer.Slot = AddRadioButton(page, answer.Name, answer.Caption);
  return page;
}

TProxyServerRow AddProxyServerRow(QWidget* parent, QBoxLayout* layout) {
  TProxyServerRow row;
  row.Type = new QComboBox(parent);
  row.Type->setObjectName("ProxyTypeList");
  row.Type->addItems({FormText(lan_text::kHttp), FormText(lan_text::kSocks)});
  row.Address = new QLineEdit(parent);
  row.Address->setObjectName("AddressEdit");
  row.Port = new QSpinBox(parent);
  row.Port->setObjectName("PortEdit");
  row.Port->setRange(0, kMaxPort);
  auto* line = new QHBoxLayout;
  line->addWidget(row.Type);
  line->addWidget(row.Address, 1);
  line->addWidget(new QLabel(":", parent));
  line->addWidget(row.Port);
  layout->addLayout(line);
  return row;
}

TAddOnBoxes AddAddOnBoxes(QWidget* page) {
  TAddOnBoxes boxes;
  boxes.BrowserExt = AddCheckBox(page, "IEBrowserExtBtn", options_text::kBrowserExt);
  boxes.ContextMenu = AddCheckBox(page, "IEContextMenuBtn", options_text::kContextMenu);
  boxes.QuickLaunch = AddCheckBox(page, "IEQuickLaunchBtn", options_text::kQuickLaunch);
  return boxes;
}

}  // namespace vandrel

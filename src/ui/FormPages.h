// Building blocks of the dialogs' pages, shared so that the same option looks the same everywhere.
#pragma once

#include <QString>
#include <initializer_list>
#include <string_view>

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QVBoxLayout;
class QWidget;

namespace vandrel {

// A window text with the program's name put in.
QString FormText(std::string_view text);

// The top-aligned column of a dialog page, headed by `question` when there is one.
QVBoxLayout* PageLayout(QWidget* page, std::string_view question = {});

// A check box or radio button added at the bottom of `page`'s column.
QCheckBox* AddCheckBox(QWidget* page, const char* name, std::string_view caption);
QRadioButton* AddRadioButton(QWidget* page, const char* name, std::string_view caption);

// One button of a page of buttons, and the form's member that keeps it.
template <class Button>
struct TPageButton {
  Button*& Slot;
  const char* Name;
  std::string_view Caption;
};

// A page of check boxes; and a page that asks `question` and offers its answers as radio buttons.
QWidget* CheckBoxPage(std::initializer_list<TPageButton<QCheckBox>> boxes);
QWidget* QuestionPage(std::string_view question, std::initializer_list<TPageButton<QRadioButton>> answers);

// The proxy's type, address and port on one row added to `layout`, as the setup wizard and the LAN
// settings ask for them.
struct TProxyServerRow {
  QComboBox* Type = nullptr;
  QLineEdit* Address = nullptr;
  QSpinBox* Port = nullptr;
};
TProxyServerRow AddProxyServerRow(QWidget* parent, QBoxLayout* layout);

// The three desktop add-on boxes that both the options and the setup wizard offer.
struct TAddOnBoxes {
  QCheckBox* BrowserExt = nullptr;
  QCheckBox* ContextMenu = nullptr;
  QCheckBox* QuickLaunch = nullptr;
};
TAddOnBoxes AddAddOnBoxes(QWidget* page);

}  // namespace vandrel

// The exception hook: an exception that reaches the event loop is shown in one error window, not fatal.
#pragma once

#include <QApplication>
#include <QDialog>
#include <functional>

#include "kernel/ExceptionInfo.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vandrel {

class TExceptionForm : public QDialog {
  Q_OBJECT

 public:
  // Shows `info` modally. While a window is open a later exception reuses it. Main thread only.
  static void ShowException(const TExceptionInfo& info);
  // The open window, if any (tests close it).
  static TExceptionForm* Current();

  bool DetailsShown() const;
  QString Message() const;

 private:
  explicit TExceptionForm(QWidget* parent = nullptr);
  void SetInfo(const TExceptionInfo& info);
  void ToggleDetails();

  QLabel* message_ = nullptr;
  QPlainTextEdit* details_ = nullptr;
  QPushButton* detailsButton_ = nullptr;
};

// The application object of the program: runs every event through the exception hook.
class TVandrelApplication : public QApplication {
 public:
  TVandrelApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the exception being handled (inside a catch block); falls back to a plain message box, and when even
// that fails ends the process with status 1.
void ShowCurrentException();

// Runs the program's `body` and answers its status. An exception escaping it is shown as one from the
// event loop would be (on stderr, naming `module`, while no application exists), and the answer is 1.
int RunGuarded(const std::function<int()>& body, const char* module);

}  // namespace vandrel

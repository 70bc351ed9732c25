// The desktop ports over Qt: timers from the event loop and question boxes as modal message boxes.
#pragma once

#include <QObject>
#include <map>

#include "presentation/DesktopPorts.h"

class QTimer;
class QWidget;

namespace vandrel {

class TQtScheduler : public IScheduler {
 public:
  TQtScheduler() = default;
  ~TQtScheduler() override;
  TTimerId Schedule(int delayMs, std::function<void()> task) override;
  void Cancel(TTimerId id) override;

 private:
  std::map<TTimerId, QTimer*> Timers_;  // each owned here until it fires or is cancelled
  TTimerId Next_ = 0;
};

// `parent` is the window the boxes are modal to; null: the active window.
class TQtUserPrompts : public IUserPrompts {
 public:
  explicit TQtUserPrompts(QWidget* parent = nullptr) : Parent_(parent) {}
  TPromptReply Ask(const TPrompt& prompt) override;

 private:
  QWidget* Parent_;
};

// Lets the main dispatcher's posts wake Qt's event loop, which then runs them: how the program (and a
// window test) pumps the core's work without polling. Main thread only.
void RunDispatcherFromEventLoop();

}  // namespace vandrel

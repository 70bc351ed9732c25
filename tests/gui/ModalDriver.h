// Driving modal windows from a test: a modal window runs its own event loop, so the test's steps run from
// a timer inside it.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace vandrel::test {

// Runs `step` on the modal window named `name` (any modal window when empty) once it is up; `step` answers
// true when done with it. Bounded: gives up after `timeoutMs`.
inline void WhenModal(const QString& name, std::function<bool(QWidget&)> step, int timeoutMs = 20000) {
  auto* poll = new QTimer;
  auto started = std::make_shared<QElapsedTimer>();
  auto busy = std::make_shared<bool>(false);  // a step that runs an event loop must not be entered again
  started->start();
  QObject::connect(poll, &QTimer::timeout, [poll, name, step, started, busy, timeoutMs] {
    if (*busy) return;
    QWidget* modal = QApplication::activeModalWidget();
    if (started->elapsed() > timeoutMs) {
      poll->stop();
      poll->deleteLater();
      return;
    }
    if (!modal || !modal->isVisible() || (!name.isEmpty() && modal->objectName() != name)) return;
    *busy = true;
    const bool done = step(*modal);
    *busy = false;
    if (done) {
      poll->stop();
      poll->deleteLater();
    }
  });
  poll->start(20);
}

// Closes the next message box with its first button, keeping its text.
inline void AnswerMessageBox(QString& text) {
  WhenModal({}, [&text](QWidget& w) {
    auto* box = qobject_cast<QMessageBox*>(&w);
    if (!box) return false;
    text = box->text();
    box->buttons().first()->click();
    return true;
  });
}

// The child of that type and object name; a failure of the test when there is none.
template <typename T>
T* Find(QWidget& parent, const char* name) {
  T* child = parent.findChild<T*>(name);
  EXPECT_NE(child, nullptr) << name;
  return child;
}

}  // namespace vandrel::test

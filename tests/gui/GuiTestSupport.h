// Waiting on the real embedded browser: a page's script result, bounded in time.
#pragma once

#include <QTest>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <memory>

namespace vandrel::test {

// The value of `script` in the page, or an invalid value after `timeoutMs`.
inline QVariant Evaluate(QWebEngineView* view, const QString& script, int timeoutMs = 10000) {
  struct TAnswer {
    QVariant Value;
    bool Done = false;
  };
  auto answer = std::make_shared<TAnswer>();  // the answer may come after a timed-out wait
  view->page()->runJavaScript(script, [answer](const QVariant& value) {
    answer->Value = value;
    answer->Done = true;
  });
  (void)QTest::qWaitFor([&] { return answer->Done; }, timeoutMs);
  return answer->Value;
}

// Evaluates `script` until it gives `expected` or `timeoutMs` passed; true when it did.
inline bool WaitForScript(QWebEngineView* view, const QString& script, const QVariant& expected,
                          int timeoutMs = 20000) {
  return QTest::qWaitFor([&] { return Evaluate(view, script, 2000) == expected; }, timeoutMs);
}

}  // namespace vandrel::test

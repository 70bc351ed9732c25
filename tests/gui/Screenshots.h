// Pictures of the real windows for a person to look at: `make screenshots` collects them in
// build/screenshots/; an ordinary test run keeps them beside the build as artifacts.
#pragma once

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QString>
#include <QWidget>
#include <cstdlib>

namespace vandrel::test {

inline QString ScreenshotFolder() {
  if (const char* dir = std::getenv("VANDREL_SCREENSHOT_DIR"); dir && *dir)
    return QString::fromLocal8Bit(dir);
  return QStringLiteral(VANDREL_BIN_DIR "/artifacts");
}

// The whole virtual screen (menus and dialogs included), saved as `name` (a .png file name).
inline QImage SaveScreenshot(const QString& name) {
  QImage image = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
  QDir().mkpath(ScreenshotFolder());
  image.save(ScreenshotFolder() + "/" + name);
  return image;
}

// One window as it draws itself, without what overlaps it.
inline QImage SaveScreenshot(QWidget& window, const QString& name) {
  QImage image = window.grab().toImage();
  QDir().mkpath(ScreenshotFolder());
  image.save(ScreenshotFolder() + "/" + name);
  return image;
}

}  // namespace vandrel::test

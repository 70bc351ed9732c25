// The startup benchmark's peer: the least a Qt program does to show one page in a web view. It writes the
// same line as the desktop program to the file named by VANDREL_COMMAND_LOG once the page has loaded.
#include <QApplication>
#include <QUrl>
#include <QWebEngineView>
#include <cstdlib>
#include <fstream>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QWebEngineView view;
  QObject::connect(&view, &QWebEngineView::loadFinished, [](bool ok) {
    if (const char* log = std::getenv("VANDREL_COMMAND_LOG"); log && *log)
      std::ofstream(log, std::ios::app) << (ok ? "# home page loaded" : "# home page failed") << '\n';
  });
  view.load(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])));
  view.showMaximized();
  return app.exec();
}

// Takes the README's screenshot: the editor window on a project folder, grabbed into a PNG.
// Usage: charstack_screenshot PROJECT_FOLDER OUTPUT.png [WIDTH HEIGHT]
// Run it under a display (xvfb-run works); nothing in the project is changed.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <cstdio>

#include "app/main_window.hpp"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() != 3 && args.size() != 5) {
    std::fprintf(stderr, "usage: charstack_screenshot PROJECT_FOLDER OUTPUT.png [WIDTH HEIGHT]\n");
    return 2;
  }
  const int width = args.size() == 5 ? args.at(3).toInt() : 1100;
  const int height = args.size() == 5 ? args.at(4).toInt() : 640;

  charstack::CharacterList list;
  charstack::EditorState state;
  charstack::MainWindow window(list, state, QFile::encodeName(args.at(1)).toStdString());
  // The title holds the folder as given, which says nothing in a picture: name the project only.
  window.setWindowTitle(QStringLiteral("sample — charstack"));
  window.resize(width, height);
  window.show();

  // Let the window lay itself out and the timers draw a few frames.
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 500) QApplication::processEvents(QEventLoop::AllEvents, 20);

  if (!window.grab().save(args.at(2), "PNG")) {
    std::fprintf(stderr, "charstack_screenshot: could not write %s\n", qPrintable(args.at(2)));
    return 1;
  }
  return 0;
}

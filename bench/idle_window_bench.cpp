// CPU use of the editor window while nothing changes: one character of 100 layers on the canvas.
//
//   charstack_idle_bench [--seconds S] [--table-line]
//
// Prints the process CPU time over wall time, in percent of one core, for the real window and, as the
// baseline, for a bare window of the same size; and how often the canvas painted per second. With
// --table-line the last line is "idle <window%> <bare%> <paints/s>" for charstack_bench.
#include <QApplication>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/main_window.hpp"
#include "bench_support.hpp"
#include "ui/canvas_widget.hpp"

using namespace charstack;
using namespace charstack::bench;

namespace {

class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
  long paints = 0;
};

struct Idle {
  double cpuPercent = 0;
  long paintsBefore = 0;  // while settling
  long paints = 0;        // while measured
};

// Runs one event loop: `settle` seconds for the first paints and the premultiplied copies, then
// `seconds` measured, in percent of one core. Each window gets a single event loop run: Qt stops
// delivering a widget's update requests once the loop it was shown in has returned.
Idle measureIdle(double settle, double seconds, const PaintCounter* counter) {
  Idle idle;
  double cpu = 0;
  std::chrono::steady_clock::time_point start;
  QTimer::singleShot(static_cast<int>(settle * 1000), qApp, [&] {
    idle.paintsBefore = counter ? counter->paints : 0;
    cpu = processCpuSeconds();
    start = std::chrono::steady_clock::now();
    QTimer::singleShot(static_cast<int>(seconds * 1000), qApp, [&] {
      const double wall = secondsSince(start);
      idle.cpuPercent = 100.0 * (processCpuSeconds() - cpu) / wall;
      idle.paints = (counter ? counter->paints : 0) - idle.paintsBefore;
      QCoreApplication::quit();
    });
  });
  QCoreApplication::exec();
  return idle;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 10;
  bool tableLine = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) seconds = std::atof(argv[++i]);
    else if (std::strcmp(argv[i], "--table-line") == 0) tableLine = true;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  TempDir dir("charstack-bench-idle");
  writeProject(layeredCharacter(100, 256, 800, 600), dir.path());

  double bare = 0;
  {
    QMainWindow window;
    window.resize(1100, 700);
    window.show();
    bare = measureIdle(1.0, seconds, nullptr).cpuPercent;
  }

  CharacterList list;
  EditorState state;
  Idle idle;
  {
    MainWindow window(list, state, dir.path());
    window.resize(1100, 700);
    window.show();
    if (window.findChild<charstack::CanvasWidget*>()->view().composition().size() != 100) {
      std::fprintf(stderr, "charstack_idle_bench: the canvas does not show the 100 layers\n");
      return 1;
    }
    PaintCounter counter;
    window.findChild<charstack::CanvasWidget*>()->installEventFilter(&counter);
    idle = measureIdle(1.0, seconds, &counter);
    if (idle.paintsBefore == 0) std::printf("note: the canvas was not painted while settling\n");
  }
  const double busy = idle.cpuPercent;
  const double paintsPerSecond = static_cast<double>(idle.paints) / seconds;

  std::printf("window with 100 layers: %.2f%% of one core, %.1f canvas paints/s\n", busy, paintsPerSecond);
  std::printf("bare window:            %.2f%% of one core\n", bare);
  if (tableLine) std::printf("idle %.3f %.3f %.1f\n", busy, bare, paintsPerSecond);
  return 0;
}

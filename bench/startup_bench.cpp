// A project of 10,000 characters of 10 layers (110,000 small pictures) in the window: the time from
// opening it to the first paint of its first character, the peak memory of that against the bytes of
// its pictures, and an unchanged save with the look at the disk it sets off.
#include <QApplication>
#include <QElapsedTimer>

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "app/main_window.hpp"
#include "startup_bench.hpp"
#include "controller/session.hpp"
#include "platform/image.hpp"
#include "project/project_io.hpp"
#include "ui/canvas_widget.hpp"

namespace charstack::bench {

namespace {

constexpr int kCharacters = 10000, kLayers = 10, kSize = 64;

// Where the project goes: in memory when the machine has a tmpfs (writing 110,000 files to a disk
// takes minutes; reading them back from the page cache is what opening measures either way).
std::filesystem::path scratch() {
  return ::access("/dev/shm", W_OK) == 0 ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path();
}

// The project's files written directly (the pictures from a pool of distinct ones); its PNG bytes.
uint64_t writeScaleProject(const std::filesystem::path& folder) {
  // Sprites of the size artists' small pictures have (about 4 KB each): shapes with soft edges and
  // little noise.
  std::vector<std::string> pool;
  for (uint32_t seed = 1; seed <= 97; ++seed) {
    std::vector<uint32_t> pixels = syntheticPixels(kSize, kSize, seed);
    for (uint32_t& p : pixels) p &= 0xfffcfcfcu;
    pool.push_back(*encodePng(*makeImage(kSize, kSize, pixels)));
  }
  std::filesystem::create_directories(folder / "img");
  std::string text;
  uint64_t bytes = 0;
  int64_t number = 0;
  auto picture = [&](const std::string& name) {
    const std::string& png = pool[static_cast<size_t>(number) % pool.size()];
    std::ofstream(folder / "img" / (name + std::to_string(number)), std::ios::binary).write(png.data(), std::streamsize(png.size()));
    bytes += png.size();
  };
  for (int k = 0; k < kCharacters; ++k) {
    const std::string name = "hero" + std::to_string(k);
    text += name + ",100, " + std::to_string(k % 200) + ", 0\n####\n";
    ++number, picture(name);
    for (int m = 0; m < kLayers; ++m) {
      text += "part" + std::to_string(m) + "," + std::to_string(150 + m) + ",1, " + std::to_string(m * 3) + ", 0\n";
      ++number, picture("part" + std::to_string(m));
    }
    text += "$$$$\n";
  }
  std::ofstream(folder / "data.txt", std::ios::binary) << text;
  return bytes;
}

// Opens the project in a window and waits for the first paint of its canvas: seconds.
double openToFirstPaint(const std::filesystem::path& folder) {
  QElapsedTimer clock;
  clock.start();
  CharacterList list;
  EditorState state;
  MainWindow window(list, state, folder);
  struct PaintSeen : QObject {
    bool painted = false;
    bool eventFilter(QObject*, QEvent* e) override { return painted = painted || e->type() == QEvent::Paint, false; }
  } seen;
  window.findChild<CanvasWidget*>()->installEventFilter(&seen);
  window.show();
  while (!seen.painted && clock.elapsed() < 60000) QApplication::processEvents(QEventLoop::AllEvents, 5);
  QApplication::processEvents();  // the paint itself
  const double seconds = clock.nsecsElapsed() / 1e9;
  if (list.size() != kCharacters) throw std::runtime_error("the scale project does not open");
  return seconds;
}

}  // namespace

int peakOpenChild(const std::filesystem::path& folder) {
  const long before = procStatusKb("VmRSS");
  openToFirstPaint(folder);
  std::printf("%ld\n", (procStatusKb("VmHWM") - before) * 1024);
  return 0;
}

void benchStartup(int rounds, std::vector<Row>& rows) {
  TempDir dir("charstack-bench-scale");
  const std::filesystem::path folder = scratch() / dir.path().filename();
  std::filesystem::create_directories(folder);
  const uint64_t pngBytes = writeScaleProject(folder);

  std::vector<double> times;
  for (int round = 0; round < std::max(2, rounds); ++round) times.push_back(openToFirstPaint(folder));
  const double t = median(times);
  rows.push_back({"open 10,000x10 to first paint", formatSeconds(t), "-", "-", "<= 1 s", t <= 1.0});

  const std::string command = "\"/proc/" + std::to_string(::getpid()) + "/exe\" --peak-open \"" + folder.string() + "\"";
  double growth = -1;
  if (FILE* child = ::popen(command.c_str(), "r")) {
    if (std::fscanf(child, "%lf", &growth) != 1) growth = -1;
    ::pclose(child);
  }
  const double ratio = growth / static_cast<double>(pngBytes);
  rows.push_back({"open 10,000x10: peak memory", growth < 0 ? "could not be measured" : formatFixed(growth / 1e6, 0) + " MB",
                  "PNG bytes " + formatFixed(static_cast<double>(pngBytes) / 1e6, 0) + " MB", formatFixed(ratio, 2),
                  "<= 1.50", growth >= 0 && ratio <= 1.5, growth >= 0});

  // An unchanged save in the window, with the look at the disk it sets off, against writing its
  // data.txt alone.
  {
    CharacterList list;
    EditorState state;
    MainWindow window(list, state, folder);
    // Once the pictures are read: the save is measured alone.
    while (!window.session().idle()) QApplication::processEvents(QEventLoop::AllEvents, 5);
    std::vector<double> save, text;
    const ProjectFolder project(folder);
    for (int round = 0; round < std::max(3, rounds); ++round) {
      text.push_back(timeSeconds([&] { project.writeFileAtomically("plain.txt", buildDataText(list)); }));
      QElapsedTimer clock;
      clock.start();
      window.save();
      // The look at what the watch told of, done at once rather than after the changes settle.
      QApplication::processEvents();
      window.session().lookAtDiskNow(false);
      save.push_back(clock.nsecsElapsed() / 1e9);
    }
    const double q = median(save) / median(text);
    rows.push_back({"unchanged save, 10,000x10, in the window", formatSeconds(median(save)),
                    "data.txt alone " + formatSeconds(median(text)), formatFixed(q, 2), "<= 2.00", q <= 2.0});
  }
  std::filesystem::remove_all(folder);
}

}  // namespace charstack::bench

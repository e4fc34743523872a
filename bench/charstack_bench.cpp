// The editor's speed and memory figures, each beside a baseline measured in the same run.
//
//   charstack_bench [--quick] [--records N] [--rounds R] [--no-idle] [--only NAME]
//
// --only runs the benchmarks whose name holds NAME: project, composition, canvas view, tick, many,
// undo, unchanged, table, clean up, idle.
// --quick (or CHARSTACK_BENCH_QUICK=1) skips the 50 x 1024x1024 project. Every figure is the median of
// R rounds; in each round the baseline and the measured code run back to back, and the ratio shown is
// the median of the rounds' ratios. The idle-window figure comes from charstack_idle_bench beside this
// program, when it was built.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "alloc_counter.hpp"
#include "bench_support.hpp"
#include "canvas/init_layer_view.hpp"
#include "controller/init_layer.hpp"
#include "platform/files.hpp"
#include "platform/image_impl.hpp"
#include "project/project_io.hpp"
#include "ui/canvas_widget.hpp"
#include "view_bench.hpp"

using namespace charstack;
using namespace charstack::bench;

namespace {

struct Options {
  std::string only;  // run only the benchmarks whose name contains this
  int records = 400;
  int rounds = 5;
  bool big = true;
  bool idle = true;
};

// Timers that never fire: the benchmarks call the ticks themselves.
class SilentTimers : public TimerService {
  struct Timer : RepeatingTimer {};

 public:
  std::unique_ptr<RepeatingTimer> scheduleRepeating(double, std::function<void()>) override {
    return std::make_unique<Timer>();
  }
};

class FixedTable : public TableView {
 public:
  explicit FixedTable(int64_t row) : row_(row) {}
  int64_t clickedRow() const override { return row_; }
  void setAction(std::function<void()>) override {}

 private:
  int64_t row_;
};

QString qtPath(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

// ---- Writing files the plain way, for the save baselines ----------------------------------------

void writeAtomicallyPlain(const std::filesystem::path& folder, const std::string& name, const std::string& bytes) {
  const std::filesystem::path target = folder / name;
  const std::filesystem::path temp = folder / (name + ".tmp");
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot write " + temp.string());
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("cannot write " + temp.string());
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) throw std::runtime_error("cannot sync " + temp.string());
  if (::rename(temp.c_str(), target.c_str()) != 0) throw std::runtime_error("cannot rename " + temp.string());
  int dir = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

std::string readAll(const std::filesystem::path& path) {
  std::optional<std::string> bytes = ProjectFolder(path.parent_path()).readFile(path.filename().string());
  if (!bytes) throw std::runtime_error("cannot read " + path.string());
  return *bytes;
}

// ---- Peak memory of a load, in a fresh process ---------------------------------------------------

int peakLoadChild(const std::filesystem::path& folder) {
  const long before = procStatusKb("VmHWM");
  LoadResult loaded = loadProject(ProjectFolder(folder));
  const long after = procStatusKb("VmHWM");
  const long rss = procStatusKb("VmRSS");
  benchmark::DoNotOptimize(loaded);
  std::printf("%ld %ld %ld\n", before, after, rss);
  return loaded.problems.empty() ? 0 : 1;
}

// Runs this program again with --peak-load; returns the growth of the peak resident size in bytes.
std::optional<double> peakLoadGrowth(const std::filesystem::path& folder) {
  std::string command = "\"/proc/" + std::to_string(::getpid()) + "/exe\" --peak-load \"" + folder.string() + "\"";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  long before = 0, after = 0, rss = 0;
  int fields = std::fscanf(pipe, "%ld %ld %ld", &before, &after, &rss);
  int status = ::pclose(pipe);
  if (fields != 3 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return static_cast<double>(after - before) * 1024.0;
}

// ---- Loading and saving a project ---------------------------------------------------------------

void benchProject(const std::string& label, int records, int recordsPerCharacter, int size, int rounds,
                  std::vector<Row>& rows) {
  std::printf("\n== %s: %d records of %dx%d ==\n", label.c_str(), records, size, size);
  std::fflush(stdout);
  TempDir dir("charstack-bench");
  const std::filesystem::path project = dir / "project";
  auto made = std::chrono::steady_clock::now();
  writeProject(syntheticProject(records, recordsPerCharacter, size), project);
  std::printf("generated in %s\n", formatSeconds(secondsSince(made)).c_str());

  const ProjectFolder folder(project);
  LoadResult first = loadProject(folder);
  if (!first.problems.empty() || first.list.empty()) throw std::runtime_error("the synthetic project does not load");
  const std::vector<std::string> files = imageFilesInSaveOrder(first.list);

  const double rawBytes = static_cast<double>(records) * size * size * 4;
  double pngBytes = 0;
  for (const std::string& f : files) pngBytes += static_cast<double>(fileSize(project / f));
  std::printf("raw pixels %.1f MB, PNG files %.1f MB (%.0f%%)\n", rawBytes / 1e6, pngBytes / 1e6,
              100 * pngBytes / rawBytes);

  // Same files for the atomic-write baseline: every image file and data.txt, with their bytes.
  std::vector<std::pair<std::string, std::string>> fileBytes;
  for (const std::string& f : files) fileBytes.emplace_back(f, readAll(project / f));
  fileBytes.emplace_back(kDataFileName, readAll(project / kDataFileName));

  const std::filesystem::path atomicFolder = dir / "atomic";
  const std::filesystem::path qtFolder = dir / "qt-default";
  const std::filesystem::path replacedFolder = dir / "replaced";
  std::filesystem::create_directories(atomicFolder / kImageFolder);
  std::filesystem::create_directories(qtFolder / kImageFolder);

  // The same project with every picture replaced by an image made in memory (no PNG data kept).
  CharacterList replaced = first.list;
  for (Character& c : replaced.characters) {
    auto remake = [](ImageRef& image) {
      const QImage& q = image->impl().qimage();
      std::vector<uint32_t> argb(static_cast<size_t>(q.width()) * static_cast<size_t>(q.height()));
      for (int y = 0; y < q.height(); ++y)
        std::memcpy(argb.data() + static_cast<size_t>(y) * static_cast<size_t>(q.width()), q.constScanLine(y),
                    static_cast<size_t>(q.width()) * 4);
      image = makeImage(q.width(), q.height(), argb);
    };
    remake(c.image);
    for (Layer& l : c.layers) remake(l.image);
  }
  EditorState replacedState;

  std::vector<double> tQtDecode, tLoad, rLoad, tAtomic, tSave, rSave, tQtEncode, rSaveVsQt, tReplaced, rReplaced;
  for (int round = 0; round < rounds; ++round) {
    // 1. Loading vs decoding the same files with QImage on one thread.
    {
      std::vector<QImage> decoded;
      decoded.reserve(files.size());
      double base = timeSeconds([&] {
        for (const std::string& f : files) decoded.emplace_back(qtPath(project / f));
      });
      for (const QImage& q : decoded)
        if (q.isNull()) throw std::runtime_error("QImage cannot read the synthetic project");
      decoded.clear();
      std::optional<LoadResult> loaded;
      double ours = timeSeconds([&] { loaded = loadProject(folder); });
      tQtDecode.push_back(base);
      tLoad.push_back(ours);
      rLoad.push_back(ours / base);
    }
    // 2. Saving the unchanged project vs writing the same bytes atomically with fsync.
    {
      double base = timeSeconds([&] {
        for (const auto& [name, bytes] : fileBytes) writeAtomicallyPlain(atomicFolder, name, bytes);
      });
      CharacterList list = first.list;
      EditorState state;
      SaveReport report;
      double ours = timeSeconds([&] { report = saveProject(list, state, folder); });
      if (!report.ok()) throw std::runtime_error("saving the unchanged project failed");
      tAtomic.push_back(base);
      tSave.push_back(ours);
      rSave.push_back(ours / base);
    }
    // 2 and 3. QImage's default PNG encoding on one thread, written to files.
    {
      double base = timeSeconds([&] {
        size_t i = 0;
        for (const Character& c : first.list.characters) {
          if (!c.image->impl().qimage().save(qtPath(qtFolder / files[i++]), "PNG"))
            throw std::runtime_error("QImage cannot save");
          for (const Layer& l : c.layers)
            if (!l.image->impl().qimage().save(qtPath(qtFolder / files[i++]), "PNG"))
              throw std::runtime_error("QImage cannot save");
        }
      });
      tQtEncode.push_back(base);
      rSaveVsQt.push_back(base / tSave.back());
      SaveReport report;
      double ours = timeSeconds([&] { report = saveProject(replaced, replacedState, ProjectFolder(replacedFolder)); });
      if (!report.ok()) throw std::runtime_error("saving the replaced pictures failed");
      tReplaced.push_back(ours);
      rReplaced.push_back(base / ours);
    }
    std::printf("round %d: decode %s load %s | atomic %s save %s | qt-encode %s save-new %s\n", round + 1,
                formatSeconds(tQtDecode.back()).c_str(), formatSeconds(tLoad.back()).c_str(),
                formatSeconds(tAtomic.back()).c_str(), formatSeconds(tSave.back()).c_str(),
                formatSeconds(tQtEncode.back()).c_str(), formatSeconds(tReplaced.back()).c_str());
    std::fflush(stdout);
  }

  // The saved pictures must come back unchanged.
  LoadResult back = loadProject(ProjectFolder(replacedFolder));
  const std::vector<std::string> backFiles = imageFilesInSaveOrder(back.list);
  if (!back.problems.empty() || backFiles != files) throw std::runtime_error("the saved project does not load back");
  for (size_t k = 0; k < back.list.characters.size(); ++k) {
    if (!back.list.characters[k].image->samePixels(*first.list.characters[k].image))
      throw std::runtime_error("a saved picture changed");
    for (size_t m = 0; m < back.list.characters[k].layers.size(); ++m)
      if (!back.list.characters[k].layers[m].image->samePixels(*first.list.characters[k].layers[m].image))
        throw std::runtime_error("a saved picture changed");
  }

  const double loadRatio = median(rLoad), saveRatio = median(rSave), saveVsQt = median(rSaveVsQt),
               replacedVsQt = median(rReplaced);
  rows.push_back({label + ": load", formatSeconds(median(tLoad)), "QImage 1 thread " + formatSeconds(median(tQtDecode)),
                  formatFixed(loadRatio, 2), "<= 0.70", loadRatio <= 0.7});
  rows.push_back({label + ": save unchanged", formatSeconds(median(tSave)),
                  "atomic+fsync " + formatSeconds(median(tAtomic)), formatFixed(saveRatio, 2), "<= 2.00",
                  saveRatio <= 2.0});
  rows.push_back({label + ": save unchanged", formatSeconds(median(tSave)),
                  "QImage::save " + formatSeconds(median(tQtEncode)), formatFixed(saveVsQt, 1) + "x faster",
                  ">= 15x faster", saveVsQt >= 15});
  rows.push_back({label + ": save new pictures", formatSeconds(median(tReplaced)),
                  "QImage::save " + formatSeconds(median(tQtEncode)), formatFixed(replacedVsQt, 1) + "x faster",
                  ">= 6x faster", replacedVsQt >= 6});

  // 7. Peak memory of the load in a fresh process, against the raw pixel bytes.
  std::vector<double> growth;
  for (int i = 0; i < 3; ++i)
    if (auto g = peakLoadGrowth(project)) growth.push_back(*g);
  if (growth.empty()) {
    rows.push_back({label + ": load peak memory", "could not be measured", "-", "-", "<= 1.50", false, false});
  } else {
    const double g = median(growth);
    // The kept PNG data is part of the figure; pictures loaded from PNG decode their pixels only when
    // used, so what is left beyond the data is the decoding in flight and the overhead.
    rows.push_back({label + ": load peak memory",
                    formatFixed(g / 1e6, 1) + " MB (PNG kept " + formatFixed(pngBytes / 1e6, 1) + ", other " +
                        formatFixed((g - pngBytes) / 1e6, 1) + ")",
                    "raw pixels " + formatFixed(rawBytes / 1e6, 1) + " MB", formatFixed(g / rawBytes, 2), "<= 1.50",
                    g / rawBytes <= 1.5});
  }
}

// ---- 4. A composition pass through the canvas widget vs a bare QPainter loop --------------------

void benchComposition(int rounds, std::vector<Row>& rows) {
  constexpr int kWidth = 800, kHeight = 600, kLayers = 100, kPasses = 10;
  CharacterList list = layeredCharacter(kLayers, 256, kWidth, kHeight);
  EditorState state;
  state.selectedCharacterRow = 0;
  SilentTimers timers;
  CanvasWidget canvas(list, state, timers);
  canvas.resize(kWidth, kHeight);
  const std::vector<DrawCall> calls = canvas.view().composition();
  if (calls.size() != static_cast<size_t>(kLayers)) throw std::runtime_error("the composition lost layers");
  const QBrush background = canvas.palette().window();

  QImage target(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  auto bare = [&] {
    QPainter painter(&target);
    painter.fillRect(QRect(0, 0, kWidth, kHeight), background);
    for (const DrawCall& c : calls)
      painter.drawImage(QRectF(c.x, c.y, c.image->width(), c.image->height()), c.image->impl().premultiplied());
  };
  // The canvas's own paint: its scroll bars are widgets of their own, repainted only when they change.
  auto real = [&] { canvas.render(&target, QPoint(), QRegion(), QWidget::DrawWindowBackground); };

  // Warm up (the premultiplied copies are made on first use) and check both draw the same picture.
  bare();
  const QImage expected = target.copy();
  target.fill(0);
  real();
  if (target != expected) std::printf("note: the canvas widget's picture differs from the bare loop's\n");

  std::vector<double> tBare, tReal, ratio;
  for (int round = 0; round < rounds * 2; ++round) {
    double b = timeSeconds([&] {
      for (int i = 0; i < kPasses; ++i) bare();
    }) / kPasses;
    double r = timeSeconds([&] {
      for (int i = 0; i < kPasses; ++i) real();
    }) / kPasses;
    tBare.push_back(b);
    tReal.push_back(r);
    ratio.push_back(r / b);
  }
  const double q = median(ratio);
  rows.push_back({"composition pass, 100 layers", formatSeconds(median(tReal)),
                  "bare QPainter " + formatSeconds(median(tBare)), formatFixed(q, 2), "<= 1.20", q <= 1.2});
}

// ---- 9. The canvas view: a drag frame with big layers, and a frame at 400% ----------------------

void benchCanvasView(int rounds, std::vector<Row>& rows) {
  constexpr int kWidth = 1600, kHeight = 1000, kLayers = 30, kSize = 2048, kFrames = 10;
  std::printf("\n== canvas view: %d layers of %d^2 on %dx%d ==\n", kLayers, kSize, kWidth, kHeight);
  std::fflush(stdout);
  CharacterList list = layeredCharacter(kLayers, kSize, kWidth, kHeight);
  EditorState state;
  state.selectedCharacterRow = 0;
  state.moveLayer = true;
  state.selectedLayerRow = kLayers / 2;  // a middle layer
  SilentTimers timers;
  CanvasWidget dragging(list, state, timers), still(list, state, timers);
  for (CanvasWidget* c : {&dragging, &still}) c->resize(kWidth, kHeight);
  QImage target(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  auto frame = [&](CanvasWidget& c) { c.render(&target, QPoint(), QRegion(), QWidget::DrawWindowBackground); };
  frame(still);  // makes the premultiplied copies

  auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButtons held) {
    QMouseEvent e(type, at, at, Qt::LeftButton, held, Qt::NoModifier);
    QCoreApplication::sendEvent(&dragging, &e);
  };
  Layer& moved = list.characters[0].layers[kLayers / 2];
  const QImage& movedPixels = moved.image->impl().premultiplied();
  send(QEvent::MouseButtonPress, {800, 500}, Qt::LeftButton);
  int step = 0;
  auto dragStep = [&] {
    ++step;
    send(QEvent::MouseMove, QPointF(800 + step % 40 - 20, 500 + step % 30 - 15), Qt::LeftButton);
  };
  dragStep();
  frame(dragging);  // keeps the layers below and above

  std::vector<double> tOne, tDrag, rDrag, t100, t400, rZoom;
  for (int round = 0; round < rounds * 2; ++round) {
    // One layer of the same size drawn where the dragged one is, on the same canvas.
    const double one = timeSeconds([&] {
      for (int i = 0; i < kFrames; ++i) {
        QPainter painter(&target);
        painter.drawImage(QRectF(moved.x + i % 3, moved.y, kSize, kSize), movedPixels);
      }
    }) / kFrames;
    const double drag = timeSeconds([&] {
      for (int i = 0; i < kFrames; ++i) {
        dragStep();
        frame(dragging);
      }
    }) / kFrames;
    tOne.push_back(one);
    tDrag.push_back(drag);
    rDrag.push_back(drag / one);

    still.setZoom(1);
    still.scrollTo(0, 0);
    const double at100 = timeSeconds([&] {
      for (int i = 0; i < kFrames / 2; ++i) frame(still);
    }) / (kFrames / 2);
    still.setZoom(4);
    still.scrollTo(3 * kWidth / 2, 3 * kHeight / 2);  // the middle of the drawing
    const double at400 = timeSeconds([&] {
      for (int i = 0; i < kFrames / 2; ++i) frame(still);
    }) / (kFrames / 2);
    t100.push_back(at100);
    t400.push_back(at400);
    rZoom.push_back(at400 / at100);
  }
  send(QEvent::MouseButtonRelease, {800, 500}, Qt::NoButton);
  const int buffers = dragging.cachedBuffers();

  // The kept layers against a fresh composition of the moved drawing: only overlapping translucent
  // pixels above the dragged layer may round differently.
  still.setZoom(1);
  still.scrollTo(0, 0);
  frame(dragging);
  const QImage kept = target.copy();
  frame(still);
  int differing = 0, largest = 0;
  for (int y = 0; y < kHeight; ++y) {
    const QRgb* a = reinterpret_cast<const QRgb*>(kept.constScanLine(y));
    const QRgb* b = reinterpret_cast<const QRgb*>(target.constScanLine(y));
    for (int x = 0; x < kWidth; ++x) {
      if (a[x] == b[x]) continue;
      ++differing;
      for (int shift : {0, 8, 16, 24})
        largest = std::max(largest, std::abs(int((a[x] >> shift) & 0xff) - int((b[x] >> shift) & 0xff)));
    }
  }
  std::printf("kept layers vs fresh composition: %d of %d pixels differ, by at most %d\n", differing,
              kWidth * kHeight, largest);

  const double q = median(rDrag), z = median(rZoom);
  rows.push_back({"drag frame, 30 layers of 2048^2", formatSeconds(median(tDrag)) + " (" + std::to_string(buffers) +
                                                          " buffers kept)",
                  "one layer drawn " + formatSeconds(median(tOne)), formatFixed(q, 2), "<= 4.00, <= 3 buffers",
                  q <= 4.0 && buffers <= 3});
  rows.push_back({"zoom 400% frame, 30 layers of 2048^2", formatSeconds(median(t400)),
                  "frame at 100% " + formatSeconds(median(t100)), formatFixed(z, 2), "<= 1.50", z <= 1.5});
}

// ---- 6. One sync tick with 1000 characters of 10 layers, selection at the end -------------------

void benchTick(int rounds, std::vector<Row>& rows) {
  constexpr int kCharacters = 1000, kLayers = 10, kTicks = 20000;
  TempDir dir("charstack-bench-tick");
  {
    CharacterList list;
    for (int k = 0; k < kCharacters; ++k) {
      Character c;
      c.name = "hero";
      c.value = 100 + k % 50;
      for (int m = 0; m < kLayers; ++m) {
        Layer l;
        l.name = "part";
        l.value = 150 + m;
        l.visible = 1;
        c.layers.push_back(std::move(l));
      }
      list.characters.push_back(std::move(c));
    }
    if (!ProjectFolder(dir.path()).writeFileAtomically(kDataFileName, buildDataText(list)).ok())
      throw std::runtime_error("cannot write the tick project");
  }
  CharacterList list;
  EditorState state;
  SilentTimers timers;
  InitLayer controller(list, state, ProjectFolder(dir.path()), timers);
  if (list.size() != kCharacters) throw std::runtime_error("the tick project does not load");
  FixedTable characters(kCharacters - 1), layers(kLayers - 1);
  controller.TV1 = &characters;
  controller.TV2 = &layers;
  controller.TV1sgl();
  controller.TV2sgl();
  // The selected rows show pictures, as they would after a drop.
  ImageRef picture = makeImage(16, 16, syntheticPixels(16, 16, 7));
  controller.IV1.setImage(picture);
  controller.IV2.setImage(picture);
  // The first tick after a change of character leaves the layer alone; the second copies it.
  controller.EventLoop();
  controller.EventLoop();
  if (list.characters.back().image != picture || list.characters.back().layers.back().image != picture)
    throw std::runtime_error("the tick does not reach the selected rows");

  std::vector<double> perTick;
  uint64_t allocations = 0;
  for (int round = 0; round < rounds * 2; ++round) {
    const uint64_t before = allocationCount();
    double t = timeSeconds([&] {
      for (int i = 0; i < kTicks; ++i) {
        controller.EventLoop();
        benchmark::ClobberMemory();
      }
    });
    allocations += allocationCount() - before;
    perTick.push_back(t / kTicks);
  }
  const double t = median(perTick);
  rows.push_back({"sync tick, 1000x10, last row", formatSeconds(t), "-", "-", "< 20 us", t < 20e-6});
  const double perTickAllocations =
      static_cast<double>(allocations) / (static_cast<double>(kTicks) * rounds * 2);
  rows.push_back({"sync tick allocations", formatFixed(perTickAllocations, 3) + " per tick", "-", "-", "0",
                  allocations == 0});
}

// ---- 7 and 9. Saves of big projects against writing their data.txt alone --------------------------

// A project of `characters` characters of `layers` layers each, with 16x16 pictures when asked.
CharacterList bigProject(int characters, int layers, bool pictures) {
  CharacterList list;
  auto picture = [&](int seed) { return pictures ? makeImage(16, 16, syntheticPixels(16, 16, static_cast<uint32_t>(seed))) : nullptr; };
  for (int k = 0; k < characters; ++k) {
    Character c;
    c.name = "hero" + std::to_string(k) + "-";
    c.value = 100 + k % 50;
    c.x = k, c.y = -k;
    c.image = picture(k);
    for (int m = 0; m < layers; ++m) {
      Layer l;
      l.name = "part" + std::to_string(m) + "-";
      l.value = 150 + m;
      l.visible = m % 2;
      l.image = picture(k * layers + m);
      c.layers.push_back(std::move(l));
    }
    list.characters.push_back(std::move(c));
  }
  return list;
}

// Saves the project once, then times saves of it without changes beside writes of its data.txt alone.
void benchSaveAgainstDataText(const std::string& what, CharacterList list, int rounds, std::vector<Row>& rows) {
  TempDir dir("charstack-bench-save");
  const ProjectFolder folder(dir.path());
  EditorState state;
  if (!saveProject(list, state, folder).ok()) throw std::runtime_error("cannot save the project for " + what);
  std::vector<double> ratios, tSave, tText;
  for (int round = 0; round < rounds; ++round) {
    const double text = timeSeconds([&] {
      if (!folder.writeFileAtomically(kDataFileName, buildDataText(list)).ok())
        throw std::runtime_error("cannot write data.txt");
    });
    state.dataFileStamp = folder.stamp(kDataFileName);  // the baseline's write is the editor's own
    const double save = timeSeconds([&] {
      if (!saveProject(list, state, folder).ok()) throw std::runtime_error("the save failed: " + what);
    });
    tText.push_back(text);
    tSave.push_back(save);
    ratios.push_back(save / text);
  }
  const double q = median(ratios);
  rows.push_back({what, formatSeconds(median(tSave)), "data.txt alone " + formatSeconds(median(tText)),
                  formatFixed(q, 2), "<= 2.00", q <= 2.0});
}

// ---- 8. Undo and redo on 1000 characters of 10 layers ---------------------------------------------

void benchUndo(std::vector<Row>& rows) {
  constexpr int kCharacters = 1000, kLayers = 10, kSteps = 1000;
  TempDir dir("charstack-bench-undo");
  {
    CharacterList list;
    for (int k = 0; k < kCharacters; ++k) {
      Character c;
      c.name = "hero" + std::to_string(k) + "-";
      c.layers.resize(kLayers);
      for (int m = 0; m < kLayers; ++m) c.layers[static_cast<size_t>(m)].name = "part" + std::to_string(m) + "-";
      list.characters.push_back(std::move(c));
    }
    if (!ProjectFolder(dir.path()).writeFileAtomically(kDataFileName, buildDataText(list)).ok())
      throw std::runtime_error("cannot write the undo project");
  }
  CharacterList list;
  EditorState state;
  SilentTimers timers;
  InitLayer controller(list, state, ProjectFolder(dir.path()), timers);
  // Every record shows a picture of 256x256: taking a step back must not copy any of them.
  ImageRef picture = makeImage(256, 256, syntheticPixels(256, 256, 3));
  forEachRecord(list, [&](auto& r, int64_t, int64_t, int64_t) { r.image = picture; });
  std::vector<Edit> steps;
  controller.setEditListener([&](Edit e) { steps.push_back(std::move(e)); });

  const size_t heapBefore = ::mallinfo2().uordblks;
  for (int i = 0; steps.size() < kSteps; ++i) {
    FixedTable characters(i * 7 % kCharacters), layers(i % kLayers);
    controller.TV1 = &characters;
    controller.TV2 = &layers;
    controller.TV1sgl();
    controller.TV2sgl();
    switch (i % 4) {
      case 0: controller.editCell(Table::Layers, i % kLayers, Field::Name, "renamed" + std::to_string(i)); break;
      case 1: controller.nudge(3, 4); break;
      case 2: controller.setPicture(Table::Characters, nullptr); break;
      default: i % 8 == 3 ? controller.insert2() : controller.remove2(); break;
    }
    controller.EventLoop();
    controller.TV1 = controller.TV2 = nullptr;
  }
  const double heap = static_cast<double>(::mallinfo2().uordblks - std::min(heapBefore, ::mallinfo2().uordblks));

  std::vector<double> times;
  const uint64_t pictureUsers = static_cast<uint64_t>(picture.use_count());
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t i = steps.size(); i-- > 0;) times.push_back(timeSeconds([&] { controller.undo(steps[i]); }));
    for (size_t i = 0; i < steps.size(); ++i) times.push_back(timeSeconds([&] { controller.redo(steps[i]); }));
  }
  std::sort(times.begin(), times.end());
  const double p99 = times[times.size() * 99 / 100], typical = median(times);
  const bool shared = static_cast<uint64_t>(picture.use_count()) == pictureUsers;
  rows.push_back({"undo step, 1000x10", formatSeconds(typical) + " (99%: " + formatSeconds(p99) + ", slowest " +
                                            formatSeconds(times.back()) + ")",
                  "-", "-", "<= 1 ms, pictures shared", p99 <= 1e-3 && shared});
  rows.push_back({"undo history memory, 1000 steps", formatFixed(heap / 1e6, 2) + " MB", "-", "-", "<= 50 MB",
                  heap <= 50e6});
}

// ---- 5. Idle window, measured by charstack_idle_bench -------------------------------------------

void benchIdle(std::vector<Row>& rows) {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::filesystem::path idle = exe.parent_path() / "charstack_idle_bench";
  if (ec || !std::filesystem::exists(idle)) {
    rows.push_back({"idle window, 100 layers", "no charstack_idle_bench", "-", "-", "< 2% of a core", false, false});
    return;
  }
  std::printf("\n== idle window (10 s each) ==\n");
  std::fflush(stdout);
  FILE* pipe = ::popen(("\"" + idle.string() + "\" --table-line").c_str(), "r");
  char line[512] = {};
  std::string last;
  while (pipe && std::fgets(line, sizeof line, pipe)) {
    std::fputs(line, stdout);
    last = line;
  }
  int status = pipe ? ::pclose(pipe) : -1;
  double window = 0, bare = 0, paints = 0;
  if (status != 0 || std::sscanf(last.c_str(), "idle %lf %lf %lf", &window, &bare, &paints) != 3) {
    rows.push_back({"idle window, 100 layers", "failed", "-", "-", "< 2% of a core", false, false});
    return;
  }
  rows.push_back({"idle window, 100 layers", formatFixed(window, 2) + "% (" + formatFixed(paints, 0) + " paints/s)",
                  "bare window " + formatFixed(bare, 2) + "%", "-", "< 2% of a core", window < 2.0});
}

Options parseOptions(int argc, char** argv) {
  Options o;
  const char* quick = std::getenv("CHARSTACK_BENCH_QUICK");
  if (quick && *quick && std::strcmp(quick, "0") != 0) o.big = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--quick") o.big = false;
    else if (a == "--no-idle") o.idle = false;
    else if (a == "--records" && i + 1 < argc) o.records = std::max(1, std::atoi(argv[++i]));
    else if (a == "--rounds" && i + 1 < argc) o.rounds = std::max(1, std::atoi(argv[++i]));
    else if (a == "--only" && i + 1 < argc) o.only = argv[++i];
    else throw std::runtime_error("unknown option " + a);
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--peak-load") == 0) return peakLoadChild(argv[2]);
  try {
    Options options = parseOptions(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::vector<Row> rows;
    auto run = [&](const char* name) { return options.only.empty() || std::string(name).find(options.only) != std::string::npos; };
    if (run("project")) {
      benchProject(std::to_string(options.records) + " x 256^2", options.records, 10, 256, options.rounds, rows);
      if (options.big) benchProject("50 x 1024^2", 50, 10, 1024, std::max(1, options.rounds - 2), rows);
    }
    if (run("composition")) benchComposition(options.rounds, rows);
    if (run("canvas view")) benchCanvasView(options.rounds, rows);
    if (run("tick")) benchTick(options.rounds, rows);
    if (run("many"))
      benchSaveAgainstDataText("save 100k records without pictures", bigProject(10000, 9, false), options.rounds, rows);
    if (run("undo")) benchUndo(rows);
    if (run("unchanged"))
      benchSaveAgainstDataText("unchanged save, 1000x10", bigProject(1000, 10, true), options.rounds, rows);
    benchView(options.rounds, run, rows);
    if (options.idle && run("idle")) benchIdle(rows);
    printTable(rows);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "charstack_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}

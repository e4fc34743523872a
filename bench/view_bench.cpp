// A table of 10,000 rows with thumbnails against the same table with text only, and moving 33,000
// files to the trash against renaming them into a sibling folder.
#include "view_bench.hpp"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QScrollBar>
#include <QTableView>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "project/trash.hpp"
#include "ui/clean_up_dialog.hpp"
#include "ui/thumbnails.hpp"

namespace charstack::bench {

namespace {

// Rows as the layers table shows them: a name, a depth and the visible flag.
class LayerRows : public QAbstractTableModel {
 public:
  explicit LayerRows(int rows) : rows_(rows) {}
  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : rows_;
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : 3;
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role == Qt::DisplayRole && index.column() == 0) return QStringLiteral("part %1").arg(index.row());
    if (role == Qt::DisplayRole && index.column() == 1) return 150 + index.row() % 50;
    if (role == Qt::CheckStateRole && index.column() == 2)
      return index.row() % 3 ? Qt::Checked : Qt::Unchecked;
    return {};
  }
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    return QAbstractTableModel::flags(index) |
           (index.column() == 2 ? Qt::ItemIsUserCheckable : Qt::NoItemFlags);
  }

 private:
  int rows_;
};

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

// ---- A frame of a table of 10,000 rows with thumbnails -----------------------------------------

void benchTable(int rounds, std::vector<Row>& rows) {
  constexpr int kRows = 10000, kSize = 64, kPages = 40;
  std::printf("\n== table: %d rows of %dx%d pictures ==\n", kRows, kSize, kSize);
  std::fflush(stdout);
  // Pictures as a loaded project holds them: PNG data, decoded when first drawn.
  std::vector<ImageRef> pictures;
  pictures.reserve(kRows);
  for (int i = 0; i < kRows; ++i) {
    const std::optional<std::string> png =
        encodePng(*makeImage(kSize, kSize, syntheticPixels(kSize, kSize, uint32_t(i))));
    if (!png) throw std::runtime_error("cannot make the table's pictures");
    pictures.push_back(decodeImage(*png).image);
  }
  LayerRows model(kRows);
  QTableView plain, thumbnails;
  installThumbnails(
      thumbnails, [&](const QModelIndex& index) { return pictures[static_cast<size_t>(index.row())]; },
      [&](const QModelIndex& index) {
        return model.index(index.row(), 2).data(Qt::CheckStateRole) != Qt::Checked;
      },
      {0, 2});
  for (QTableView* table : {&plain, &thumbnails}) {
    table->setModel(&model);
    table->verticalHeader()->setDefaultSectionSize(thumbnails.verticalHeader()->defaultSectionSize());
    table->resize(320, 720);
    table->show();
  }
  QApplication::processEvents();
  QImage target(thumbnails.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
  // Scrolls to a page and paints the table's rows.
  auto frame = [&](QTableView& table, int page) {
    table.verticalScrollBar()->setValue(page * table.verticalScrollBar()->pageStep());
    table.viewport()->render(&target);
  };
  const int pages = kRows / std::max(1, thumbnails.verticalScrollBar()->pageStep());
  std::vector<double> tPlain, tThumbnails;
  for (int round = 0; round < rounds; ++round) {
    // Every round scrolls through rows not seen yet: their thumbnails are made in the frame.
    const int first = (round * kPages) % std::max(1, pages - kPages);
    for (int page = first; page < first + kPages; ++page) {
      tPlain.push_back(timeSeconds([&] { frame(plain, page); }));
      tThumbnails.push_back(timeSeconds([&] { frame(thumbnails, page); }));
    }
  }
  const double typical = median(tThumbnails), worst = percentile(tThumbnails, 0.95);
  rows.push_back({"table frame, 10,000 rows with thumbnails",
                  formatSeconds(typical) + " (95%: " + formatSeconds(worst) + ")",
                  "text only " + formatSeconds(median(tPlain)), formatFixed(typical / median(tPlain), 2),
                  "<= 16 ms (95%)", worst <= 0.016});
}

// ---- Cleaning up 33,000 files ------------------------------------------------------------------

void benchCleanUp(int rounds, std::vector<Row>& rows) {
  constexpr int kFiles = 33000;
  std::printf("\n== clean up: %d files ==\n", kFiles);
  std::fflush(stdout);
  TempDir dir("charstack-bench-trash");
  const std::filesystem::path img = dir / "project/img", data = dir / "data";
  for (const auto& folder : {img, data}) std::filesystem::create_directories(folder);
  // The trash of this run, on the same file system: the user's own stays untouched.
  const char* home = std::getenv("XDG_DATA_HOME");
  const std::optional<std::string> previousHome = home ? std::optional<std::string>(home) : std::nullopt;
  setenv("XDG_DATA_HOME", data.c_str(), 1);

  std::vector<std::string> names, paths;
  const ProjectFolder project(dir / "project");
  auto made = std::chrono::steady_clock::now();
  for (int i = 0; i < kFiles; ++i) {
    names.push_back("part" + std::to_string(i));
    paths.push_back("img/" + names.back());
    if (!project.writeNewFile(paths.back(), "unused picture").ok())
      throw std::runtime_error("cannot write " + paths.back());
  }
  std::printf("made in %s\n", formatSeconds(secondsSince(made)).c_str());
  auto moveAll = [&](const std::filesystem::path& from, const std::filesystem::path& to) {
    for (const std::string& name : names)
      if (::rename((from / name).c_str(), (to / name).c_str()) != 0)
        throw std::runtime_error("cannot rename " + name);
  };

  std::vector<double> tRename, tTrash, ratios;
  for (int round = 0; round < rounds; ++round) {
    // A new sibling folder each round, as the trash takes the files into a new folder each time.
    const std::filesystem::path aside = dir / ("aside" + std::to_string(round));
    std::filesystem::create_directories(aside);
    const double renamed = timeSeconds([&] { moveAll(img, aside); });
    moveAll(aside, img);
    TrashReport report;
    const double trashed =
        timeSeconds([&] { report = trashFiles(project, paths, {}, std::atomic<bool>{false}); });
    if (report.moved.size() != names.size()) throw std::runtime_error("files stayed out of the trash");
    // Back from the trash for the next round.
    moveAll(data / "Trash/files" / report.bundle / "img", img);
    std::filesystem::remove_all(data / "Trash");
    tRename.push_back(renamed);
    tTrash.push_back(trashed);
    ratios.push_back(trashed / renamed);
    std::printf("round %d: rename %s trash %s\n", round + 1, formatSeconds(renamed).c_str(),
                formatSeconds(trashed).c_str());
    std::fflush(stdout);
  }
  previousHome ? setenv("XDG_DATA_HOME", previousHome->c_str(), 1) : unsetenv("XDG_DATA_HOME");
  const double q = median(ratios);
  rows.push_back({"clean up 33,000 files", formatSeconds(median(tTrash)),
                  "rename(2) " + formatSeconds(median(tRename)), formatFixed(q, 2), "<= 10.00", q <= 10});

  // The dialog with as many rows: opening it, Check All and reading the choice.
  std::vector<UnusedImageFile> files;
  const ImageRef picture = makeImage(64, 64, syntheticPixels(64, 64, 1));
  for (const std::string& name : names) files.push_back({name, picture, {}});
  std::vector<double> tDialog;
  for (int round = 0; round < rounds; ++round) {
    size_t chosen = 0;
    tDialog.push_back(timeSeconds([&] {
      CleanUpDialog dialog(files);
      dialog.show();
      QImage frame(dialog.size(), QImage::Format_ARGB32_Premultiplied);
      dialog.render(&frame);
      dialog.checkAll();
      dialog.render(&frame);
      chosen = dialog.chosen().size();
    }));
    if (chosen != files.size()) throw std::runtime_error("Check All missed files");
  }
  const double t = median(tDialog);
  rows.push_back(
      {"clean up dialog, 33,000 rows: open, Check All", formatSeconds(t), "-", "-", "<= 100 ms", t <= 0.1});
}

}  // namespace

void benchView(int rounds, const std::function<bool(const char*)>& run, std::vector<Row>& rows) {
  if (run("table")) benchTable(rounds, rows);
  if (run("clean up")) benchCleanUp(std::max(1, rounds - 2), rows);
}

}  // namespace charstack::bench

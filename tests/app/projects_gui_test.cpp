// The window's project and export commands: pictures as the canvas shows them, another folder in the
// same window, image files dropped on the layers table.
#include <gtest/gtest.h>

#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

#include "app/main_window.hpp"
#include "support/fakes.hpp"
#include "ui/canvas_widget.hpp"
#include "ui/mirror_table.hpp"

namespace charstack {
namespace {

using testing::TempFolder;

struct Answers {
  testing::FakeQuestions questions;
};
struct TestWindow : Answers, MainWindow {
  TestWindow(CharacterList& list, EditorState& state, const std::filesystem::path& folder)
      : MainWindow(list, state, folder, &questions) {}
  CanvasWidget* canvas() { return findChild<CanvasWidget*>(); }
};

struct Projects : ::testing::Test {
  std::unique_ptr<TestWindow> open(const TempFolder& dir) {
    auto w = std::make_unique<TestWindow>(list, state, dir.path());
    w->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    return w;
  }
  static void clickRow(MirrorTableView* table, int row) {
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualRect(table->model()->index(row, 0)).center());
  }
  QString file(const TempFolder& dir, const char* name) {
    return QString::fromStdString((dir.path() / name).string());
  }
  TempFolder a, b, out;
  CharacterList list;
  EditorState state;
};

// An exported picture laid over the window background at its place is what the canvas shows.
TEST_F(Projects, ExportedPicturesAreWhatTheCanvasShowsAt100Percent) {
  const auto sample =
      std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "examples/sample";
  std::filesystem::copy(sample, a.path(), std::filesystem::copy_options::recursive);
  auto w = open(a);
  w->resize(1100, 680);  // room for the sample's characters without scroll bars, on any screen
  for (int row = 0; row < list.size(); ++row) {
    clickRow(w->findChild<MirrorTableView*>("characters"), row);
    QTest::qWait(40);
    w->questions.exportFile = out.path() / "picture.png";
    ASSERT_TRUE(w->session().exportPicture().status.startsWith("Exported"));
    const QImage picture(file(out, "picture.png"));
    const CharacterPicture placed = characterPicture(list.characters[static_cast<size_t>(row)]);
    ASSERT_EQ(picture.format(), QImage::Format_ARGB32);  // straight 8-bit RGBA

    const QImage shown = w->canvas()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage expected(shown.size(), QImage::Format_RGB32);
    expected.fill(w->canvas()->palette().window().color());
    const Viewport& view = w->canvas()->viewport();
    QPainter(&expected).drawImage(QPointF(placed.left - view.scrollX, placed.top - view.scrollY), picture);
    int worst = 0, differing = 0;
    for (int y = 0; y < shown.height(); ++y)
      for (int x = 0; x < shown.width(); ++x) {
        const QRgb s = shown.pixel(x, y), e = expected.pixel(x, y);
        const int d = std::max(
            {std::abs(qRed(s) - qRed(e)), std::abs(qGreen(s) - qGreen(e)), std::abs(qBlue(s) - qBlue(e))});
        worst = std::max(worst, d);
        differing += d > 0;
      }
    // Composed over transparency and kept straight, a pixel where soft edges meet may round a step
    // or two away from the one composed over the background; anything more is a real difference.
    EXPECT_LE(worst, 2) << "character row " << row;
    EXPECT_LT(differing * 100, picture.width() * picture.height()) << "character row " << row;
  }
}

TEST_F(Projects, AnotherFolderOpensInTheSameWindowFromAFreshStart) {
  a.write("data.txt", "one,100, 0, 0\n####\n$$$$\ntwo,100, 0, 0\n####\nleg,100,1, 0, 0\n$$$$\n");
  b.write("data.txt", "alpha,100, 0, 0\n####\nx,100,1, 0, 0\ny,100,1, 0, 0\n$$$$\n");
  b.write("img/alpha1", "not a picture");
  auto w = open(a);
  const auto files = testing::filesOf(a);
  clickRow(w->findChild<MirrorTableView*>("characters"), 1);
  w->controller().insertLayer();

  EXPECT_FALSE(w->openProject(b.path()));  // the user cancels at the unsaved changes
  EXPECT_EQ(w->findChild<MirrorTableView*>("characters")->model()->rowCount(), 2);
  w->questions.unsaved = UserQuestions::Unsaved::Discard;
  ASSERT_TRUE(w->openProject(b.path()));
  EXPECT_EQ(testing::filesOf(a), files);
  EXPECT_EQ(w->findChild<MirrorTableView*>("characters")->model()->rowCount(), 1);
  EXPECT_EQ(w->findChild<MirrorTableView*>("layers")->model()->rowCount(), 2);
  EXPECT_EQ(w->findChild<MirrorTableView*>("characters")->highlightedRow(), 0);
  EXPECT_EQ(state.selectedCharacterRow, 0);
  EXPECT_FALSE(state.moveCharacter || state.moveLayer);
  EXPECT_TRUE(w->windowTitle().contains(QString::fromStdString(b.path().filename().string())));
  // The pictures are read on another thread once the window shows the project.
  for (int i = 0; i < 200 && !w->statusBar()->currentMessage().contains("img/alpha1"); ++i) QTest::qWait(10);
  EXPECT_TRUE(w->statusBar()->currentMessage().contains("img/alpha1"));

  // Files chosen for Add Layers from Files… (as files dropped on the layers table) become visible
  // layers after the selected row, selected, in one step; a text file is refused.
  b.write("drop/red.png", testing::testPng(5, 3, 1));
  b.write("drop/two.dots.png", testing::testPng(2, 2, 2));
  b.write("drop/notes.txt", "hello");
  clickRow(w->findChild<MirrorTableView*>("layers"), 1);
  w->questions.pictureFiles = {b.path() / "drop/red.png", b.path() / "drop/notes.txt", b.path() / "drop/two.dots.png"};
  const int steps = w->controller().document().history().count();
  for (QAction* a : w->findChildren<QAction*>())
    if (a->text() == MainWindow::tr("Add &Layers from Files…")) a->trigger();
  EXPECT_EQ(w->controller().document().history().count(), steps + 1);
  const std::vector<Layer>& layers = list.characters[0].layers;
  ASSERT_EQ(layers.size(), 4u);
  EXPECT_EQ(layers[1].name + layers[2].name + layers[3].name, "yredtwo.dots");
  EXPECT_TRUE(layers[2].image->pixelWidth() == 5 && layers[2].visible && layers[3].visible);
  EXPECT_EQ(w->controller().selection().selectedLayers(), (std::vector<int64_t>{2, 3}));
  EXPECT_EQ(w->findChild<MirrorTableView*>("layers")->model()->rowCount(), 4);
  EXPECT_TRUE(w->statusBar()->currentMessage().contains("notes.txt"));

  ASSERT_TRUE(w->openProject(out.path()));  // no data.txt: an empty project
  EXPECT_EQ(w->findChild<MirrorTableView*>("characters")->model()->rowCount() + w->findChild<MirrorTableView*>("layers")->model()->rowCount(), 0);
}

// Save As… writes what the tables show, unsaved edits included, into the chosen folder and goes on
// there; the folder it came from keeps what was last saved.
TEST_F(Projects, SaveAsCopiesTheProjectWithItsUnsavedEditsAndOpensTheCopy) {
  a.write("data.txt", "one,100, 0, 0\n####\nleg,100,1, 0, 0\n$$$$\n");
  a.write("img/one1", testing::testPng(3, 3, 1));
  a.write("img/leg2", testing::testPng(2, 2, 2));
  auto w = open(a);
  const auto before = testing::filesOf(a);
  clickRow(w->findChild<MirrorTableView*>("characters"), 0);
  w->controller().insertLayer();
  ASSERT_EQ(w->controller().editCell(Table::Layers, 0, Field::Name, "arm"), std::nullopt);
  const CharacterList shown = list;
  w->questions.folder = out.path() / "copy";
  for (QAction* action : w->findChildren<QAction*>())
    if (action->text() == MainWindow::tr("Save &As…")) action->trigger();
  EXPECT_EQ(testing::filesOf(a), before);
  const LoadResult copy = loadProject(ProjectFolder(out.path() / "copy"));
  EXPECT_TRUE(copy.problems.empty());
  testing::expectSameModel(shown, copy.list);
  EXPECT_EQ(w->controller().store().folder().path(), out.path() / "copy");
  EXPECT_FALSE(w->controller().store().hasUnsavedChanges());
  EXPECT_EQ(list.characters[0].layers.size(), 2u);
}

}  // namespace
}  // namespace charstack

// The window's project and export commands: pictures as the canvas shows them, another folder in the
// same window, image files dropped on the layers table.
#include <gtest/gtest.h>

#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <fstream>
#include <set>

#include "app/main_window.hpp"
#include "controller/recovery.hpp"
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
  TestWindow(CharacterList& list, EditorState& state, const std::filesystem::path& folder,
             UserQuestions::Recovered recovered = UserQuestions::Recovered::Restore)
      : MainWindow(list, state, folder, &questions) {
    questions.recovered = recovered;  // asked once the window stands
  }
  CanvasWidget* canvas() { return findChild<CanvasWidget*>(); }
};

struct Projects : ::testing::Test {
  std::unique_ptr<TestWindow> open(const TempFolder& dir, UserQuestions::Recovered recovered = UserQuestions::Recovered::Restore) {
    auto w = std::make_unique<TestWindow>(list, state, dir.path(), recovered);
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

// Unsaved work outlives the editor: kept a moment after the edits, offered at the next open and
// restored with its history, or kept aside (never lost) when the project changed on disk since or the
// recovery is damaged; a save or a discard (Close Project too) removes it.
TEST_F(Projects, UnsavedWorkIsRestoredAfterACrashOrKeptAsideWhenItNoLongerFits) {
  using R = UserQuestions::Recovered;
  struct Case {
    const char* name;
    std::function<void(const TempFolder& dir, const std::filesystem::path& state)> meanwhile;
    R answer;
    const char* mismatch;  // what the offer says, empty: it can be restored; none: nothing is offered
    const char* after;     // the recovery afterwards: "kept" where it was, "aside", "gone"
    bool closed = false;   // File > Close Project, Discard, and no other project: not killed
  };
  auto nothing = [](const TempFolder&, const std::filesystem::path&) {};
  const Case cases[] = {
      {"restored", nothing, R::Restore, "", "kept"},
      {"data.txt rewritten", [](const TempFolder& dir, auto&) { dir.write("data.txt", "Hero,100, 0, 0\n####\n$$$$\n"); },
       R::Restore, "data.txt changed", "aside"},
      {"a picture rewritten", [](const TempFolder& dir, auto&) { dir.write("img/Hero1", testing::testPng(4, 4, 7)); },
       R::Restore, "img/Hero1 changed", "aside"},
      {"damaged", [](const TempFolder&, const std::filesystem::path& state) {
         std::fstream file(state, std::ios::in | std::ios::out | std::ios::binary);
         file.seekg(40);
         const char c = char(file.get() ^ 1);
         file.seekp(40), file.put(c);
       }, R::Discard, "damaged", "gone"},
      {"discarded", nothing, R::Discard, "", "gone"},
      {"kept aside", nothing, R::KeepAside, "", "aside"},
      {"closed and discarded", nothing, R::Restore, nullptr, "gone", true},
  };
  const std::string stateHome = std::getenv("XDG_STATE_HOME");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder dir, states;
    setenv("XDG_STATE_HOME", states.path().c_str(), 1);
    dir.write("data.txt", "Hero,100, 0, 0\n####\n$$$$\n");
    dir.write("img/Hero1", testing::testPng(4, 4, 1));
    const std::filesystem::path recovery = recoveryFolderOf(dir.path()), state = recovery / "state";
    {
      auto w = open(dir);
      ASSERT_TRUE(w->controller().editCell(Table::Characters, 0, Field::Name, "Held") == std::nullopt);
      w->controller().insertCharacter();
      w->controller().setPicture(Table::Characters, testing::testImage(5, 3, 9));
      if (c.answer == R::Restore) QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(state), 3 * Autosave::kDelayMs);
      w->session().autosave().writeNow();
      w->session().autosave().wait();
      if (c.closed) {
        w->questions.unsaved = UserQuestions::Unsaved::Discard;
        w->closeProject();
        EXPECT_FALSE(w->isVisible());
        w->session().autosave().wait();
      }
    }  // else killed: the window goes without being closed
    c.meanwhile(dir, state);
    auto w = open(dir, c.answer);
    QTRY_VERIFY(w->questions.offered.has_value() || !c.mismatch);
    EXPECT_EQ(w->questions.offered.has_value(), c.mismatch != nullptr);
    if (c.mismatch) {
      EXPECT_TRUE(w->questions.offered->mismatch.contains(c.mismatch)) << w->questions.offered->mismatch.toStdString();
    }
    const bool restored = c.mismatch && !*c.mismatch && c.answer == R::Restore;
    ASSERT_EQ(w->controller().document().history().count(), restored ? 3 : 0);
    ASSERT_EQ(list.size(), restored ? 2 : 1);
    const size_t added = restored && list.characters[0].name == "Held" ? 1 : 0;
    EXPECT_EQ(list.characters[restored ? 1 - added : 0].name, restored ? "Held" : "Hero");
    EXPECT_EQ(w->isWindowModified(), restored);
    std::error_code ec;
    const auto siblings = std::distance(std::filesystem::directory_iterator(recovery.parent_path(), ec), {});
    EXPECT_EQ(std::filesystem::exists(state), std::string(c.after) == "kept");
    EXPECT_EQ(siblings, std::string(c.after) == "gone" ? 0 : 1);
    if (!restored) continue;
    EXPECT_TRUE(list.characters[added].image->samePixels(*testing::testImage(5, 3, 9)));
    // Written again, the restored pictures keep the files they were read from.
    auto files = [&] {
      std::set<std::string> names;
      for (const auto& file : std::filesystem::directory_iterator(recovery)) names.insert(file.path().filename());
      return names;
    };
    const std::set<std::string> read = files();
    w->session().autosave().writeNow();
    w->session().autosave().wait();
    EXPECT_EQ(files(), read);
    w->controller().document().history().undo();
    EXPECT_FALSE(list.characters[added].image);
    w->controller().document().history().redo();
    EXPECT_TRUE(w->session().save().status.startsWith("Saved"));
    w->session().autosave().wait();
    EXPECT_FALSE(std::filesystem::exists(recovery));
  }
  setenv("XDG_STATE_HOME", stateHome.c_str(), 1);
}

}  // namespace
}  // namespace charstack

// The editor window driven the way a user drives it, for what only the window shows: clicks, cell
// edits, pictures dropped and seen on the canvas, dragging, saving, reopening and closing.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include "app/main_window.hpp"
#include "support/fakes.hpp"
#include "ui/canvas_widget.hpp"
#include "ui/image_well_widget.hpp"
#include "ui/mirror_table.hpp"

namespace charstack {
namespace {

void settle() { QTest::qWait(40); }  // lets the 10 ms sync and redraw timers run a few times

// A window whose questions answer themselves, with its widgets found as a user finds them.
struct Answers {
  testing::FakeQuestions questions;
};
struct TestWindow : Answers, MainWindow {
  TestWindow(CharacterList& list, EditorState& state, const std::filesystem::path& folder)
      : MainWindow(list, state, folder, &questions) {}
  MirrorTableView* table(int i) { return findChild<MirrorTableView*>(i == 0 ? "characters" : "layers"); }
  QAbstractItemModel* model(int i) { return table(i)->model(); }
  QString cell(int table, int row, int column) { return model(table)->index(row, column).data().toString(); }
  int highlighted(int i) {
    const QModelIndexList rows = table(i)->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
  }
  void click(int i, int row) {  // row -1: below the last row
    const QRect cell = table(i)->visualRect(model(i)->index(row < 0 ? model(i)->rowCount() - 1 : row, 0));
    QTest::mouseClick(table(i)->viewport(), Qt::LeftButton, {}, row < 0 ? QPoint(20, cell.bottom() + 30) : cell.center());
  }
  QLineEdit* edit(int i, int row, int column) {  // opens the cell editor, as a user starts typing
    table(i)->setFocus();
    table(i)->edit(model(i)->index(row, column));
    return qobject_cast<QLineEdit*>(QApplication::focusWidget());
  }
  void press(const QString& button) {
    for (QPushButton* b : findChildren<QPushButton*>())
      if (b->text() == button) QTest::mouseClick(b, Qt::LeftButton);
  }
  CanvasWidget* canvas() { return findChild<CanvasWidget*>(); }
  QMenu* editMenu() { return findChild<QMenu*>("editMenu"); }
  QRgb pixel(int x, int y) { return canvas()->grab().toImage().pixel(x, y); }
  QString status() { return statusBar()->currentMessage(); }
};

using Selection = std::pair<int64_t, int>;  // the selected row and the highlighted one

std::string solidPng(uint32_t argb) { return *encodePng(*makeImage(20, 20, std::vector<uint32_t>(400, argb))); }

struct Window : ::testing::Test {
  // alpha (no picture of its own) with a visible blue and a hidden green layer; beta with one layer.
  Window() {
    folder.write("data.txt", "alpha,100, 0, 0\n####\nfront,200,1, 10, 10\nhidden,300,0, 50, 50\n$$$$\n"
                             "beta,100, 5, 5\n####\nonly,150,1, 0, 0\n$$$$\n");
    folder.write("img/front2", solidPng(0xFF0000FF));
    folder.write("img/hidden3", solidPng(0xFF00FF00));
    folder.write("img/beta4", testing::testPng(16, 16, 4));
  }
  std::unique_ptr<TestWindow> open() {
    auto w = std::make_unique<TestWindow>(list, state, folder.path());
    w->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    return w;
  }
  testing::TempFolder folder;
  CharacterList list;
  EditorState state;
};

TEST_F(Window, ClicksKeysAndButtonsSelectInsertAndRemove) {
  folder.write("img/alpha1", "this is not a picture");
  auto w = open();
  for (int i = 0; i < 200 && !w->status().contains("img/alpha1"); ++i) QTest::qWait(10);  // read on another thread
  EXPECT_TRUE(w->status().contains("img/alpha1")) << w->status().toStdString();
  EXPECT_EQ(std::pair(w->highlighted(0), w->highlighted(1)), std::pair(0, 0));
  w->click(0, 1);
  EXPECT_EQ(std::pair(state.selectedCharacterRow, w->highlighted(0)), Selection(1, 1));
  EXPECT_EQ(std::pair(w->model(1)->rowCount(), w->cell(1, 0, 0)), std::pair(1, QString("only")));
  w->click(0, -1);
  EXPECT_EQ(std::pair(state.selectedCharacterRow, w->highlighted(0)), Selection(-1, -1));
  w->click(0, 0);
  w->click(1, 1);
  EXPECT_TRUE(state.selectedLayerRow == 1 && state.moveLayer);
  // A click on a check box is a click on its row; a character click leaves no layer highlighted.
  const QRect box = w->table(1)->visualRect(w->model(1)->index(0, 2));
  QTest::mouseClick(w->table(1)->viewport(), Qt::LeftButton, {}, box.center());
  EXPECT_EQ(std::pair(state.selectedLayerRow, w->highlighted(1)), Selection(0, 0));
  w->click(0, 0);
  EXPECT_EQ(std::pair(state.selectedLayerRow, w->highlighted(1)), Selection(-1, -1));
  w->click(1, -1);
  EXPECT_EQ(state.selectedLayerRow, -1);
  QTest::keyClick(w->table(0), Qt::Key_Down);  // a keyboard move is a click on the row it lands on
  EXPECT_EQ(state.selectedCharacterRow, 1);
  EXPECT_EQ(w->cell(1, 0, 0), "only");

  // Tab goes on from a table to the next widget, and so reaches the canvas.
  w->table(0)->setFocus();
  for (int i = 0; i < 8 && QApplication::focusWidget() != w->canvas(); ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), w->canvas());

  w->press("Insert Character");
  EXPECT_EQ(std::pair(w->model(0)->rowCount(), w->highlighted(0)), std::pair(3, -1));
  w->press("Remove Character");
  EXPECT_EQ(w->model(0)->rowCount(), 2);
  w->click(0, 0);
  w->press("Insert Layer");
  EXPECT_EQ(w->model(1)->rowCount(), 3);
  w->press("Remove Layer");
  EXPECT_EQ(list.characters[0].layers.size(), 2u);
}

TEST_F(Window, EditsDropsAndDragsShowOnTheCanvas) {
  folder.write("drop.png", solidPng(0xFFFF0000));
  folder.write("notes.txt", "not an image");
  auto w = open();
  QAbstractItemModel* layers = w->model(1);
  const QRgb background = w->canvas()->palette().window().color().rgb();
  EXPECT_EQ(w->pixel(60, 60), background);
  w->click(1, 1);
  ASSERT_TRUE(layers->setData(layers->index(1, 2), Qt::Checked, Qt::CheckStateRole));  // the hidden layer
  settle();
  EXPECT_EQ(w->pixel(60, 60), qRgb(0, 255, 0));

  ImageWellWidget* well = w->findChild<ImageWellWidget*>("characterWell");
  auto drop = [&](const char* file) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString((folder.path() / file).string()))});
    QDragEnterEvent enter(well->rect().center(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(well, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent dropped(QRectF(well->rect()).center(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(well, &dropped);
    settle();
    return dropped.isAccepted();
  };
  EXPECT_FALSE(drop("notes.txt"));
  ASSERT_TRUE(drop("drop.png"));
  // alpha at 0,0 (depth 100) is under its blue layer at 10,10 (depth 200).
  EXPECT_EQ(std::pair(w->pixel(5, 5), w->pixel(15, 15)), std::pair(qRgb(255, 0, 0), qRgb(0, 0, 255)));
  EXPECT_EQ(well->grab().toImage().pixel(well->rect().center()), qRgb(255, 0, 0));
  well->setFocus();
  QTest::keyClick(well, Qt::Key_Delete);
  QImage half(4, 4, QImage::Format_ARGB32);
  half.fill(QColor(0, 255, 0, 128));
  QApplication::clipboard()->setImage(half);
  QTest::keyClick(well, Qt::Key_V, Qt::ControlModifier);
  settle();
  ASSERT_NE(list.characters[0].image, nullptr);
  EXPECT_EQ(list.characters[0].image->pixel(2, 2), 0x8000ff00u);  // pasted, not premultiplied
  QApplication::clipboard()->clear();

  // Drag the blue layer by (+40, +25), leaving the canvas on the way.
  w->click(1, 0);
  QTest::mousePress(w->canvas(), Qt::LeftButton, {}, QPoint(15, 15));
  QTest::mouseMove(w->canvas(), QPoint(-30, w->canvas()->height() + 40));
  QTest::mouseMove(w->canvas(), QPoint(55, 40));
  QTest::mouseRelease(w->canvas(), Qt::LeftButton, {}, QPoint(55, 40));
  EXPECT_EQ(std::pair(list.characters[0].layers[0].x, list.characters[0].layers[0].y), std::pair(50, 35));
  settle();
  EXPECT_EQ(std::pair(w->pixel(55, 40), w->pixel(12, 12)), std::pair(qRgb(0, 0, 255), background));
  w->click(0, -1);
  EXPECT_FALSE(drop("drop.png"));  // no row to take it
}

// However a cell edit ends, the record has the text at once, the title shows the change, and a save
// writes it.
TEST_F(Window, ACommittedCellReachesItsRecordHoweverTheEditEnds) {
  const std::string text = folder.read("data.txt");
  for (const char* way : {"Enter", "Tab", "a click on another row", "the focus leaving", "Save", "closing",
                          "typing with no row selected"}) {
    SCOPED_TRACE(way);
    folder.write("data.txt", text);
    auto w = open();
    const std::string how = way;
    if (how == "typing with no row selected") {
      w->click(0, -1);
      QTest::keyClick(w->table(0), 'K');  // starts the editor of the current cell
      QTest::keyClicks(QApplication::focusWidget(), "night");
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
      settle();
    } else {
      QLineEdit* editor = w->edit(0, 0, 0);
      ASSERT_NE(editor, nullptr);
      editor->setText("Knight");
      if (how == "Enter") QTest::keyClick(editor, Qt::Key_Return), settle();  // the delegate commits next
      if (how == "Tab") QTest::keyClick(editor, Qt::Key_Tab);
      if (how == "a click on another row") w->click(0, 1);
      if (how == "the focus leaving") w->canvas()->setFocus(), QApplication::processEvents();
      if (how == "Save") QTest::keyClick(editor, Qt::Key_S, Qt::ControlModifier);
      if (how == "closing") w->questions.unsaved = UserQuestions::Unsaved::Save, w->close();
    }
    EXPECT_EQ(list.characters.at(0).name, "Knight");
    if (how != "Save" && how != "closing") {
      EXPECT_TRUE(w->isWindowModified());
      QTest::keyClick(w.get(), Qt::Key_S, Qt::ControlModifier);
    }
    EXPECT_EQ(folder.read("data.txt").substr(0, 7), "Knight,");
    EXPECT_TRUE(how == "closing" || !w->isWindowModified());
  }
}

// A depth is a whole number from 0 to 999: anything else is refused, the cell shows the record's
// depth again and the status bar says why.
TEST_F(Window, ATypedDepthIsTakenOrRefused) {
  auto w = open();
  for (const char* typed : {"99999999999", "1e3", "0x10", "12abc", "-5", "1000", "42"}) {
    SCOPED_TRACE(typed);
    QLineEdit* editor = w->edit(0, 0, 1);
    ASSERT_NE(editor, nullptr);
    editor->setText(typed);
    QTest::keyClick(editor, Qt::Key_Return);
    settle();
    const bool taken = std::string(typed) == "42";
    EXPECT_EQ(list.characters[0].value, taken ? 42 : 100);
    EXPECT_EQ(w->cell(0, 0, 1), taken ? "42" : "100");
    EXPECT_TRUE(taken || w->status().contains("0 to 999")) << w->status().toStdString();
  }
}

// A picture that came in from disk is the file's: undoing earlier steps leaves it, and undoing the
// picture itself makes the next save ask before it writes over the file.
TEST_F(Window, UndoNeverPutsAnOlderPictureOverAFileUnasked) {
  auto w = open();
  QLineEdit* editor = w->edit(1, 0, 1);
  editor->setText("300");
  QTest::keyClick(editor, Qt::Key_Return);
  settle();
  const std::string painted = solidPng(0xFF123456);
  folder.write("img/front2", painted);
  w->session().lookAtDiskNow();
  ASSERT_EQ(list.characters[0].layers[0].image->pixel(0, 0), 0xFF123456u);
  QAction* undo = w->editMenu()->actions().at(0);
  EXPECT_TRUE(undo->text().contains("Disk")) << undo->text().toStdString();
  undo->trigger();
  EXPECT_EQ(list.characters[0].layers[0].image->pixel(0, 0), 0xFF0000FFu);
  EXPECT_EQ(list.characters[0].layers[0].value, 300);  // the depth is its own step
  QTest::keyClick(w.get(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(w->questions.asked, 1);  // asked, and told no
  EXPECT_EQ(folder.read("img/front2"), painted);
  w->editMenu()->actions().at(1)->trigger();  // redo: the file's picture again
  EXPECT_EQ(list.characters[0].layers[0].image->pixel(0, 0), 0xFF123456u);
}

TEST_F(Window, InsertingIntoAThousandCharactersHighlightsNoRow) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "c" + std::to_string(i) + ",100, 0, 0\n####\n$$$$\n";
  folder.write("data.txt", text);
  auto w = open();
  w->click(0, 0);
  w->press("Insert Character");
  EXPECT_EQ(w->model(0)->rowCount(), 1001);
  EXPECT_EQ(w->highlighted(0), -1);
}

TEST_F(Window, UndoAndRedoFromTheMenuAndTheKeysWithTheModifiedMark) {
  auto w = open();
  QAction* undo = w->editMenu()->actions().at(0);
  QAction* redo = w->editMenu()->actions().at(1);
  EXPECT_FALSE(undo->isEnabled() || w->isWindowModified());
  w->click(1, 0);
  w->canvas()->setFocus();
  QTest::keyClick(w->canvas(), Qt::Key_Right, Qt::ShiftModifier);  // nudges of one record are one step
  QTest::keyClick(w->canvas(), Qt::Key_Down);
  EXPECT_EQ(std::pair(list.characters[0].layers[0].x, list.characters[0].layers[0].y), std::pair(20, 11));
  settle();
  EXPECT_EQ(undo->text(), "Undo Move Layer");
  EXPECT_TRUE(w->isWindowModified());
  QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier);
  settle();
  EXPECT_EQ(std::pair(list.characters[0].layers[0].x, list.characters[0].layers[0].y), std::pair(10, 10));
  EXPECT_TRUE(redo->isEnabled() && !undo->isEnabled() && !w->isWindowModified());
  QTest::keyClick(w.get(), Qt::Key_Y, Qt::ControlModifier);
  settle();
  EXPECT_EQ(list.characters[0].layers[0].x, 20);
  QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier);
  QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(list.characters[0].layers[0].x, 20);
  settle();
  EXPECT_TRUE(w->isWindowModified());
}

TEST_F(Window, FailedSaveIsShownAndClosingAsksAboutUnsavedWork) {
  auto w = open();
  EXPECT_TRUE(w->close());  // nothing changed: no question
  w.reset();
  w = open();
  w->press("Insert Character");
  EXPECT_FALSE(w->close());  // cancelled
  // "img" is a file now, so the pictures cannot be written: the save fails and the window stays.
  std::filesystem::remove_all(folder.path() / "img");
  folder.write("img", "in the way");
  w->questions.unsaved = UserQuestions::Unsaved::Save;
  EXPECT_FALSE(w->close());
  EXPECT_EQ(w->questions.asked, 2);
  ASSERT_EQ(w->questions.told.size(), 1);
  EXPECT_TRUE(w->questions.told.front().contains("img") && w->status().startsWith("Not saved"));
  std::filesystem::remove(folder.path() / "img");
  QTest::keyClick(w.get(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_NE(folder.read("data.txt").find("新キャラ"), std::string::npos);
  w->press("Insert Layer");
  w->questions.unsaved = UserQuestions::Unsaved::Discard;
  EXPECT_TRUE(w->close());
  EXPECT_EQ(folder.read("data.txt").find("新規レイヤー"), std::string::npos);
}

}  // namespace
}  // namespace charstack

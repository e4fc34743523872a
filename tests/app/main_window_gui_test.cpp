// The editor window driven the way a user drives it, for what only the window shows: clicks, cell
// edits, pictures dropped and seen on the canvas, dragging, saving, reopening and closing.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QScreen>
#include <QTextBrowser>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include "app/main_window.hpp"
#include "support/fakes.hpp"
#include "ui/at_scale.hpp"
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
  void trigger(const QString& text) {
    for (QAction* a : findChildren<QAction*>())
      if (a->text() == text) return a->trigger();
    ADD_FAILURE() << "no action " << text.toStdString();
  }
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

  // What Insert makes is selected and highlighted, and the layers table shows its layers; Remove
  // selects the record that takes the removed one's place.
  w->press("Insert Character");
  EXPECT_EQ(std::tuple(w->model(0)->rowCount(), w->highlighted(0), w->model(1)->rowCount()),
            std::tuple(3, 1, 0));
  w->press("Remove Character");
  EXPECT_EQ(std::tuple(w->model(0)->rowCount(), w->highlighted(0), w->cell(1, 0, 0)),
            std::tuple(2, 1, QString("only")));
  w->click(0, 0);
  w->press("Insert Layer");
  EXPECT_EQ(std::pair(w->model(1)->rowCount(), w->highlighted(1)), std::pair(3, 2));
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

// A depth is picked with a spin box from 0 to 999; a position is typed, and refused with the reason
// when it is no 32-bit whole number; a depth outside 0..999 in the file is shown and listed.
TEST_F(Window, NumbersAreCheckedWhereTheyAreTypedAndRead) {
  folder.write("data.txt", "alpha,1500, 0, 0\n####\nfront,200,1, 10, 10\n$$$$\n");
  auto w = open();
  EXPECT_EQ(w->cell(0, 0, 1), "1500");
  auto* problems = w->findChild<QTreeWidget*>("problems");
  ASSERT_EQ(problems->topLevelItemCount(), 1);
  EXPECT_TRUE(problems->topLevelItem(0)->text(1).contains("depth 1500 is never drawn"))
      << problems->topLevelItem(0)->text(1).toStdString();
  for (const char* typed : {"", "42"}) {  // Enter alone keeps the depth the file has
    w->table(0)->setFocus();
    w->table(0)->edit(w->model(0)->index(0, 1));
    auto* spin = qobject_cast<QSpinBox*>(QApplication::focusWidget());
    ASSERT_TRUE(spin && spin->minimum() == 0 && spin->maximum() == 999);
    QTest::keyClicks(spin, typed);
    QTest::keyClick(spin, Qt::Key_Return);
    settle();
  }
  EXPECT_EQ(list.characters[0].value, 42);
  for (const char* typed : {"2147483648", "-12"}) {
    QLineEdit* editor = w->edit(1, 0, 3);
    ASSERT_NE(editor, nullptr);
    editor->setText(typed);
    QTest::keyClick(editor, Qt::Key_Return);
    settle();
  }
  EXPECT_EQ(std::pair(list.characters[0].layers[0].x, w->cell(1, 0, 3)), std::pair(-12, QString("-12")));
  EXPECT_EQ(w->editMenu()->actions().at(0)->text(), "Undo Move Layer");
  w->editMenu()->actions().at(0)->trigger();
  EXPECT_TRUE(list.characters[0].layers[0].x == 10 && w->isWindowModified());
}

// A first start fits the screen with Save and the status bar in view, and the tables keep most of
// their columns' height beside the image wells.
TEST_F(Window, TheWindowFitsTheScreenAtScaleFactors1And15) {
  testing::expectPassesAtScaleFactor15();
  auto w = open();
  QTest::qWait(1);  // fitted again to the frame it was shown with
  const QRect screen = w->screen()->availableGeometry();
  EXPECT_TRUE(screen.contains(w->frameGeometry()));
  for (QWidget* part : {static_cast<QWidget*>(w->findChild<QPushButton*>("save")), static_cast<QWidget*>(w->statusBar())})
    EXPECT_TRUE(part && screen.contains(QRect(part->mapToGlobal(QPoint(0, 0)), part->size())));
  EXPECT_GE(w->table(1)->height(), 2 * w->findChild<QWidget*>("layerWell")->height());
}

// A name cell takes no space as the start of a name, and a blank name is refused with the reason.
TEST_F(Window, ANameIsNeverBlank) {
  auto w = open();
  w->table(0)->setFocus();
  w->table(0)->setCurrentIndex(w->model(0)->index(0, 0));
  QTest::keyClick(w->table(0), Qt::Key_Space);
  EXPECT_EQ(qobject_cast<QLineEdit*>(QApplication::focusWidget()), nullptr);
  QLineEdit* editor = w->edit(0, 0, 0);
  ASSERT_NE(editor, nullptr);
  editor->setText("");
  w->click(0, 1);
  EXPECT_EQ(std::pair(list.characters[0].name, w->status()), std::pair(std::string("alpha"), QString("a name cannot be empty")));
}

// The export chooser comes before any progress dialog, which would come up over the chooser while the
// user looks for a folder, and whose Cancel the user would press. Export Picture offers the
// character's name.
TEST_F(Window, ExportsAskFirstAndOfferTheCharactersName) {
  testing::TempFolder out;
  auto w = open();
  w->questions.exportFolder = out.path() / "pictures";
  bool progressMade = false;
  w->questions.choosing = [&] {
    for (QProgressDialog* progress : w->findChildren<QProgressDialog*>()) progressMade = true, progress->cancel();
  };
  w->trigger("Export &All Characters…");
  EXPECT_FALSE(progressMade);
  EXPECT_EQ(out.list("pictures"), (std::vector<std::string>{"alpha1.png", "beta4.png"}));
  EXPECT_FALSE(w->questions.told.join("").contains("cancelled")) << w->questions.told.join("").toStdString();
  w->trigger("&Export Picture…");
  EXPECT_EQ(w->questions.suggested, "alpha.png");
}

// The Problems panel keeps what data.txt gave when the pictures read later add theirs; the reasons
// stay in view, and a double-click on a picture goes to its record.
TEST_F(Window, TheProblemsPanelListsEveryProblemAndLeadsToTheRecord) {
  const std::string kLong = "front layer with a name long enough to push the reasons off the panel";
  folder.write("data.txt", "alpha,1500, 0, 0,extra\r\n####\r\n" + kLong + ",200,1, 10, 10\r\n$$$$\r\nbeta,100, 5, 5\r\n");
  folder.write("img/" + kLong + "2", "not a picture");
  folder.write("img/beta3", "not a picture either");
  auto w = open();
  auto* problems = w->findChild<QTreeWidget*>("problems");
  for (int i = 0; i < 200 && problems->findItems("img/beta3", Qt::MatchExactly).isEmpty(); ++i) QTest::qWait(10);
  QStringList files;
  for (int i = 0; i < problems->topLevelItemCount(); ++i) files << problems->topLevelItem(i)->text(0);
  EXPECT_GE(files.filter(QRegularExpression("^data.txt")).size(), 3) << files.join(' ').toStdString();  // CR LF, the extra field, the depth
  EXPECT_TRUE(files.contains("img/beta3") && files.size() >= 6) << files.join(' ').toStdString();
  EXPECT_LE(problems->columnWidth(0), std::max(120, problems->width() / 3));
  const QList<QTreeWidgetItem*> front = problems->findItems(QString::fromStdString("img/" + kLong + "2"), Qt::MatchExactly);
  ASSERT_FALSE(front.isEmpty());
  emit problems->itemActivated(front[0], 0);
  EXPECT_EQ(std::pair(state.selectedCharacterRow, state.selectedLayerRow), std::pair(int64_t{0}, int64_t{0}));
  emit problems->itemActivated(problems->findItems("img/beta3", Qt::MatchExactly)[0], 0);
  EXPECT_EQ(std::pair(state.selectedCharacterRow, w->highlighted(0)), std::pair(int64_t{1}, 1));
}

// A picture that came in from disk is the file's: undoing earlier steps leaves it, and undoing the
// picture itself makes the next save ask before it writes over the file.
TEST_F(Window, UndoNeverPutsAnOlderPictureOverAFileUnasked) {
  auto w = open();
  QLineEdit* editor = w->edit(1, 0, 3);
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
  EXPECT_EQ(list.characters[0].layers[0].x, 300);  // the position is its own step
  QTest::keyClick(w.get(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(w->questions.asked, 1);  // asked, and told no
  EXPECT_EQ(folder.read("img/front2"), painted);
  w->editMenu()->actions().at(1)->trigger();  // redo: the file's picture again
  EXPECT_EQ(list.characters[0].layers[0].image->pixel(0, 0), 0xFF123456u);
}

TEST_F(Window, InsertingIntoAThousandCharactersHighlightsTheNewOne) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "c" + std::to_string(i) + ",100, 0, 0\n####\n$$$$\n";
  folder.write("data.txt", text);
  auto w = open();
  w->click(0, 0);
  w->press("Insert Character");
  EXPECT_EQ(std::pair(w->model(0)->rowCount(), w->highlighted(0)), std::pair(1001, 0));
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
  EXPECT_NE(folder.read("data.txt").find("New Character"), std::string::npos);
  w->press("Insert Layer");
  w->questions.unsaved = UserQuestions::Unsaved::Discard;
  EXPECT_TRUE(w->close());
  EXPECT_EQ(folder.read("data.txt").find("New Layer"), std::string::npos);
}

// The record actions: enabled only when they can act, from their keys, the Edit menu, Delete and
// the context menus, on one record or on several selected layers; the clipboard carries records and
// a PNG for other programs; Help lists the keys.
TEST_F(Window, RecordActionsFromKeysMenusAndTheClipboard) {
  {
    testing::TempFolder emptyFolder;
    CharacterList none;
    EditorState fresh;
    TestWindow empty(none, fresh, emptyFolder.path());
    for (const char* name : {"removeCharacter", "insertLayer", "removeLayer", "insertCharacter"}) {
      auto* button = empty.findChild<QPushButton*>(name);
      EXPECT_TRUE(button->isEnabled() == (std::string(name) == "insertCharacter") &&
                  !button->toolTip().isEmpty())
          << name;
    }
  }
  auto w = open();
  auto names = [&](int k) {
    std::string out;
    for (const Layer& l : list.characters[size_t(k)].layers) out += l.name + " ";
    return out;
  };
  w->click(1, 0);
  QTest::keyClick(w->table(1), Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(std::pair(names(0), w->highlighted(1)), std::pair(std::string("hidden front "), 1));
  QTest::keyClick(w->table(1), Qt::Key_D, Qt::ControlModifier);
  EXPECT_EQ(std::pair(names(0), w->highlighted(1)), std::pair(std::string("hidden front front "), 2));
  EXPECT_EQ(list.characters[0].layers[2].image, list.characters[0].layers[1].image);  // shared, not copied
  QTest::keyClick(w->table(1), Qt::Key_C, Qt::ControlModifier);
  const QMimeData* copied = QApplication::clipboard()->mimeData();
  ASSERT_TRUE(copied && copied->hasFormat("application/x-charstack-records"));
  EXPECT_EQ(QImage::fromData(copied->data("image/png")).pixel(3, 3), 0xFF0000FFu);
  w->click(0, 1);
  EXPECT_TRUE(w->status().startsWith("Copied")) << w->status().toStdString();
  QTest::keyClick(w->table(0), Qt::Key_V, Qt::ControlModifier);  // layers go into the selected character
  EXPECT_EQ(std::pair(names(1), w->highlighted(1)), std::pair(std::string("only front "), 1));
  EXPECT_FALSE(w->status().startsWith("Copied")) << "outdated";
  // Ctrl+click selects a second layer; Delete removes both, one step.
  QTest::mouseClick(w->table(1)->viewport(), Qt::LeftButton, Qt::ControlModifier,
                    w->table(1)->visualRect(w->model(1)->index(0, 0)).center());
  EXPECT_EQ(std::pair(w->controller().selection().selectedLayers(), w->table(1)->selectedRows()),
            std::pair(std::vector<int64_t>{0, 1}, std::vector<int64_t>{0, 1}));
  QTest::keyClick(w->table(1), Qt::Key_Delete);
  EXPECT_EQ(names(1), "");
  QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(names(1), "only front ");

  QStringList menu, help;
  const QRect screen = w->screen()->availableGeometry();
  auto read = [&](QStringList& into) {
    QTimer::singleShot(0, [&into, screen] {
      if (auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        for (QAction* a : popup->actions()) into << a->text();
        popup->close();
      }
      for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible())
          into << box->text(), box->close();
      // The shortcuts scroll in a dialog that fits the screen, its Close button in view.
      if (auto* list = QApplication::activeModalWidget() ? QApplication::activeModalWidget()->findChild<QTextBrowser*>() : nullptr) {
        QWidget* dialog = list->window();
        auto* close = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close);
        const QRect button(close->mapToGlobal(QPoint(0, 0)), close->size());
        into << list->toPlainText();
        if (!screen.contains(dialog->frameGeometry()) || !screen.contains(button)) into << "off screen";
        dialog->close();
      }
    });
  };
  read(help);
  QTest::keyClick(w.get(), Qt::Key_F1);
  for (const char* keys : {"Ctrl+D", "Ctrl+Up", "Ctrl+V", "Ctrl+9", "Delete, Backspace", "Ctrl+click", "Ctrl+wheel",
                           "Space and drag", "Tab"})
    EXPECT_TRUE(help.join("").contains(keys)) << keys;
  EXPECT_FALSE(help.contains("off screen"));
  read(menu);
  emit w->table(1)->customContextMenuRequested(w->table(1)->visualRect(w->model(1)->index(1, 0)).center());
  EXPECT_EQ(menu.join('|').remove('&').toStdString(),
            "Insert Layer|Duplicate||Cut|Copy|Paste||Move Up|Move Down||Remove Layer|Hide Layers");
}

// Rows dragged between other rows move there; image files and image data dropped on a table or the
// canvas become new records, selected.
TEST_F(Window, RowsDraggedMoveAndDroppedPicturesBecomeRecords) {
  folder.write("drop/knight.png", solidPng(0xFFFF0000));
  auto w = open();
  auto drop = [](QWidget* target, const QMimeData* mime, QPoint at) {
    for (QEvent::Type type : {QEvent::DragEnter, QEvent::DragMove}) {
      QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, {}, type);
      QApplication::sendEvent(target, &move);
    }
    QDropEvent dropped(at, Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, {});
    QApplication::sendEvent(target, &dropped);
    settle();
    return dropped.isAccepted();
  };
  w->click(1, 0);
  // What the table's own drag carries, dropped below the last row.
  std::unique_ptr<QMimeData> rows(w->model(1)->mimeData({w->model(1)->index(0, 0)}));
  ASSERT_TRUE(drop(w->table(1)->viewport(), rows.get(),
                   {20, w->table(1)->visualRect(w->model(1)->index(1, 0)).bottom() + 20}));
  EXPECT_EQ(std::pair(list.characters[0].layers[1].name, w->highlighted(1)),
            std::pair(std::string("front"), 1));
  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(QString::fromStdString((folder.path() / "drop/knight.png").string()))});
  ASSERT_TRUE(drop(w->table(0)->viewport(), &files,
                   w->table(0)->visualRect(w->model(0)->index(0, 0)).topLeft() + QPoint(20, 2)));
  EXPECT_EQ(std::pair(list.characters[0].name, w->highlighted(0)), std::pair(std::string("knight"), 0));
  QMimeData image;
  image.setImageData(QImage::fromData(QByteArray::fromStdString(solidPng(0xFF00FF00))));
  ASSERT_TRUE(drop(w->canvas(), &image, w->canvas()->rect().center()));
  ASSERT_EQ(list.characters[0].layers.size(), 1u);
  EXPECT_TRUE(list.characters[0].layers[0].visible && w->highlighted(1) == 0);
  EXPECT_EQ(w->editMenu()->actions().at(0)->text(), "Undo Add Layer from Picture");
}

}  // namespace
}  // namespace charstack

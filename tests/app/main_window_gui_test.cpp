// The editor window driven the way a user drives it: clicks, typing, drops, drags, saving, closing.
#include <QAbstractItemModel>
#include <QApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include "app/main_window.hpp"
#include "platform/image_impl.hpp"
#include "ui/canvas_widget.hpp"
#include "ui/image_well_widget.hpp"
#include "ui/mirror_table.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::TempFolder;
using testing::testPng;

// A window whose dialogs answer themselves.
class TestWindow : public MainWindow {
 public:
  using MainWindow::MainWindow;
  CloseChoice answer = CloseChoice::Cancel;
  int questions = 0;
  QStringList failures;

 protected:
  void showSaveFailure(const QString& text) override { failures << text; }
  CloseChoice askAboutUnsavedChanges() override {
    ++questions;
    return answer;
  }
};

// An opaque one-colour PNG: its pixels are easy to find on the canvas.
std::string solidPng(int w, int h, uint32_t argb) {
  return *encodePng(*makeImage(w, h, std::vector<uint32_t>(static_cast<size_t>(w * h), argb)));
}

// Lets the 10 ms sync and redraw timers run a few times.
void settle(int ms = 40) { QTest::qWait(ms); }

struct Fixture : ::testing::Test {
  // alpha (no picture of its own) with a visible and a hidden layer; beta with one layer.
  Fixture() {
    folder.write("data.txt",
                 "alpha,100, 0, 0\n####\nfront,200,1, 10, 10\nhidden,300,0, 50, 50\n$$$$\n"
                 "beta,100, 5, 5\n####\nonly,150,1, 0, 0\n$$$$\n");
    folder.write("img/front2", solidPng(20, 20, 0xFF0000FF));
    folder.write("img/hidden3", solidPng(20, 20, 0xFF00FF00));
    folder.write("img/beta4", testPng(16, 16, 4));
    folder.write("img/only5", testPng(8, 8, 5));
  }

  std::unique_ptr<TestWindow> open() {
    auto w = std::make_unique<TestWindow>(list, state, folder.path());
    w->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    return w;
  }

  static void clickRow(MirrorTableView* table, int row) {
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(table->model()->index(row, 0)).center());
  }
  static void clickBelowRows(MirrorTableView* table) {
    const QPoint below(20, table->visualRect(table->model()->index(table->model()->rowCount() - 1, 0)).bottom() + 30);
    ASSERT_LT(below.y(), table->viewport()->height());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, below);
  }
  // Opens the cell editor on a cell, as a user starts typing into it.
  static QLineEdit* editCell(MirrorTableView* table, int row, int column) {
    table->setFocus();
    table->edit(table->model()->index(row, column));
    return qobject_cast<QLineEdit*>(QApplication::focusWidget());
  }
  static QString cell(QAbstractItemModel* model, int row, int column) {
    return model->index(row, column).data().toString();
  }
  static QRgb canvasPixel(MainWindow& w, int x, int y) { return w.canvas()->grab().toImage().pixel(x, y); }
  static QRgb background(MainWindow& w) { return w.canvas()->palette().window().color().rgb(); }

  TempFolder folder;
  CharacterList list;
  EditorState state;
};

TEST_F(Fixture, StartsWithFirstRowsHighlightedAndClicksAndKeyboardMovesSelectRows) {
  folder.write("img/alpha1", "this is not a picture");
  auto w = open();
  EXPECT_EQ(w->characterTable()->highlightedRow(), 0);
  EXPECT_EQ(w->layerTable()->highlightedRow(), 0);
  EXPECT_EQ(w->characterModel()->rowCount(), 2);
  EXPECT_EQ(w->layerModel()->rowCount(), 2);  // alpha's layers
  EXPECT_TRUE(w->windowTitle().contains(QFile::decodeName(folder.path().filename().c_str())));
  EXPECT_TRUE(w->statusBar()->currentMessage().contains("img/alpha1")) << w->statusBar()->currentMessage().toStdString();

  clickRow(w->characterTable(), 1);
  EXPECT_EQ(state.selectedCharacterRow, 1);
  EXPECT_EQ(w->characterTable()->highlightedRow(), 1);
  ASSERT_EQ(w->layerModel()->rowCount(), 1);
  EXPECT_EQ(cell(w->layerModel(), 0, 0), "only");
  clickBelowRows(w->characterTable());
  EXPECT_EQ(state.selectedCharacterRow, -1);
  EXPECT_EQ(w->characterTable()->highlightedRow(), -1);

  clickRow(w->characterTable(), 0);
  clickRow(w->layerTable(), 1);
  EXPECT_EQ(state.selectedLayerRow, 1);
  EXPECT_TRUE(state.moveLayer);
  clickBelowRows(w->layerTable());
  EXPECT_EQ(state.selectedLayerRow, -1);

  // A keyboard move is a click on the row it lands on.
  w->characterTable()->setFocus();
  QTest::keyClick(w->characterTable(), Qt::Key_Down);
  EXPECT_EQ(state.selectedCharacterRow, 1);
  EXPECT_EQ(cell(w->layerModel(), 0, 0), "only");
  QTest::keyClick(w->characterTable(), Qt::Key_Up);
  EXPECT_EQ(state.selectedCharacterRow, 0);
}

TEST_F(Fixture, CellEditsAndTheVisibleCheckBoxReachTheModelAndBadNamesAreRefused) {
  auto w = open();
  QAbstractItemModel* layers = w->layerModel();
  EXPECT_EQ(layers->index(0, 2).data(Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_EQ(layers->index(1, 2).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
  EXPECT_TRUE(layers->flags(layers->index(1, 2)) & Qt::ItemIsUserCheckable);
  EXPECT_EQ(canvasPixel(*w, 60, 60), background(*w));
  clickRow(w->layerTable(), 1);
  ASSERT_TRUE(layers->setData(layers->index(1, 2), Qt::Checked, Qt::CheckStateRole));
  settle();
  EXPECT_EQ(list.characters[0].layers[1].visible, 1);
  EXPECT_EQ(w->controller().MA2[1].visible, "1");
  EXPECT_EQ(canvasPixel(*w, 60, 60), qRgb(0, 255, 0));
  ASSERT_TRUE(layers->setData(layers->index(1, 2), Qt::Unchecked, Qt::CheckStateRole));
  settle();
  EXPECT_EQ(list.characters[0].layers[1].visible, 0);

  clickRow(w->characterTable(), 1);
  QAbstractItemModel* characters = w->characterModel();
  ASSERT_TRUE(characters->setData(characters->index(1, 1), "250"));
  settle();
  EXPECT_EQ(list.characters[1].value, 250);
  // Typing into the cell editor, as a user renames a record.
  QLineEdit* editor = editCell(w->characterTable(), 1, 0);
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, "gamma");
  QTest::keyClick(editor, Qt::Key_Return);
  settle();
  EXPECT_EQ(list.characters[1].name, "gamma");
  EXPECT_EQ(cell(characters, 1, 0), "gamma");
  EXPECT_FALSE(characters->setData(characters->index(1, 0), "bad,name"));
  settle();
  EXPECT_EQ(cell(characters, 1, 0), "gamma");
  EXPECT_EQ(list.characters[1].name, "gamma");
  EXPECT_FALSE(w->statusBar()->currentMessage().isEmpty());
}

TEST_F(Fixture, DroppedPngShowsInTheWellAndOnTheCanvas) {
  folder.write("drop.png", solidPng(30, 30, 0xFFFF0000));
  folder.write("notes.txt", "not an image");
  auto w = open();
  ImageWellWidget* well = w->characterWell();
  auto drop = [&](const char* file) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QFile::decodeName((folder.path() / file).c_str()))});
    const QPointF at = QRectF(well->rect()).center();
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(well, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent dropped(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(well, &dropped);
    settle();
    return dropped.isAccepted();
  };
  EXPECT_FALSE(drop("notes.txt"));
  EXPECT_EQ(list.characters[0].image, nullptr);
  EXPECT_TRUE(w->statusBar()->currentMessage().contains("Not an image"));

  ASSERT_TRUE(drop("drop.png"));
  ASSERT_NE(list.characters[0].image, nullptr);
  EXPECT_EQ(well->shownImage(), list.characters[0].image);
  // alpha is at 0,0 at depth 100, under its blue layer at 10,10 (depth 200).
  EXPECT_EQ(canvasPixel(*w, 5, 5), qRgb(255, 0, 0));
  EXPECT_EQ(canvasPixel(*w, 15, 15), qRgb(0, 0, 255));
  const QImage wellPicture = well->grab().toImage();
  EXPECT_EQ(wellPicture.pixel(wellPicture.rect().center()), qRgb(255, 0, 0));

  // Delete empties the well; with no row selected the well refuses.
  well->setFocus();
  QTest::keyClick(well, Qt::Key_Delete);
  settle();
  EXPECT_EQ(list.characters[0].image, nullptr);
  clickBelowRows(w->characterTable());
  EXPECT_FALSE(drop("drop.png"));
  EXPECT_TRUE(w->statusBar()->currentMessage().contains("Select a row"));
}

TEST_F(Fixture, ButtonsInsertAndRemoveAndTheMouseDragsOnTheCanvas) {
  auto w = open();
  QTest::mouseClick(w->insertCharacterButton(), Qt::LeftButton);
  EXPECT_EQ(list.size(), 3);
  EXPECT_EQ(w->characterModel()->rowCount(), 3);
  EXPECT_EQ(w->characterTable()->highlightedRow(), -1);
  QTest::mouseClick(w->removeCharacterButton(), Qt::LeftButton);
  EXPECT_EQ(list.size(), 2);
  EXPECT_EQ(w->characterModel()->rowCount(), 2);

  clickRow(w->characterTable(), 0);
  QTest::mouseClick(w->insertLayerButton(), Qt::LeftButton);
  EXPECT_EQ(list.characters[0].layers.size(), 3u);
  EXPECT_EQ(w->layerModel()->rowCount(), 3);
  QTest::mouseClick(w->removeLayerButton(), Qt::LeftButton);
  EXPECT_EQ(list.characters[0].layers.size(), 2u);

  // Drag the first layer (blue, at 10,10) by (+40, +25), ending outside the canvas on the way.
  clickRow(w->characterTable(), 0);
  clickRow(w->layerTable(), 0);
  CanvasWidget* canvas = w->canvas();
  QTest::mousePress(canvas, Qt::LeftButton, {}, QPoint(15, 15));
  QTest::mouseMove(canvas, QPoint(-30, canvas->height() + 40));
  QTest::mouseMove(canvas, QPoint(55, 40));
  QTest::mouseRelease(canvas, Qt::LeftButton, {}, QPoint(55, 40));
  EXPECT_EQ(list.characters[0].layers[0].x, 50);
  EXPECT_EQ(list.characters[0].layers[0].y, 35);
  settle();
  EXPECT_EQ(canvasPixel(*w, 55, 40), qRgb(0, 0, 255));
  EXPECT_EQ(canvasPixel(*w, 12, 12), background(*w));
}

TEST_F(Fixture, SavedProjectReopensTheSame) {
  {
    auto w = open();
    // Typed and saved at once, before any sync tick: the save still sees the edit.
    clickRow(w->characterTable(), 1);
    QLineEdit* editor = editCell(w->characterTable(), 1, 1);
    ASSERT_NE(editor, nullptr);
    editor->setText("321");
    QTest::mouseClick(w->saveButton(), Qt::LeftButton);
    EXPECT_TRUE(w->statusBar()->currentMessage().startsWith("Saved")) << w->statusBar()->currentMessage().toStdString();
    EXPECT_TRUE(w->failures.isEmpty());
    EXPECT_FALSE(w->controller().hasUnsavedChanges());
  }
  CharacterList reopened;
  EditorState reopenedState;
  TestWindow again(reopened, reopenedState, folder.path());
  testing::expectSameModel(list, reopened);
  EXPECT_EQ(reopened.characters[1].value, 321);
  EXPECT_EQ(cell(again.characterModel(), 1, 1), "321");
}

TEST_F(Fixture, FailedSaveIsShownAndClosingAsksAboutUnsavedWork) {
  auto w = open();
  EXPECT_TRUE(w->close());  // nothing changed: no question
  EXPECT_EQ(w->questions, 0);

  w = open();
  QTest::mouseClick(w->insertCharacterButton(), Qt::LeftButton);
  w->answer = MainWindow::CloseChoice::Cancel;
  EXPECT_FALSE(w->close());
  EXPECT_EQ(w->questions, 1);

  // "img" is a file now, so the pictures cannot be written: the save fails and the window stays.
  std::filesystem::remove_all(folder.path() / "img");
  folder.write("img", "in the way");
  w->answer = MainWindow::CloseChoice::Save;
  EXPECT_FALSE(w->close());
  ASSERT_EQ(w->failures.size(), 1);
  EXPECT_TRUE(w->failures.front().contains("img"));
  EXPECT_TRUE(w->statusBar()->currentMessage().startsWith("Save failed"));

  std::filesystem::remove(folder.path() / "img");
  QTest::keyClick(w.get(), Qt::Key_S, Qt::ControlModifier);  // Ctrl+S
  EXPECT_EQ(w->failures.size(), 1);
  EXPECT_TRUE(w->statusBar()->currentMessage().startsWith("Saved"));
  EXPECT_NE(folder.read("data.txt").find("新キャラ"), std::string::npos);

  QTest::mouseClick(w->insertLayerButton(), Qt::LeftButton);
  w->answer = MainWindow::CloseChoice::Discard;
  EXPECT_TRUE(w->close());
  EXPECT_EQ(folder.read("data.txt").find("新規レイヤー"), std::string::npos);
}

// The sample project on screen is exactly its composition painted over the window background.
TEST_F(Fixture, SampleProjectCanvasShowsTheComposition) {
  const auto sample = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "examples/sample";
  ASSERT_TRUE(std::filesystem::exists(sample / "data.txt")) << sample;
  std::filesystem::remove_all(folder.path());
  std::filesystem::copy(sample, folder.path(), std::filesystem::copy_options::recursive);
  auto w = open();
  ASSERT_GE(list.size(), 2);
  for (int row = 0; row < list.size(); ++row) {
    clickRow(w->characterTable(), row);
    settle();
    const std::vector<DrawCall> calls = w->canvas()->view().composition();
    ASSERT_GE(calls.size(), 2u);
    const QImage shown = w->canvas()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage expected(shown.size(), QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&expected);
    painter.fillRect(expected.rect(), w->canvas()->palette().window());
    for (const DrawCall& c : calls)
      painter.drawImage(QRectF(c.x, c.y, c.image->width(), c.image->height()), c.image->impl().premultiplied());
    painter.end();
    EXPECT_EQ(shown, expected.convertToFormat(QImage::Format_RGB32)) << "character row " << row;
  }
  // The hidden layer of the first character is left out.
  clickRow(w->characterTable(), 0);
  size_t visible = 0;
  for (const Layer& l : list.characters[0].layers) visible += l.visible;
  EXPECT_LT(visible, list.characters[0].layers.size());
  EXPECT_EQ(w->canvas()->view().composition().size(), visible + 1);
}

}  // namespace
}  // namespace charstack

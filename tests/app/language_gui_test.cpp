// The window speaks Japanese under a Japanese locale (Qt's own buttons too) and English otherwise.
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QUndoStack>
#include <gtest/gtest.h>

#include "app/desktop.hpp"
#include "app/main_window.hpp"
#include "support/fakes.hpp"
#include "ui/mirror_table.hpp"

namespace charstack {
namespace {

TEST(Language, TheWindowFollowsTheLocale) {
  testing::TempFolder folder;
  CharacterList list;
  EditorState state;
  auto texts = [&] {
    MainWindow window(list, state, folder.path());
    window.findChild<QPushButton*>("insertCharacter")->click();  // an undo step, named by the controller
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Cancel);
    return QStringList{
        window.menuBar()->actions().at(0)->text(),
        window.findChild<QPushButton*>("insertCharacter")->text(),
        window.findChild<MirrorTableView*>("characters")->model()->headerData(0, Qt::Horizontal).toString(),
        window.controller().document().history().undoText(),
        box.button(QMessageBox::Cancel)->text().remove('&'),
        QString::fromStdString(list.characters.at(0).name),
        QString::fromStdString(window.controller().editCell(Table::Characters, 0, Field::Depth, "x").value())}
        .join('|')
        .toStdString();
  };
  {
    Translations japanese(QLocale(QLocale::Japanese, QLocale::Japan));
    EXPECT_EQ(texts(),
              "ファイル(&F)|キャラクターを挿入|名前|キャラクターを挿入|キャンセル|新キャラ|"
              "深さは 0 から 999 までの整数です");
  }
  EXPECT_EQ(texts(),
            "&File|Insert Character|name|Insert Character|Cancel|New Character|a depth is a whole number "
            "from 0 to 999");
}

}  // namespace
}  // namespace charstack

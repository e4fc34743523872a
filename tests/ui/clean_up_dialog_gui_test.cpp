// The clean-up dialog chooses files in list order and moves them to a trash kept in a temporary
// data folder (XDG_DATA_HOME), never the user's own.
#include <gtest/gtest.h>

#include <QListView>
#include <QPushButton>

#include "support/fakes.hpp"
#include "ui/clean_up_dialog.hpp"

namespace charstack {
namespace {

TEST(CleanUp, TheCheckedFilesAreChosenInListOrderAndGoToTheTrash) {
  testing::TempFolder project, data;
  std::vector<UnusedImageFile> files;
  for (const char* name : {"a1", "b2", "c3"}) {
    project.write(std::string("img/") + name, testing::testPng(8, 8, 1));
    files.push_back({name, testing::testImage(8, 8, 1), {}});
  }
  project.write("img/d4", "not a picture");
  files.push_back({"d4", nullptr, "is not a picture"});
  CleanUpDialog dialog(files);
  QPushButton* trash = dialog.findChildren<QPushButton*>().back();  // Move to Trash
  EXPECT_FALSE(trash->isEnabled());
  dialog.list()->model()->setData(dialog.list()->model()->index(2, 0), Qt::Checked, Qt::CheckStateRole);
  EXPECT_TRUE(dialog.chosen() == std::vector<std::string>{"c3"} && trash->isEnabled());
  dialog.checkAll();
  const std::vector<std::string> all{"a1", "b2", "c3", "d4"}, paths{"img/a1", "img/b2", "img/c3", "img/d4"};
  EXPECT_EQ(dialog.chosen(), all);

  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.path().string()));
  const TrashReport report = CleanUpDialog::moveToTrash(ProjectFolder(project.path()), paths, nullptr);
  qunsetenv("XDG_DATA_HOME");
  EXPECT_EQ(report.moved, paths);
  EXPECT_TRUE(project.list("img").empty());
  EXPECT_EQ(data.list("Trash/files/" + report.bundle + "/img"), all);
}

}  // namespace
}  // namespace charstack

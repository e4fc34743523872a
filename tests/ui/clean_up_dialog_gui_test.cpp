// The clean-up dialog chooses files in list order and moves them to a trash kept in a temporary
// data folder (XDG_DATA_HOME), never the user's own.
#include <QListView>
#include <QPushButton>
#include <gtest/gtest.h>

#include "support/fakes.hpp"
#include "ui/clean_up_dialog.hpp"

namespace charstack {
namespace {

TEST(CleanUp, TheCheckedFilesAreChosenInListOrderAndGoToTheTrash) {
  testing::TempFolder project, data;
  const QByteArray previous = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data.path().string()));
  std::vector<UnusedImageFile> files;
  for (const char* name : {"a1", "b2", "c3"}) {
    project.write(std::string("img/") + name, testing::testPng(8, 8, 1));
    files.push_back({name, testing::testImage(8, 8, 1), {}});
  }
  project.write("img/d4", "not a picture");
  files.push_back({"d4", nullptr, "is not a picture"});

  CleanUpDialog dialog(files);
  QPushButton* trash = nullptr;
  for (QPushButton* b : dialog.findChildren<QPushButton*>())
    if (b->text() == CleanUpDialog::tr("Move to Trash")) trash = b;
  ASSERT_TRUE(trash);
  EXPECT_FALSE(trash->isEnabled());
  QAbstractItemModel* model = dialog.list()->model();
  model->setData(model->index(2, 0), Qt::Checked, Qt::CheckStateRole);
  EXPECT_EQ(dialog.chosen(), std::vector<std::string>{"c3"});
  EXPECT_TRUE(trash->isEnabled());
  dialog.checkAll();
  const std::vector<std::string> all{"a1", "b2", "c3", "d4"};
  EXPECT_EQ(dialog.chosen(), all);

  std::vector<std::string> paths;
  for (const std::string& name : all) paths.push_back("img/" + name);
  const TrashReport report = CleanUpDialog::moveToTrash(ProjectFolder(project.path()), paths, nullptr);
  EXPECT_EQ(report.moved, paths);
  EXPECT_TRUE(project.list("img").empty());
  EXPECT_EQ(data.list("Trash/files/" + report.bundle + "/img"), all);
  previous.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", previous);
}

}  // namespace
}  // namespace charstack

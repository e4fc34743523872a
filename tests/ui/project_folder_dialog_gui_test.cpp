// The project folder dialog starts beside the current project, creates a typed new folder for a new
// project and refuses a folder that is not empty or does not exist, naming it.
#include <QLineEdit>
#include <gtest/gtest.h>

#include "support/fakes.hpp"
#include "ui/project_folder_dialog.hpp"

namespace charstack {
namespace {

using Purpose = ProjectFolderDialog::Purpose;

TEST(ProjectFolderDialog, TakesEmptyOrNewFoldersForANewProjectAndRefusesTheRest) {
  testing::TempFolder root;
  root.write("full/data.txt", "a,1, 0, 0\n");
  root.write("file.txt", "x");
  std::filesystem::create_directory(root.path() / "empty");
  const struct { Purpose purpose; const char* folder; const char* refusal; } cases[] = {
      {Purpose::NewProject, "fresh", ""},          {Purpose::NewProject, "empty", ""},
      {Purpose::NewProject, "new/and/deeper", ""}, {Purpose::NewProject, "full", "is not empty"},
      {Purpose::NewProject, "file.txt", "is a file"}, {Purpose::NewProject, "file.txt/sub", "could not be created"},
      {Purpose::OpenProject, "full", ""},          {Purpose::OpenProject, "missing", "does not exist"},
  };
  for (const auto& c : cases) {
    ProjectFolderDialog dialog(c.purpose, root.path() / "full");
    EXPECT_EQ(dialog.directory().absolutePath().toStdString(), root.path().string()) << "starts beside the project";
    const auto path = root.path() / c.folder;
    const QString refusal = dialog.take(QString::fromStdString(path.string()));
    EXPECT_TRUE(refusal.contains(QLatin1String(c.refusal))) << c.folder << ": " << refusal.toStdString();
    if (*c.refusal) {
      EXPECT_TRUE(refusal.contains(QString::fromStdString(path.string()))) << refusal.toStdString();
      EXPECT_FALSE(dialog.folder());
      continue;
    }
    EXPECT_EQ(dialog.folder(), path);
    EXPECT_TRUE(std::filesystem::is_directory(path)) << c.folder;
  }
  EXPECT_EQ(root.list("full"), std::vector<std::string>{"data.txt"});
}

TEST(ProjectFolderDialog, ANameTypedIntoTheDialogBecomesTheNewProjectsFolder) {
  testing::TempFolder root;
  ProjectFolderDialog dialog(Purpose::NewProject, root.path() / "gone");
  EXPECT_EQ(dialog.directory().absolutePath(), QDir::homePath());  // no project folder to start beside
  dialog.setDirectory(QString::fromStdString(root.path().string()));
  dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("typed"));
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.folder(), root.path() / "typed");
  EXPECT_TRUE(std::filesystem::is_directory(root.path() / "typed"));
}

}  // namespace
}  // namespace charstack

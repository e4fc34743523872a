// The project folder dialog starts beside the current project, creates a typed new folder for a new
// project and refuses a folder that is not empty or does not exist, naming it.
#include <gtest/gtest.h>

#include <QLineEdit>

#include "support/fakes.hpp"
#include "ui/project_folder_dialog.hpp"

namespace charstack {
namespace {

TEST(ProjectFolderDialog, TakesEmptyOrNewFoldersForANewProjectAndRefusesTheRest) {
  testing::TempFolder root;
  root.write("full/data.txt", "a,1, 0, 0\n");
  root.write("file.txt", "x");
  std::filesystem::create_directory(root.path() / "empty");
  using enum ProjectFolderDialog::Purpose;
  const std::tuple<ProjectFolderDialog::Purpose, const char*, const char*> cases[] = {
      {NewProject, "fresh", ""},
      {NewProject, "empty", ""},
      {NewProject, "new/and/deeper", ""},
      {NewProject, "full", "is not empty"},
      {NewProject, "file.txt", "is a file"},
      {NewProject, "file.txt/sub", "could not be created"},
      {OpenProject, "full", ""},
      {OpenProject, "missing", "does not exist"}};
  for (const auto& [purpose, folder, refused] : cases) {
    ProjectFolderDialog dialog(purpose, root.path() / "full");
    EXPECT_EQ(dialog.directory().absolutePath().toStdString(), root.path().string()) << "beside the project";
    const QString path = QString::fromStdString((root.path() / folder).string());
    const QString refusal = dialog.take(path);
    EXPECT_TRUE(refusal.contains(QLatin1String(refused)) && (!*refused || refusal.contains(path)))
        << folder << ": " << refusal.toStdString();
    EXPECT_EQ(dialog.folder(), *refused ? std::nullopt : std::optional(root.path() / folder)) << folder;
    EXPECT_EQ(std::filesystem::is_directory(root.path() / folder),
              !*refused || refusal.contains("not empty"));
  }
  EXPECT_EQ(root.list("full"), std::vector<std::string>{"data.txt"});

  // A name typed into the dialog, with no project folder to start beside.
  ProjectFolderDialog dialog(NewProject, root.path() / "gone");
  EXPECT_EQ(dialog.directory().absolutePath(), QDir::homePath());
  dialog.setDirectory(QString::fromStdString(root.path().string()));
  dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("typed"));
  dialog.accept();
  EXPECT_TRUE(dialog.result() == QDialog::Accepted && dialog.folder() == root.path() / "typed" &&
              std::filesystem::is_directory(root.path() / "typed"));
}

}  // namespace
}  // namespace charstack

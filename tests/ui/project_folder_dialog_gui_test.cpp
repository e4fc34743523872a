// The project folder dialog starts beside the current project, creates a typed new folder for a new
// project and refuses a folder that is not empty or does not exist, naming it. The export folder
// chooser asks before it takes a typed folder that does not exist.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include "support/fakes.hpp"
#include "ui/dialogs.hpp"
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

TEST(ExportFolderChooser, OffersToMakeATypedFolderThatDoesNotExist) {
  testing::TempFolder root;
  QWidget window;
  DialogQuestions questions(&window, [&root] { return root.path() / "project"; });
  const QString typed = QString::fromStdString((root.path() / "pictures").string());
  for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
    QString asked;
    QTimer::singleShot(0, [&] {
      auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(chooser, nullptr);
      chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(typed);
      QTimer::singleShot(0, [&, chooser] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
          asked = box->text();
          QAbstractButton* button = box->button(answer);
          if (button) button->click();
          else box->close();
        }
        if (chooser->isVisible()) chooser->reject();  // No keeps the chooser open
      });
      QMetaObject::invokeMethod(chooser, "accept", Qt::DirectConnection);  // as the Choose button does
    });
    const std::optional<std::filesystem::path> chosen = questions.chooseExportFolder();
    EXPECT_TRUE(asked.contains("does not exist") && asked.contains(typed)) << asked.toStdString();
    EXPECT_EQ(chosen, answer == QMessageBox::Yes ? std::optional(root.path() / "pictures") : std::nullopt);
  }
}

}  // namespace
}  // namespace charstack

// The editor's questions as dialogs, and the list of keyboard shortcuts.
#pragma once

#include <functional>

#include "controller/session.hpp"

class QMenuBar;
class QWidget;

namespace charstack {

class DialogQuestions : public UserQuestions {
 public:
  // project tells where the open project is: the export choosers start beside it.
  DialogQuestions(QWidget* parent, std::function<std::filesystem::path()> project)
      : parent_(parent), project_(std::move(project)) {}

  bool replaceDataFileWithoutRecords() override;
  bool replaceChangedFiles(const std::vector<std::string>& files) override;
  bool saveIntoMovedFolder(const std::filesystem::path& now) override;
  bool writeThroughLinks(const std::vector<std::string>& paths) override;
  Unsaved unsavedChanges() override;
  InUse projectInUse(const std::filesystem::path& folder, const std::string& lockProblem) override;
  Recovered recoverWork(const RecoveredWork& work) override;
  bool takeChangedFile(const DiskChange& change) override;
  bool reloadChangedProject() override;
  bool saveBeforeCleanUp() override;
  std::optional<std::filesystem::path> chooseProjectFolder(bool forNewProject) override;
  std::optional<std::filesystem::path> chooseExportFile(const std::string& suggestedName) override;
  std::optional<std::filesystem::path> chooseExportFolder() override;
  std::vector<std::filesystem::path> choosePictureFiles(Table table) override;
  std::vector<std::string> chooseFilesToTrash(const std::vector<UnusedImageFile>& files) override;
  TrashReport moveToTrash(const ProjectFolder& folder, const std::vector<std::string>& paths) override;
  void tell(const QString& title, const QString& text, bool warning) override;

  // Where the last export went: the next chooser starts there.
  std::filesystem::path lastExportFolder;
  std::filesystem::path lastPictureFolder_;  // where the last added pictures came from

 private:
  QWidget* parent_;
  std::function<std::filesystem::path()> project_;
};

// Makes a dialog no larger than the available area of its screen (less room for a frame).
void fitDialogToScreen(QWidget& dialog);

// Lists every shortcut of the menus and the keys the widgets take.
void showKeyboardShortcuts(QWidget* parent, const QMenuBar* menus);

// Runs an export with a progress dialog that shows after half a second; its Cancel stops the export.
// The export's choices (scale, trim, numbers, sprite sheet) are the ones last made in the chooser of
// chooseExportFolder, kept in the settings.
Feedback exportWithProgress(QWidget* parent, const QString& title,
                            const std::function<Feedback(const ExportOptions&)>& run);

}  // namespace charstack

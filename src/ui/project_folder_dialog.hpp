// Choosing the folder of a new project or of one to open.
#pragma once

#include <QFileDialog>
#include <filesystem>
#include <optional>

namespace charstack {

// A folder dialog that starts beside the current project (in the folder that holds it, or the home
// folder when there is none), so that a new project does not land inside the open one. For a new
// project it takes an empty folder, or a typed name of a folder that does not exist yet, which it
// creates; a folder that holds anything is refused with a message, and so is a folder to open that
// does not exist.
class ProjectFolderDialog : public QFileDialog {
  Q_OBJECT

 public:
  enum class Purpose { NewProject, OpenProject };

  ProjectFolderDialog(Purpose purpose, const std::filesystem::path& currentProject,
                      QWidget* parent = nullptr);

  // The folder taken; none until one is.
  const std::optional<std::filesystem::path>& folder() const { return folder_; }

  // Takes a folder as the choice, creating it for a new project when it does not exist. Returns why
  // it refuses the folder, naming it; empty when it took it.
  QString take(const QString& path);

  void accept() override;

 private:
  Purpose purpose_;
  std::optional<std::filesystem::path> folder_;
};

// Asks for a project folder with the dialog; none when the user cancels.
std::optional<std::filesystem::path> askForProjectFolder(QWidget* parent, bool forNewProject,
                                                         const std::filesystem::path& currentProject);

}  // namespace charstack

#include "ui/project_folder_dialog.hpp"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <system_error>

#include "platform/files.hpp"

namespace charstack {

namespace {

// The folder that holds the project, when there is one; the home folder otherwise.
QString startFolder(const std::filesystem::path& project) {
  if (!project.empty()) {
    const QFileInfo info(fromPath(project));
    const QString parent = info.absoluteDir().absolutePath();
    if (info.isDir() && QFileInfo(parent).isDir()) return parent;
  }
  return QDir::homePath();
}

}  // namespace

ProjectFolderDialog::ProjectFolderDialog(Purpose purpose, const std::filesystem::path& currentProject,
                                         QWidget* parent)
    : QFileDialog(parent), purpose_(purpose) {
  setWindowTitle(purpose == Purpose::NewProject ? tr("New Project: Choose or Create an Empty Folder")
                                                : tr("Open Project"));
  // Qt's own dialog: the accept below decides what a typed name means.
  setOption(QFileDialog::DontUseNativeDialog);
  setOption(QFileDialog::ShowDirsOnly);
  setFileMode(QFileDialog::Directory);
  setDirectory(startFolder(currentProject));
}

QString ProjectFolderDialog::take(const QString& path) {
  const QString shown = QDir::toNativeSeparators(path);
  const QFileInfo info(path);
  if (info.exists() && !info.isDir()) return tr("%1 is a file, not a folder.").arg(shown);
  if (purpose_ == Purpose::OpenProject) {
    if (!info.exists()) return tr("%1 does not exist.").arg(shown);
  } else if (info.exists()) {
    if (!QDir(path).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
      return tr("%1 is not empty. A new project needs an empty folder: choose another one, or type the name "
                "of a new one.")
          .arg(shown);
  } else {
    std::error_code error;
    std::filesystem::create_directories(toPath(path), error);
    if (error || !QFileInfo(path).isDir())
      return tr("%1 could not be created: %2")
          .arg(shown, QString::fromLocal8Bit(error ? error.message() : std::string("not a folder")));
  }
  folder_ = toPath(QFileInfo(path).absoluteFilePath());
  return {};
}

void ProjectFolderDialog::accept() {
  const QString path = selectedFiles().value(0);
  if (path.isEmpty()) return;
  if (const QString refusal = take(path); !refusal.isEmpty()) {
    QMessageBox::warning(this, windowTitle(), refusal);
    return;
  }
  QDialog::accept();
}

std::optional<std::filesystem::path> askForProjectFolder(QWidget* parent, bool forNewProject,
                                                         const std::filesystem::path& currentProject) {
  ProjectFolderDialog dialog(
      forNewProject ? ProjectFolderDialog::Purpose::NewProject : ProjectFolderDialog::Purpose::OpenProject,
      currentProject, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.folder();
}

}  // namespace charstack

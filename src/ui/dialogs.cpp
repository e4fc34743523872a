#include "ui/dialogs.hpp"

#include <QCheckBox>
#include <QDateTime>
#include <QLocale>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <algorithm>
#include <atomic>
#include <functional>

#include "controller/recovery.hpp"
#include "ui/clean_up_dialog.hpp"
#include "ui/project_folder_dialog.hpp"

namespace charstack {

namespace {

QString folderText(const std::filesystem::path& folder) { return Session::folderText(folder); }

ExportOptions rememberedExportChoices();

// The export's choices, kept in the settings: the chooser shows the last ones, the export uses them.
const QString kScaleKey = QStringLiteral("export/scale");
const QString kTrimKey = QStringLiteral("export/trim");
const QString kNumbersKey = QStringLiteral("export/numbers");
const QString kSheetKey = QStringLiteral("export/sheet");
const QString kSheetNameKey = QStringLiteral("export/sheetName");

// A folder chooser that takes a typed folder that does not exist yet once the user agrees to have it
// made (the export makes it), instead of refusing it; beneath the folders, how the pictures come out.
class ExportFolderDialog : public QFileDialog {
 public:
  ExportFolderDialog(QWidget* parent, const QString& title, const QString& start)
      : QFileDialog(parent, title, start) {
    setFileMode(QFileDialog::Directory);
    setOption(QFileDialog::ShowDirsOnly);
    setOption(QFileDialog::DontUseNativeDialog);  // the check below needs the dialog's own accept
    addChoices();
  }
  void accept() override {
    if (sheet_->isChecked() && !isSheetName(sheetName_->text().toStdString())) {
      QMessageBox::warning(this, windowTitle(),
                           QObject::tr("Name the sprite sheet: its files get that name with .png and .json, "
                                       "and a name cannot hold \"/\"."));
      return;
    }
    const QStringList chosen = selectedFiles();
    if (chosen.size() == 1 && !QFileInfo::exists(chosen.front())) {
      const auto answer = QMessageBox::question(
          this, windowTitle(),
          QObject::tr("The folder %1 does not exist. Create it and export into it?").arg(QDir::toNativeSeparators(chosen.front())),
          QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
      if (answer == QMessageBox::Yes) remember(), QDialog::accept();
      return;
    }
    remember();
    QFileDialog::accept();
  }

 private:
  void addChoices() {
    auto* box = new QGroupBox(QObject::tr("Pictures"), this);
    auto* form = new QFormLayout(box);
    const ExportOptions last = rememberedExportChoices();
    scale_ = new QSpinBox(box);
    scale_->setRange(1, kMaxExportScale);
    scale_->setSuffix(QObject::tr(" x", "scale"));
    scale_->setValue(last.scale);
    form->addRow(QObject::tr("Scale (each pixel a block):"), scale_);
    trim_ = new QCheckBox(QObject::tr("Trim transparent borders"), box);
    trim_->setChecked(last.trim);
    form->addRow(trim_);
    numbers_ = new QCheckBox(QObject::tr("Record numbers in file names"), box);
    numbers_->setChecked(last.numbers);
    form->addRow(numbers_);
    sheet_ = new QCheckBox(QObject::tr("One sprite sheet (PNG and JSON), named:"), box);
    sheet_->setChecked(!last.sheet.empty());
    sheetName_ = new QLineEdit(QSettings().value(kSheetNameKey, QStringLiteral("sheet")).toString(), box);
    sheetName_->setEnabled(sheet_->isChecked());
    connect(sheet_, &QCheckBox::toggled, sheetName_, &QWidget::setEnabled);
    form->addRow(sheet_, sheetName_);
    if (auto* grid = qobject_cast<QGridLayout*>(layout())) grid->addWidget(box, grid->rowCount(), 0, 1, -1);
  }
  void remember() const {
    QSettings settings;
    settings.setValue(kScaleKey, scale_->value());
    settings.setValue(kTrimKey, trim_->isChecked());
    settings.setValue(kNumbersKey, numbers_->isChecked());
    settings.setValue(kSheetKey, sheet_->isChecked());
    settings.setValue(kSheetNameKey, sheetName_->text());
  }

  QSpinBox* scale_ = nullptr;
  QCheckBox* trim_ = nullptr;
  QCheckBox* numbers_ = nullptr;
  QCheckBox* sheet_ = nullptr;
  QLineEdit* sheetName_ = nullptr;
};

bool yes(QWidget* parent, const QString& title, const QString& text, QMessageBox::StandardButtons buttons,
         QMessageBox::StandardButton yesButton, QMessageBox::StandardButton defaultButton) {
  return QMessageBox::question(parent, title, text, buttons, defaultButton) == yesButton;
}

}  // namespace

bool DialogQuestions::replaceDataFileWithoutRecords() {
  return yes(parent_, QObject::tr("Replace data.txt?"),
             QObject::tr("%1 holds text but no record the editor can read. Replace it with the project's records? Its "
                         "old text is kept beside it as %1.bak.")
                 .arg(QString::fromLatin1(kDataFileName)),
             QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, QMessageBox::No);
}

bool DialogQuestions::replaceChangedFiles(const std::vector<std::string>& files) {
  QStringList names;
  for (const std::string& f : files) names << QString::fromStdString(f);
  return yes(parent_, QObject::tr("Files changed on disk"),
             QObject::tr("Another program changed these files, or put them where the editor had read none, since "
                         "the editor last read or wrote them:\n%1\nReplace them with the editor's version?")
                 .arg(names.join(QLatin1Char('\n'))),
             QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, QMessageBox::No);
}

bool DialogQuestions::saveIntoMovedFolder(const std::filesystem::path& now) {
  return yes(parent_, QObject::tr("Project folder moved"),
             QObject::tr("The project folder was moved or renamed to %1 while it was open. Save the project there?")
                 .arg(folderText(now)),
             QMessageBox::Save | QMessageBox::Cancel, QMessageBox::Save, QMessageBox::Save);
}

bool DialogQuestions::writeThroughLinks(const std::vector<std::string>& paths) {
  QStringList names;
  for (const std::string& p : paths) names << QString::fromStdString(p);
  return yes(parent_, QObject::tr("Links out of the project"),
             QObject::tr("These are links that lead out of the project folder:\n%1\nSave the project through them, "
                         "writing and removing files outside the project folder?")
                 .arg(names.join(QLatin1Char('\n'))),
             QMessageBox::Save | QMessageBox::Cancel, QMessageBox::Save, QMessageBox::Cancel);
}

UserQuestions::Unsaved DialogQuestions::unsavedChanges() {
  const auto answer = QMessageBox::question(parent_, QObject::tr("Unsaved changes"),
                                            QObject::tr("Save the changes to the project before closing it?"),
                                            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                            QMessageBox::Save);
  if (answer == QMessageBox::Save) return Unsaved::Save;
  if (answer == QMessageBox::Discard) return Unsaved::Discard;
  return Unsaved::Cancel;
}

UserQuestions::InUse DialogQuestions::projectInUse(const std::filesystem::path& folder, const std::string& lockProblem) {
  const QString text =
      lockProblem.empty()
          ? QObject::tr("%1 is open in another window. Open it read-only here, or open it anyway (two windows "
                        "saving one project can undo each other's work)?")
                .arg(folderText(folder))
          : QObject::tr("%1 cannot be locked: %2. Nothing keeps another window from saving it at the same time. "
                        "Open it read-only, or open it anyway?")
                .arg(folderText(folder), QString::fromStdString(lockProblem));
  QMessageBox box(QMessageBox::Warning,
                  lockProblem.empty() ? QObject::tr("Project already open") : QObject::tr("Project cannot be locked"),
                  text, QMessageBox::NoButton, parent_);
  QPushButton* readOnly = box.addButton(QObject::tr("Open Read-Only"), QMessageBox::AcceptRole);
  QPushButton* anyway = box.addButton(QObject::tr("Open Anyway"), QMessageBox::DestructiveRole);
  box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(readOnly);
  box.exec();
  if (box.clickedButton() == readOnly) return InUse::ReadOnly;
  if (box.clickedButton() == anyway) return InUse::OpenAnyway;
  return InUse::Cancel;
}

UserQuestions::Recovered DialogQuestions::recoverWork(const RecoveredWork& work) {
  const QString when = QLocale().toString(QDateTime::fromMSecsSinceEpoch(work.writtenMs), QLocale::ShortFormat);
  const bool restorable = work.mismatch.isEmpty();
  const QString text =
      restorable ? QObject::tr("The editor stopped before the last changes to this project were saved. Its unsaved work "
                               "(%n step(s) of the history, kept at %1) can be restored, with its undo history. "
                               "Restored changes stay unsaved until you save them.", nullptr, work.steps)
                       .arg(when)
                 : QObject::tr("The editor stopped before the last changes to this project were saved, and its unsaved "
                               "work was kept at %1, but it cannot be restored: %2. Keep it aside in %3, or discard it?")
                       .arg(when, work.mismatch, folderText(work.folder));
  QMessageBox box(restorable ? QMessageBox::Question : QMessageBox::Warning, QObject::tr("Recover unsaved work"), text,
                  QMessageBox::NoButton, parent_);
  QPushButton* restore = restorable ? box.addButton(QObject::tr("Restore"), QMessageBox::AcceptRole) : nullptr;
  QPushButton* aside = box.addButton(QObject::tr("Keep Aside"), QMessageBox::RejectRole);
  QPushButton* discard = box.addButton(QObject::tr("Discard"), QMessageBox::DestructiveRole);
  box.setDefaultButton(restore ? restore : aside);
  box.setEscapeButton(aside);
  box.exec();
  if (restore && box.clickedButton() == restore) return Recovered::Restore;
  return box.clickedButton() == discard ? Recovered::Discard : Recovered::KeepAside;
}

bool DialogQuestions::takeChangedFile(const DiskChange& change) {
  QMessageBox box(QMessageBox::Question, QObject::tr("Picture changed on disk"),
                  QObject::tr("%1 was changed by another program, and its picture was also changed in the editor. "
                              "Which picture should the record keep?")
                      .arg(QString::fromStdString(change.file)),
                  QMessageBox::NoButton, parent_);
  QPushButton* file = box.addButton(QObject::tr("Take the File's Picture"), QMessageBox::AcceptRole);
  box.addButton(QObject::tr("Keep the Editor's Picture"), QMessageBox::RejectRole);
  box.exec();
  return box.clickedButton() == file;
}

bool DialogQuestions::reloadChangedProject() {
  return yes(parent_, QObject::tr("Project changed on disk"),
             QObject::tr("%1 was changed by another program. Open the project again from disk?")
                 .arg(QString::fromLatin1(kDataFileName)),
             QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, QMessageBox::Yes);
}

bool DialogQuestions::saveBeforeCleanUp() {
  return yes(parent_, QObject::tr("Clean Up Unused Images"),
             QObject::tr("The project has unsaved changes. Unused images are those no record of the saved project "
                         "refers to: save now?"),
             QMessageBox::Save | QMessageBox::Cancel, QMessageBox::Save, QMessageBox::Save);
}

std::optional<std::filesystem::path> DialogQuestions::chooseProjectFolder(bool forNewProject) {
  return askForProjectFolder(parent_, forNewProject, project_());
}

std::optional<std::filesystem::path> DialogQuestions::chooseExportFile(const std::string& suggestedName) {
  const QString start = fromPath(lastExportFolder.empty() ? project_().parent_path() : lastExportFolder);
  const QString file = QFileDialog::getSaveFileName(parent_, QObject::tr("Export Picture"),
                                                    QDir(start).filePath(QString::fromStdString(suggestedName)),
                                                    QObject::tr("PNG pictures (*.png)"));
  if (file.isEmpty()) return std::nullopt;
  lastExportFolder = toPath(file).parent_path();
  return toPath(file);
}

std::optional<std::filesystem::path> DialogQuestions::chooseExportFolder() {
  const QString start = fromPath(lastExportFolder.empty() ? project_().parent_path() : lastExportFolder);
  ExportFolderDialog dialog(parent_, QObject::tr("Export All Characters Into"), start);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const QString folder = dialog.selectedFiles().front();
  if (folder.isEmpty()) return std::nullopt;
  lastExportFolder = toPath(folder);
  return toPath(folder);
}

std::vector<std::filesystem::path> DialogQuestions::choosePictureFiles(Table table) {
  const QStringList chosen = QFileDialog::getOpenFileNames(
      parent_, table == Table::Layers ? QObject::tr("Add Layers from Files") : QObject::tr("Add Characters from Files"),
      fromPath(lastPictureFolder_.empty() ? project_() : lastPictureFolder_),
      QObject::tr("Pictures (*.png *.jpg *.jpeg *.bmp *.gif *.webp *.tif *.tiff *.tga);;All files (*)"));
  std::vector<std::filesystem::path> files;
  for (const QString& file : chosen) files.push_back(toPath(file));
  if (!files.empty()) lastPictureFolder_ = files.front().parent_path();
  return files;
}

std::vector<std::string> DialogQuestions::chooseFilesToTrash(const std::vector<UnusedImageFile>& files) {
  CleanUpDialog dialog(files, parent_);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.chosen();
}

TrashReport DialogQuestions::moveToTrash(const ProjectFolder& folder, const std::vector<std::string>& paths) {
  return CleanUpDialog::moveToTrash(folder, paths, parent_);
}

void DialogQuestions::tell(const QString& title, const QString& text, bool warning) {
  if (warning)
    QMessageBox::warning(parent_, title, text);
  else
    QMessageBox::information(parent_, title, text);
}

void fitDialogToScreen(QWidget& dialog) {
  const QWidget* over = dialog.parentWidget() ? dialog.parentWidget()->window() : nullptr;
  QScreen* screen = over ? over->screen() : dialog.screen();
  if (!screen) return;
  const QSize room = screen->availableGeometry().size() - QSize(16, 48);
  dialog.resize(dialog.size().boundedTo(room));
  dialog.setMaximumSize(room);
}

void showKeyboardShortcuts(QWidget* parent, const QMenuBar* menus) {
  QString rows;
  auto row = [&rows](const QString& keys, const QString& what) {
    rows += QStringLiteral("<tr><td><b>%1</b>&nbsp;&nbsp;</td><td>%2</td></tr>").arg(keys.toHtmlEscaped(), what.toHtmlEscaped());
  };
  // The menus of the menu bar in their order, with their submenus.
  std::function<void(const QList<QAction*>&)> list = [&](const QList<QAction*>& actions) {
    for (QAction* action : actions) {
      if (action->menu()) list(action->menu()->actions());
      for (const QKeySequence& keys : action->shortcuts())
        row(keys.toString(QKeySequence::NativeText), action->text().remove(QLatin1Char('&')));
    }
  };
  list(menus->actions());
  row(QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText),
      QObject::tr("Paste an image into the focused image well"));
  row(QObject::tr("Delete, Backspace"), QObject::tr("Empty the focused image well"));
  row(QObject::tr("Delete, Backspace"), QObject::tr("Remove the selected records of the focused table"));
  row(QObject::tr("Up, Down"), QObject::tr("Select the row above or below"));
  row(QObject::tr("Shift+Up, Shift+Down, Ctrl+click, Shift+click"), QObject::tr("Select several layers"));
  row(QObject::tr("Drag rows in a table"), QObject::tr("Put the records in another place of the list"));
  row(QObject::tr("Right-click in a table"), QObject::tr("What can be done with the selected records"));
  row(QObject::tr("Space"), QObject::tr("Show or hide the layer whose eye is the current cell"));
  row(QObject::tr("F2, or type"), QObject::tr("Edit the current cell"));
  row(QObject::tr("Arrow keys on the canvas"), QObject::tr("Move the character or the selected layers by one unit (ten with Shift)"));
  row(QObject::tr("Alt+arrow keys on the canvas"), QObject::tr("Move the character with all its layers by one unit (ten with Shift)"));
  row(QObject::tr("Click on the canvas"), QObject::tr("Select the topmost picture under the pointer"));
  row(QObject::tr("Drag on the canvas"),
      QObject::tr("Move the picture under the pointer with the other selected layers (over no picture: what is selected)"));
  row(QObject::tr("Shift+drag on the canvas"), QObject::tr("Move along one axis only"));
  row(QObject::tr("Ctrl+drag on the canvas"), QObject::tr("Move the character with all its layers"));
  row(QObject::tr("Right-click on the canvas"), QObject::tr("Choose one of the records under the pointer"));
  row(QObject::tr("Tab"), QObject::tr("Go from the tables on to the canvas"));
  row(QObject::tr("Ctrl+wheel on the canvas"), QObject::tr("Zoom in or out about the pointer"));
  row(QObject::tr("Middle button drag, or Space and drag"), QObject::tr("Pan the canvas"));
  row(QObject::tr("Wheel on the canvas"), QObject::tr("Scroll the canvas"));
  // A list that scrolls, in a dialog no larger than the screen: its Close button stays in reach.
  QDialog box(parent);
  box.setWindowTitle(QObject::tr("Keyboard Shortcuts"));
  auto* text = new QTextBrowser(&box);
  text->setHtml(QStringLiteral("<table>%1</table>").arg(rows));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &box);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
  auto* layout = new QVBoxLayout(&box);
  layout->addWidget(text);
  layout->addWidget(buttons);
  text->document()->setTextWidth(text->document()->idealWidth());
  const QSize wanted(static_cast<int>(text->document()->idealWidth()) + 60, static_cast<int>(text->document()->size().height()) + 110);
  box.resize(wanted);
  fitDialogToScreen(box);
  box.exec();
}

namespace {
ExportOptions rememberedExportChoices() {
  QSettings settings;
  ExportOptions options;
  options.scale = std::clamp(settings.value(kScaleKey, 1).toInt(), 1, kMaxExportScale);
  options.trim = settings.value(kTrimKey, false).toBool();
  options.numbers = settings.value(kNumbersKey, true).toBool();
  const std::string sheet = settings.value(kSheetNameKey).toString().toStdString();
  if (settings.value(kSheetKey, false).toBool() && isSheetName(sheet)) options.sheet = sheet;
  return options;
}
}  // namespace

Feedback exportWithProgress(QWidget* parent, const QString& title,
                            const std::function<Feedback(const ExportOptions&)>& run) {
  // The pictures are made on other threads; this one keeps the dialog up to date.
  QProgressDialog progress(title, QObject::tr("Cancel"), 0, 1000, parent);
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(500);
  std::atomic<bool> cancel{false};
  ExportOptions options = rememberedExportChoices();
  options.cancel = &cancel;
  options.progress = [&](size_t done, size_t total) {
    progress.setValue(total ? static_cast<int>(done * 1000 / total) : 0);
    cancel = progress.wasCanceled();
  };
  return run(options);
}

}  // namespace charstack

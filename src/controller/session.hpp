// The editor's work on one project at a time, as the window's menus and buttons ask for it: opening,
// saving with its questions, exports, adding layers from files, cleaning up, and what other programs
// change on disk. Each action answers with what the window should tell the user.
#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

#include "canvas/export.hpp"
#include "controller/autosave.hpp"
#include "controller/editor.hpp"
#include "controller/saving.hpp"
#include "project/trash.hpp"
#include "project/unused_images.hpp"

namespace charstack {

class FolderWatch;
struct FolderEvent;

// What the window tells the user after an action.
struct Feedback {
  QString status;                 // a line for the status bar; empty: none
  QString problemsTitle;          // with problems: the title of the Problems panel
  std::vector<Problem> problems;  // listed in the Problems panel
  QString messageTitle, message;  // a message box; empty: none
  bool warning = false;
  bool empty() const { return status.isEmpty() && problems.empty() && message.isEmpty(); }
};

// What the editor asks the user; the window answers with dialogs, tests with fakes.
class UserQuestions : public SaveQuestions {
 public:
  enum class Unsaved { Save, Discard, Cancel };
  enum class InUse { ReadOnly, OpenAnyway, Cancel };
  // The project has unsaved changes and is about to close.
  virtual Unsaved unsavedChanges() = 0;
  // Unsaved work of the project just opened was recovered after a crash: restore it, keep it aside
  // where no open looks for it, or discard it? (A work with a mismatch cannot be restored.)
  enum class Recovered { Restore, KeepAside, Discard };
  virtual Recovered recoverWork(const RecoveredWork& work) = 0;
  // Another window has the project in `folder` open (lockProblem empty), or nobody can lock it
  // (lockProblem says why: then nothing guards against a second window).
  virtual InUse projectInUse(const std::filesystem::path& folder, const std::string& lockProblem) = 0;
  // A picture changed on disk and in the editor: keep the file's (true) or the editor's?
  virtual bool takeChangedFile(const DiskChange& change) = 0;
  // "data.txt" changed on disk: open the project again?
  virtual bool reloadChangedProject() = 0;
  // Unused files are those of the saved project: save first?
  virtual bool saveBeforeCleanUp() = 0;
  // Choosers: a folder for a project (new: an empty one), a file or folder for exported pictures, the
  // unused files to move to the trash. None or empty when the user cancelled.
  virtual std::optional<std::filesystem::path> chooseProjectFolder(bool forNewProject) = 0;
  virtual std::optional<std::filesystem::path> chooseExportFile(const std::string& suggestedName) = 0;
  virtual std::optional<std::filesystem::path> chooseExportFolder() = 0;
  // Picture files to add as new layers (or characters); empty when the user cancelled.
  virtual std::vector<std::filesystem::path> choosePictureFiles(Table table) = 0;
  virtual std::vector<std::string> chooseFilesToTrash(const std::vector<UnusedImageFile>& files) = 0;
  // Moves the chosen files (paths inside the project folder) to the trash while the user sees how far
  // it got and may cancel (trashFiles does the moving).
  virtual TrashReport moveToTrash(const ProjectFolder& folder, const std::vector<std::string>& paths) = 0;
  // Tells the user something that needs a message box.
  virtual void tell(const QString& title, const QString& text, bool warning) = 0;
};

class Session {
  Q_DECLARE_TR_FUNCTIONS(Session)

 public:
  // Opens the project in `folder` into list and state (the program passes the shared instances).
  Session(CharacterList& list, EditorState& state, const std::filesystem::path& folder, UserQuestions& questions);
  ~Session();

  Editor& controller() { return *controller_; }

  // What opening the project found (problems, an interrupted save completed).
  Feedback loaded() const;
  // When another window has the project open, asks how to go on: false when the user cancelled.
  bool settleOwnership();
  // Offers the unsaved work a crash left of the project just opened (see Autosave); none when there
  // was none. From then on the unsaved work of this project is kept for recovery.
  std::optional<Feedback> recoverUnsavedWork();
  Autosave& autosave() { return *autosave_; }

  // Saves, asking what the save must know, and tells how it went. progress is called now and then.
  Feedback save(const std::function<void(size_t done, size_t total)>& progress = {});
  bool saving() const { return saving_; }
  // Save As…: the project written into a new (empty) folder the user chooses, through the save
  // transaction, then opened there. None when the user cancelled.
  std::optional<Feedback> saveAs();
  // Before the project closes: asks about unsaved changes; false when the user cancelled, or chose to
  // save and the save failed (its feedback goes to `feedback`).
  bool settleUnsavedChanges(Feedback& feedback);
  // Opens another folder after settling unsaved changes (unless `settled` already) and asking about a
  // project open elsewhere; none when nothing was opened (the user cancelled), else what the open found.
  std::optional<Feedback> openProject(const std::filesystem::path& folder, bool settled = false);
  // New Project… and Open Project…: the user chooses the folder.
  std::optional<Feedback> openChosenProject(bool forNewProject);

  // The selected character's picture into a PNG file the user chooses; all characters into a folder.
  Feedback exportPicture();
  Feedback exportAllCharacters(const ExportOptions& options = {});
  Feedback exportAllCharactersTo(const std::filesystem::path& folder, const ExportOptions& options = {});
  // One new record per image file, named after the file, as Editor::insertPictures puts pictures
  // in (a table's records, before `row` when given): one step. Files that are no image are named.
  Feedback addPictureFiles(Table table, const std::vector<std::filesystem::path>& files,
                           std::optional<int64_t> row = std::nullopt);
  // Add Layers from Files… and Add Characters from Files…: the user chooses the files.
  Feedback addChosenPictureFiles(Table table);
  // Lists the unused image files of the saved project (saving first when the user agrees) and moves
  // the ones the user chooses to the trash.
  Feedback cleanUpUnusedImages();

  // Other programs: the folders are watched; the files that changed are looked at off the window's
  // thread once the changes settle for a moment, and what was found is applied unless a save runs
  // (then it waits for it). What the editor did goes to the listener. lookAtDiskNow does it at once,
  // on this thread, for every file of the project, or for the files the watch has told of.
  void setDiskListener(std::function<void(const Feedback&)> listener) { diskListener_ = std::move(listener); }
  void lookAtDiskNow(bool everything = true);
  // No look at the disk, nor a check of the pictures just opened, runs or waits to run.
  bool idle() const { return !scanning_ && !scanTimer_.isActive() && checking_ == 0; }

  static QString folderText(const std::filesystem::path& folder);

 private:
  void watchProject();
  void checkPictures();
  void noteChanges(const std::vector<FolderEvent>& events);
  DiskScanRequest takeRequest(bool everything);
  // Looks at the files off the window's thread now, or after the look or save that runs.
  void startScan();
  void applyScan(const DiskScanResult& result);
  Feedback handleDiskChanges(const std::vector<DiskChange>& changes);
  void tellFailedSave(const SaveReport& report, Feedback& feedback);

  UserQuestions& questions_;
  std::unique_ptr<Editor> controller_;
  std::unique_ptr<Autosave> autosave_;
  bool saving_ = false;
  bool scanning_ = false;
  bool applying_ = false;  // what a look found is being applied (its questions may be open)
  uint64_t opened_ = 0;    // projects opened: a check of the pictures tells which one it read
  std::atomic<int> checking_{0};  // checks of pictures that run
  QObject context_;  // the window's thread, for what a look sends back
  QThreadPool pool_;
  QTimer scanTimer_;
  std::unique_ptr<FolderWatch> watch_;
  // What the watch told of since the last look: files of "img/", or anything (events were lost).
  std::unordered_set<std::string> changedFiles_;
  bool changedAnything_ = false;
  std::function<void(const Feedback&)> diskListener_;
};

}  // namespace charstack

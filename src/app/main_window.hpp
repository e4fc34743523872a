// The editor window: both tables with their image wells, the canvas and the buttons, around one
// InitLayer controller for one project folder.
#pragma once

#include <QMainWindow>
#include <filesystem>
#include <memory>

#include "canvas/export.hpp"
#include "controller/init_layer.hpp"
#include "platform/qt_timer.hpp"
#include "project/unused_images.hpp"

class QAction;
class QDockWidget;
class QFileSystemWatcher;
class QTimer;
class QMenu;
class QPushButton;
class QSplitter;
class QTreeWidget;
class QUndoStack;

namespace charstack {

class CanvasWidget;
class ImageWellWidget;
class MirrorTableModel;
class MirrorTableView;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Loads the project in folder into list and state (the program passes the shared instances).
  MainWindow(CharacterList& list, EditorState& state, const std::filesystem::path& folder,
             QWidget* parent = nullptr);
  ~MainWindow() override;

  InitLayer& controller() { return *controller_; }

  CanvasWidget* canvas() const { return canvas_; }
  QMenu* viewMenu() const { return viewMenu_; }

  // Saves the project (the Save button and Ctrl+S) and tells the user how it went.
  SaveReport save();

  // Opens another project folder in this window, after asking about unsaved changes as closing
  // does. A folder without "data.txt" opens as an empty project. False when the user cancelled.
  bool openProject(const std::filesystem::path& folder);
  // Writes the selected character's picture as a PNG file; false (and says why) when it cannot.
  bool exportPicture(const std::filesystem::path& file);
  // Writes one picture per character into a folder and tells the user what was written and skipped.
  ExportReport exportAllCharacters(const std::filesystem::path& folder);
  // Adds one new layer per image file to the selected character, named after the file.
  void addLayersFromFiles(const QStringList& paths);
  // Lists the unused image files of the saved project (saving first when asked) and moves the ones
  // the user chooses to the trash.
  void cleanUpUnusedImages();

  // From now on the window keeps its size, its panes' sizes and the recent projects in the settings;
  // restores what was kept. The program calls this; tests leave the settings alone.
  void rememberSettings();

  // The Edit menu: Undo and Redo at its top.
  QMenu* editMenu() const { return editMenu_; }
  QMenu* fileMenu() const { return fileMenu_; }

  // Asks for a project folder: an existing one to open, or an empty one (which can be made in the
  // dialog) for a new project. None when the user cancelled.
  static std::optional<std::filesystem::path> askForProjectFolder(QWidget* parent, bool forNewProject);

  // What the status bar says about a save, and about the problems found when opening.
  static QString describeSave(const SaveReport& report, const QString& folder);
  static QString describeLoadProblems(const std::vector<Problem>& problems);

  enum class CloseChoice { Save, Discard, Cancel };
  enum class ProjectInUseChoice { ReadOnly, OpenAnyway, Cancel };

 protected:
  void closeEvent(QCloseEvent* event) override;

  // Shows a failed save in a dialog. Tests override this to stay unattended.
  virtual void showSaveFailure(const QString& text);
  // Asks what to do with unsaved changes when the window closes. Tests override this too.
  virtual CloseChoice askAboutUnsavedChanges();
  // Asks whether a "data.txt" that held no record may be replaced. Tests override this too.
  virtual bool askToReplaceDataFile();
  // Asks whether files that another program changed may be replaced by the save. Tests override this.
  virtual bool askToReplaceChangedFiles(const std::vector<std::string>& files);
  // Asks which picture a record keeps when its file changed on disk and the editor changed it too:
  // true for the file's. Tests override this too.
  virtual bool askToTakeChangedFile(const DiskChange& change);
  // Asks whether to open the project again after "data.txt" changed on disk. Tests override this.
  virtual bool askToReload();
  // Asks whether to save into the project folder's new place after it was moved. Tests override this.
  virtual bool askToSaveIntoMovedFolder(const std::filesystem::path& now);
  // Asks how to open a project that another window has open. Tests override this.
  virtual ProjectInUseChoice askAboutProjectInUse(const std::filesystem::path& folder);
  // The file and folder choosers and message boxes of the menu commands. Tests override these too.
  virtual std::optional<std::filesystem::path> chooseProjectFolder(bool forNewProject);
  virtual std::optional<std::filesystem::path> chooseExportFile(const QString& suggestedName);
  virtual std::optional<std::filesystem::path> chooseExportFolder();
  // Shows the unused files and returns the ones to move to the trash.
  virtual std::vector<std::string> chooseFilesToTrash(const std::vector<UnusedImageFile>& files);
  // Asks whether to save before listing unused files.
  virtual bool askToSaveBeforeCleanUp();
  virtual void showMessage(const QString& title, const QString& text, bool warning);

 private:
  void buildWidgets(CharacterList& list, EditorState& state);
  void buildMenus();
  void fillRecentMenu();
  void showKeyboardShortcuts();
  // Title, highlights, problems and status for the folder just loaded.
  void showLoadedProject();
  // Save enabled or not, and the title, for a project open read-only or not.
  void showAccess(bool readOnly);
  // Asks about unsaved changes; false when the user cancelled or the save failed.
  bool settleUnsavedChanges();
  // The View menu (zoom, fit, checkerboard) after the Edit menu, and the zoom in the status bar.
  void buildViewMenu();
  // Commits open cell editors and copies the selected rows into the model at once.
  void commitOpenEdits();
  void showStatus(const QString& text);
  // Lists problems, with their files and reasons, in the Problems panel and shows it.
  void showProblems(const QString& title, const std::vector<Problem>& problems);
  // Highlights in each table the row its selection names, and no other.
  void syncHighlights();
  // After an edit the message about the last save is out of date, and the modified mark may change.
  void noteEdit();
  // Shows the modified mark exactly while a save would write something else than the last one.
  void updateModifiedMark();
  // Looks at the project's files off the window's thread after another program changed them, and
  // tells the user what the editor did.
  void scanDisk();
  void handleDiskChanges(const std::vector<DiskChange>& changes);
  void watchFiles();

  QtTimerService timers_;
  std::unique_ptr<InitLayer> controller_;

  // Owned by the window's widget tree.
  MirrorTableView* characterTable_ = nullptr;
  MirrorTableView* layerTable_ = nullptr;
  MirrorTableModel* characterModel_ = nullptr;
  MirrorTableModel* layerModel_ = nullptr;
  ImageWellWidget* characterWell_ = nullptr;
  ImageWellWidget* layerWell_ = nullptr;
  CanvasWidget* canvas_ = nullptr;
  QPushButton* insertCharacter_ = nullptr;
  QPushButton* insertLayer_ = nullptr;
  QPushButton* removeCharacter_ = nullptr;
  QPushButton* removeLayer_ = nullptr;
  QPushButton* save_ = nullptr;
  QAction* saveAction_ = nullptr;
  QSplitter* panes_ = nullptr;
  QMenu* fileMenu_ = nullptr;
  QMenu* editMenu_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QDockWidget* problemsDock_ = nullptr;
  QTreeWidget* problemsList_ = nullptr;
  QUndoStack* history_ = nullptr;
  QMenu* viewMenu_ = nullptr;
  QString saveMessage_;  // the status bar's message about the last save, while it shows
  bool saving_ = false;
  bool scanning_ = false;
  QFileSystemWatcher* watcher_ = nullptr;
  QTimer* scanSoon_ = nullptr;
  bool remembersSettings_ = false;
  std::filesystem::path lastExportFolder_;
};

}  // namespace charstack

// The editor window: both tables with their image wells, the canvas and the buttons, around one
// InitLayer controller for one project folder.
#pragma once

#include <QMainWindow>
#include <filesystem>
#include <memory>

#include "controller/init_layer.hpp"
#include "platform/qt_timer.hpp"

class QDockWidget;
class QMenu;
class QPushButton;
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

  MirrorTableView* characterTable() const { return characterTable_; }
  MirrorTableView* layerTable() const { return layerTable_; }
  MirrorTableModel* characterModel() const { return characterModel_; }
  MirrorTableModel* layerModel() const { return layerModel_; }
  ImageWellWidget* characterWell() const { return characterWell_; }
  ImageWellWidget* layerWell() const { return layerWell_; }
  CanvasWidget* canvas() const { return canvas_; }
  QPushButton* insertCharacterButton() const { return insertCharacter_; }
  QPushButton* insertLayerButton() const { return insertLayer_; }
  QPushButton* removeCharacterButton() const { return removeCharacter_; }
  QPushButton* removeLayerButton() const { return removeLayer_; }
  QPushButton* saveButton() const { return save_; }
  QUndoStack* history() const { return history_; }
  QMenu* editMenu() const { return editMenu_; }
  QMenu* viewMenu() const { return viewMenu_; }

  // Saves the project (the Save button and Ctrl+S) and tells the user how it went.
  SaveReport save();

  // What the status bar says about a save, and about the problems found when opening.
  static QString describeSave(const SaveReport& report, const QString& folder);
  static QString describeLoadProblems(const std::vector<Problem>& problems);

  enum class CloseChoice { Save, Discard, Cancel };

 protected:
  void closeEvent(QCloseEvent* event) override;

  // Shows a failed save in a dialog. Tests override this to stay unattended.
  virtual void showSaveFailure(const QString& text);
  // Asks what to do with unsaved changes when the window closes. Tests override this too.
  virtual CloseChoice askAboutUnsavedChanges();
  // Asks whether a "data.txt" that held no record may be replaced. Tests override this too.
  virtual bool askToReplaceDataFile();

 private:
  void buildWidgets(CharacterList& list, EditorState& state);
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
  QDockWidget* problemsDock_ = nullptr;
  QTreeWidget* problemsList_ = nullptr;
  QUndoStack* history_ = nullptr;
  QMenu* editMenu_ = nullptr;
  QMenu* viewMenu_ = nullptr;
  QString saveMessage_;  // the status bar's message about the last save, while it shows
  bool saving_ = false;
};

}  // namespace charstack

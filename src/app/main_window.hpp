// The editor window: both tables with their image wells, the canvas and the buttons, wired to one
// Session on one project folder at a time.
#pragma once

#include <QMainWindow>
#include <filesystem>
#include <memory>

#include "controller/session.hpp"

class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTreeWidget;

namespace charstack {

class CanvasWidget;
class ImageWellWidget;
class MirrorTableModel;
class MirrorTableView;
class RecordActions;

class MainWindow : public QMainWindow, private TableObserver {
  Q_OBJECT

 public:
  // Opens the project in folder into list and state (the program passes the shared instances).
  // questions answers the editor's questions; none: dialogs.
  MainWindow(CharacterList& list, EditorState& state, const std::filesystem::path& folder,
             UserQuestions* questions = nullptr, QWidget* parent = nullptr);
  ~MainWindow() override;

  Session& session() { return *session_; }
  Editor& controller() { return session_->controller(); }

  // Saves the project (the Save button and Ctrl+S) and shows how it went.
  void save();
  // Opens another folder as File > Open Project does; false when nothing was opened.
  bool openProject(const std::filesystem::path& folder, bool settled = false);
  // File > Close Project: settles the unsaved changes, then opens the project the user chooses next,
  // or closes the window when the user chooses none.
  void closeProject();
  // From now on the window keeps its size, its panes' sizes and the recent projects in the settings;
  // restores what was kept. The program calls this; tests leave the settings alone.
  void rememberSettings();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildWidgets(CharacterList& list, EditorState& state);
  void buildTables(QWidget* central);
  void buildPanes(QWidget* central);
  void buildProblemsPanel();
  void buildMenus();
  void buildFileMenu();
  void buildViewMenu();
  void fillRecentMenu();
  // Shows what an action did: the status line, the Problems panel, a message box.
  void tell(const Feedback& feedback);
  // Title, access, highlights and what the open found, for the project just opened.
  void showProject(const std::optional<Feedback>& opened);
  // Commits the text of an open cell editor, as leaving the cell would.
  void commitOpenEdits();
  // Highlights in each table the row its selection names, and shows the modified mark.
  void syncHighlights();
  void updateModifiedMark();

  void beginRows(Table, Change, int64_t, int64_t) override {}
  void endRows(Table) override { updateModifiedMark(); }
  void rowsChanged(Table, int64_t, int64_t) override { updateModifiedMark(); }
  void selectionChanged() override { syncHighlights(); }

  std::unique_ptr<UserQuestions> ownQuestions_;
  UserQuestions* questions_ = nullptr;
  std::unique_ptr<Session> session_;
  bool settled_ = false;  // the unsaved changes were settled for good: the window closes without asking
  std::unique_ptr<RecordActions> actions_;  // goes before the session it works on

  // Owned by the window's widget tree.
  MirrorTableView* characterTable_ = nullptr;
  MirrorTableView* layerTable_ = nullptr;
  ImageWellWidget* characterWell_ = nullptr;
  ImageWellWidget* layerWell_ = nullptr;
  CanvasWidget* canvas_ = nullptr;
  QPushButton* save_ = nullptr;
  QAction* saveAction_ = nullptr;
  QSplitter* panes_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QDockWidget* problemsDock_ = nullptr;
  QTreeWidget* problemsList_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QString saveMessage_;  // the status bar's message about the last save, while it shows
  QString pointerText_;  // where the pointer is on the canvas during a drag step
  bool remembersSettings_ = false;
};

}  // namespace charstack

#include "app/main_window.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QMenuBar>
#include <QTimer>
#include <QTreeWidget>
#include <QUndoStack>
#include <QVBoxLayout>
#include <algorithm>

#include "app/startup.hpp"
#include "controller/saving.hpp"
#include "model/names.hpp"
#include "project/records.hpp"
#include "ui/about_dialog.hpp"
#include "ui/canvas_widget.hpp"
#include "ui/clean_up_dialog.hpp"
#include "ui/image_well_widget.hpp"
#include "ui/mirror_table.hpp"

namespace charstack {

namespace {

QString folderText(const std::filesystem::path& folder) {
  return QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(folder.string())));
}

QString problemText(const Problem& problem) {
  return QStringLiteral("%1: %2").arg(QString::fromStdString(problem.file), QString::fromStdString(problem.reason));
}

// The first problem on one line; the Problems panel lists them all.
QString problemLine(const std::vector<Problem>& problems) {
  QString line = problemText(problems.front());
  if (problems.size() > 1) line += QObject::tr(" (and %n more in the Problems panel)", nullptr, int(problems.size() - 1));
  return line;
}

// One step of the undo history: an edit the controller recorded, taken back and made again by it.
class EditCommand : public QUndoCommand {
 public:
  EditCommand(InitLayer& controller, Edit edit, std::function<void()> done)
      : QUndoCommand(QCoreApplication::translate("Edit", edit.name.c_str())),
        controller_(controller),
        edit_(std::move(edit)),
        done_(std::move(done)) {}
  void undo() override {
    controller_.undo(edit_);
    done_();
  }
  void redo() override {
    if (first_) {  // the edit has just happened
      first_ = false;
      return;
    }
    controller_.redo(edit_);
    done_();
  }
  // A run of nudges of one record is one step.
  int id() const override { return edit_.nudge ? 1 : -1; }
  bool mergeWith(const QUndoCommand* other) override {
    const Edit& next = static_cast<const EditCommand*>(other)->edit_;
    if (!next.nudge || !(next.at == edit_.at)) return false;
    edit_.after = next.after;
    edit_.selectionAfter = next.selectionAfter;
    return true;
  }

 private:
  InitLayer& controller_;
  Edit edit_;
  std::function<void()> done_;
  bool first_ = true;
};

QPushButton* makeButton(const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setAutoDefault(false);
  return button;
}

}  // namespace

MainWindow::MainWindow(CharacterList& list, EditorState& state, const std::filesystem::path& folder,
                       QWidget* parent)
    : QMainWindow(parent) {
  controller_ = std::make_unique<InitLayer>(list, state, ProjectFolder(folder), timers_);
  buildWidgets(list, state);

  controller_->TV1 = characterTable_;
  controller_->AC1 = characterTable_;
  controller_->TV2 = layerTable_;
  controller_->AC2 = layerTable_;
  controller_->awakeFromNib();
  buildMenus();
  buildViewMenu();

  watcher_ = new QFileSystemWatcher(this);
  scanSoon_ = new QTimer(this);
  scanSoon_->setSingleShot(true);
  scanSoon_->setInterval(300);
  connect(watcher_, &QFileSystemWatcher::fileChanged, scanSoon_, qOverload<>(&QTimer::start));
  connect(watcher_, &QFileSystemWatcher::directoryChanged, scanSoon_, qOverload<>(&QTimer::start));
  connect(scanSoon_, &QTimer::timeout, this, &MainWindow::scanDisk);
  showLoadedProject();
  // Another window owns the project: once this window stands, the user chooses how to go on.
  if (controller_->ownership() == ProjectLock::Ownership::OwnedByAnother)
    QTimer::singleShot(0, this, [this] {
      const ProjectInUseChoice choice = askAboutProjectInUse(controller_->folder().path());
      if (choice == ProjectInUseChoice::Cancel) close();
      else showAccess(choice == ProjectInUseChoice::ReadOnly);
    });
}

void MainWindow::showAccess(bool readOnly) {
  controller_->setReadOnly(readOnly);
  save_->setEnabled(!readOnly);
  saveAction_->setEnabled(!readOnly);
  const QString title = tr("%1[*] — charstack").arg(folderText(controller_->folder().path()));
  setWindowTitle(readOnly ? tr("%1 (read-only)").arg(title) : title);
  if (controller_->ownership() == ProjectLock::Ownership::OwnedByAnother)
    showStatus(readOnly ? tr("Opened read-only: the project is open in another window")
                        : tr("The project is open in another window too: saves there and here can undo each other"));
}

void MainWindow::showLoadedProject() {
  characterTable_->setSelectionIndex(0);
  layerTable_->setSelectionIndex(0);
  setWindowTitle(tr("%1[*] — charstack").arg(folderText(controller_->folder().path())));
  saveMessage_.clear();
  statusBar()->clearMessage();
  problemsDock_->hide();
  history_->clear();
  setWindowModified(false);
  // Files changed by other programs come in within about a second: the watcher tells of a change,
  // and a look at the files follows once the changes have settled for a moment.
  const QStringList watched = watcher_->files() + watcher_->directories();
  if (!watched.isEmpty()) watcher_->removePaths(watched);
  watchFiles();
  scanDisk();  // notes what the files look like now
  const QString loadText = describeLoadProblems(controller_->loadProblems());
  if (!loadText.isEmpty()) {
    showStatus(loadText);
    showProblems(tr("Problems found when opening the project"), controller_->loadProblems());
  }
  if (controller_->interruptedSaveCompleted())
    showStatus(tr("The last save was interrupted; it has been completed"));
}

MainWindow::~MainWindow() {
  // The widgets observe the controller and tick on its data: they go before it does.
  delete takeCentralWidget();
}

void MainWindow::buildWidgets(CharacterList& list, EditorState& state) {
  auto* central = new QWidget(this);

  characterTable_ = new MirrorTableView(central);
  characterTable_->setObjectName(QStringLiteral("characters"));
  characterModel_ = new MirrorTableModel(*controller_, Table::Characters, characterTable_);
  characterTable_->setModel(characterModel_);
  layerTable_ = new MirrorTableView(central);
  layerTable_->setObjectName(QStringLiteral("layers"));
  layerModel_ = new MirrorTableModel(*controller_, Table::Layers, layerTable_);
  layerTable_->setModel(layerModel_);

  characterWell_ = new ImageWellWidget(*controller_, Table::Characters, central);
  layerWell_ = new ImageWellWidget(*controller_, Table::Layers, central);
  characterWell_->setObjectName(QStringLiteral("characterWell"));
  layerWell_->setObjectName(QStringLiteral("layerWell"));
  canvas_ = new CanvasWidget(list, state, timers_, central);
  canvas_->setController(controller_.get());

  insertCharacter_ = makeButton(tr("Insert Character"), central);
  removeCharacter_ = makeButton(tr("Remove Character"), central);
  insertLayer_ = makeButton(tr("Insert Layer"), central);
  removeLayer_ = makeButton(tr("Remove Layer"), central);
  save_ = makeButton(tr("Save"), central);
  insertCharacter_->setObjectName(QStringLiteral("insertCharacter"));
  insertLayer_->setObjectName(QStringLiteral("insertLayer"));
  save_->setToolTip(tr("Save the project (%1)").arg(QKeySequence(QKeySequence::Save).toString(QKeySequence::NativeText)));

  auto column = [central](const QString& title, QWidget* table, QWidget* well, QPushButton* insert,
                          QPushButton* remove) {
    auto* pane = new QWidget(central);
    auto* box = new QVBoxLayout(pane);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(new QLabel(title, central));
    box->addWidget(table, 1);
    well->setFixedHeight(160);
    box->addWidget(well);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(insert);
    buttons->addWidget(remove);
    box->addLayout(buttons);
    return pane;
  };

  // The user can resize the panes; the program remembers their sizes.
  panes_ = new QSplitter(Qt::Horizontal, central);
  panes_->setObjectName(QStringLiteral("panes"));
  panes_->setChildrenCollapsible(false);
  panes_->addWidget(
      column(tr("Characters"), characterTable_, characterWell_, insertCharacter_, removeCharacter_));
  panes_->addWidget(column(tr("Layers"), layerTable_, layerWell_, insertLayer_, removeLayer_));
  panes_->addWidget(canvas_);
  panes_->setStretchFactor(2, 1);
  panes_->setSizes({220, 220, 600});

  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(save_);

  auto* outer = new QVBoxLayout(central);
  outer->addWidget(panes_, 1);
  outer->addLayout(bottom);
  setCentralWidget(central);
  setMinimumSize(760, 480);
  resize(1100, 680);

  connect(insertCharacter_, &QPushButton::clicked, this, [this] { controller_->insert1(), noteEdit(); });
  connect(insertLayer_, &QPushButton::clicked, this, [this] { controller_->insert2(), noteEdit(); });
  connect(removeCharacter_, &QPushButton::clicked, this, [this] { controller_->remove1(), noteEdit(); });
  connect(removeLayer_, &QPushButton::clicked, this, [this] { controller_->remove2(), noteEdit(); });
  connect(save_, &QPushButton::clicked, this, [this] { save(); });
  layerTable_->acceptFileDrops();
  layerTable_->setToolTip(tr("Drop image files here to add one layer per file"));
  connect(layerTable_, &MirrorTableView::filesDropped, this, &MainWindow::addLayersFromFiles);

  for (MirrorTableModel* model : {characterModel_, layerModel_}) {
    connect(model, &MirrorTableModel::editRefused, this, &MainWindow::showStatus);
    connect(model, &MirrorTableModel::edited, this, &MainWindow::noteEdit);
  }
  for (ImageWellWidget* well : {characterWell_, layerWell_}) {
    connect(well, &ImageWellWidget::message, this, &MainWindow::showStatus);
    connect(well, &ImageWellWidget::imageChanged, this, &MainWindow::noteEdit);
  }
  connect(canvas_, &CanvasWidget::dragged, this, &MainWindow::noteEdit);
  for (MirrorTableView* table : {characterTable_, layerTable_})
    connect(table, &MirrorTableView::clickSent, this, &MainWindow::syncHighlights);

  // The undo history: every edit the controller records becomes one step.
  history_ = new QUndoStack(this);
  history_->setObjectName(QStringLiteral("history"));
  controller_->setEditListener([this](Edit edit) {
    history_->push(new EditCommand(*controller_, std::move(edit), [this] {
      syncHighlights();
      noteEdit();
    }));
    noteEdit();
  });

  problemsList_ = new QTreeWidget;
  problemsList_->setObjectName(QStringLiteral("problems"));
  problemsList_->setColumnCount(2);
  problemsList_->setHeaderLabels({tr("File"), tr("Problem")});
  problemsList_->setRootIsDecorated(false);
  problemsList_->setWordWrap(true);
  problemsList_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  problemsDock_ = new QDockWidget(tr("Problems"), this);
  problemsDock_->setObjectName(QStringLiteral("problemsPanel"));
  problemsDock_->setWidget(problemsList_);
  addDockWidget(Qt::BottomDockWidgetArea, problemsDock_);
  problemsDock_->hide();
  // Made now, so that the first message does not make the layout jump.
  statusBar()->setSizeGripEnabled(true);
}

void MainWindow::buildViewMenu() {
  viewMenu_ = new QMenu(tr("&View"), this);
  // After the Edit menu, before any menu that follows it.
  const QList<QAction*> menus = menuBar()->actions();
  const qsizetype edit = menus.indexOf(editMenu_->menuAction());
  menuBar()->insertMenu(edit >= 0 && edit + 1 < menus.size() ? menus[edit + 1] : nullptr, viewMenu_);

  auto add = [this](const QString& text, QList<QKeySequence> keys, void (CanvasWidget::*slot)()) {
    QAction* action = viewMenu_->addAction(text, canvas_, slot);
    action->setShortcuts(keys);
    return action;
  };
  // Ctrl+= too: Ctrl++ needs Shift on many keyboards.
  add(tr("Zoom &In"), QKeySequence::keyBindings(QKeySequence::ZoomIn) << QKeySequence(Qt::CTRL | Qt::Key_Equal),
      &CanvasWidget::zoomIn);
  add(tr("Zoom &Out"), QKeySequence::keyBindings(QKeySequence::ZoomOut), &CanvasWidget::zoomOut);
  QAction* actual = viewMenu_->addAction(tr("&Actual Size"), canvas_, [this] { canvas_->setZoom(1.0); });
  actual->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
  add(tr("&Fit"), {}, &CanvasWidget::fitToView);
  viewMenu_->addSeparator();

  QAction* checkerboard = viewMenu_->addAction(tr("Transparency &Checkerboard"));
  checkerboard->setCheckable(true);
  checkerboard->setChecked(QSettings().value(QStringLiteral("view/checkerboard"), false).toBool());
  canvas_->setCheckerboard(checkerboard->isChecked());
  connect(checkerboard, &QAction::toggled, this, [this](bool on) {
    canvas_->setCheckerboard(on);
    QSettings().setValue(QStringLiteral("view/checkerboard"), on);
  });

  auto* zoom = new QLabel(this);
  zoom->setObjectName(QStringLiteral("zoom"));
  auto showZoom = [zoom](double z) { zoom->setText(tr("Zoom %1%").arg(QLocale().toString(z * 100, 'g', 4))); };
  showZoom(canvas_->viewport().zoom);
  connect(canvas_, &CanvasWidget::zoomChanged, zoom, showZoom);
  statusBar()->addPermanentWidget(zoom);
}

void MainWindow::showStatus(const QString& text) { statusBar()->showMessage(text); }

void MainWindow::showProblems(const QString& title, const std::vector<Problem>& problems) {
  problemsList_->clear();
  for (const Problem& p : problems)
    problemsList_->addTopLevelItem(new QTreeWidgetItem({QString::fromStdString(p.file), QString::fromStdString(p.reason)}));
  problemsDock_->setWindowTitle(title);
  problemsDock_->setVisible(!problems.empty());
  // A few lines high: the editor keeps most of the room.
  const int lines = static_cast<int>(std::min<size_t>(problems.size(), 5)) + 1;
  resizeDocks({problemsDock_}, {lines * problemsList_->fontMetrics().height() + 24}, Qt::Vertical);
}

void MainWindow::syncHighlights() {
  const EditorState& state = controller_->state();
  characterTable_->setSelectionIndex(state.selectedCharacterRow);
  layerTable_->setSelectionIndex(state.selectedLayerRow);
}

void MainWindow::noteEdit() {
  if (!saveMessage_.isEmpty() && statusBar()->currentMessage() == saveMessage_) statusBar()->clearMessage();
  saveMessage_.clear();
  // A cell edit reaches the model at the next tick: look after it.
  QTimer::singleShot(2 * QtTimerService::intervalMilliseconds(kTickInterval), this, &MainWindow::updateModifiedMark);
}

void MainWindow::watchFiles() {
  QStringList wanted;
  for (const std::string& path : controller_->watchedPaths()) wanted << QFile::decodeName(QByteArray::fromStdString(path));
  const QStringList watched = watcher_->files() + watcher_->directories();
  QStringList missing;
  for (const QString& path : wanted)
    if (!watched.contains(path) && QFileInfo::exists(path)) missing << path;
  if (!missing.isEmpty()) watcher_->addPaths(missing);
}

void MainWindow::scanDisk() {
  if (scanning_ || saving_) {
    scanSoon_->start();
    return;
  }
  scanning_ = true;
  auto* done = new QFutureWatcher<DiskScanResult>(this);
  connect(done, &QFutureWatcherBase::finished, this, [this, done] {
    const DiskScanResult result = done->result();
    done->deleteLater();
    scanning_ = false;
    if (result.saveCount != controller_->saveCount()) scanSoon_->start();  // look again
    handleDiskChanges(controller_->applyDiskScan(result));
    watchFiles();
  });
  done->setFuture(QtConcurrent::run([folder = controller_->folder(), request = controller_->diskScanRequest()] {
    return charstack::scanDisk(folder, request);
  }));
}

void MainWindow::handleDiskChanges(const std::vector<DiskChange>& changes) {
  std::vector<Problem> unreadable;
  for (const DiskChange& change : changes) {
    const QString file = QString::fromStdString(change.file);
    switch (change.kind) {
      case DiskChange::Kind::PictureTaken:
        showStatus(tr("%1 changed on disk: its new picture is shown").arg(file));
        break;
      case DiskChange::Kind::Deleted:
        showStatus(tr("%1 was deleted on disk: the editor keeps the picture and the next save writes it again").arg(file));
        break;
      case DiskChange::Kind::Unreadable:
        unreadable.push_back({change.file, tr("%1; the editor keeps its picture and leaves the file alone")
                                                  .arg(QString::fromStdString(change.reason))
                                                  .toStdString()});
        break;
      case DiskChange::Kind::Conflict:
        controller_->resolveConflict(change, askToTakeChangedFile(change));
        break;
      case DiskChange::Kind::DataFile:
        // Reloading asks about unsaved changes first, as opening any project does.
        if (askToReload()) {
          openProject(controller_->folder().path());
          return;
        }
        showStatus(tr("%1 changed on disk; the editor keeps what it shows").arg(file));
        break;
    }
  }
  if (!unreadable.empty()) {
    showProblems(tr("Files that can no longer be read"), unreadable);
    showStatus(tr("%1 can no longer be read: the editor keeps its picture").arg(QString::fromStdString(unreadable[0].file)));
  }
  if (!changes.empty()) updateModifiedMark();
}

bool MainWindow::askToReload() {
  return QMessageBox::question(this, tr("Project changed on disk"),
                               tr("%1 was changed by another program. Open the project again from disk?")
                                   .arg(QString::fromLatin1(kDataFileName)),
                               QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

bool MainWindow::askToTakeChangedFile(const DiskChange& change) {
  QMessageBox box(QMessageBox::Question, tr("Picture changed on disk"),
                  tr("%1 was changed by another program, and its picture was also changed in the editor. Which "
                     "picture should the record keep?")
                      .arg(QString::fromStdString(change.file)),
                  QMessageBox::NoButton, this);
  QPushButton* file = box.addButton(tr("Take the File's Picture"), QMessageBox::AcceptRole);
  box.addButton(tr("Keep the Editor's Picture"), QMessageBox::RejectRole);
  box.exec();
  return box.clickedButton() == file;
}

bool MainWindow::askToReplaceChangedFiles(const std::vector<std::string>& files) {
  QStringList names;
  for (const std::string& f : files) names << QString::fromStdString(f);
  return QMessageBox::question(this, tr("Files changed on disk"),
                               tr("Another program changed these files since the editor read or wrote them:\n%1\n"
                                  "Replace them with the editor's version?")
                                   .arg(names.join(QLatin1Char('\n'))),
                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void MainWindow::updateModifiedMark() {
  controller_->EventLoop();
  setWindowModified(controller_->hasUnsavedChanges());
}

void MainWindow::commitOpenEdits() {
  characterTable_->commitOpenEdit();
  layerTable_->commitOpenEdit();
  // A sync tick now rather than in up to 10 ms, so that a save right after an edit sees it.
  controller_->EventLoop();
}

QString MainWindow::describeSave(const SaveReport& report, const QString& folder) {
  if (report.ok()) return tr("Saved to %1").arg(folder);
  const QString head = report.refused ? tr("Not saved") : tr("Save failed");
  if (report.problems.empty()) return tr("%1: the project cannot be saved as it stands").arg(head);
  return QStringLiteral("%1: %2").arg(head, problemLine(report.problems));
}

QString MainWindow::describeLoadProblems(const std::vector<Problem>& problems) {
  if (problems.empty()) return {};
  return tr("Opened with problems: %1").arg(problemLine(problems));
}

SaveReport MainWindow::save() {
  if (saving_) return {};
  commitOpenEdits();
  saving_ = true;
  // A long save shows its progress after half a second and keeps the window painting; the window
  // takes no input meanwhile.
  QElapsedTimer clock;
  clock.start();
  qint64 lastEvents = 0;
  std::unique_ptr<QProgressDialog> progress;
  SaveOptions options;
  options.progress = [&](size_t done, size_t total) {
    const qint64 now = clock.elapsed();
    if (now < 500 || now - lastEvents < 50) return;
    lastEvents = now;
    if (!progress) {
      progress = std::make_unique<QProgressDialog>(tr("Saving the project…"), QString(), 0, 1000, this);
      progress->setWindowModality(Qt::WindowModal);
      progress->setMinimumDuration(0);
    }
    progress->setValue(total ? static_cast<int>(done * 1000 / total) : 0);
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  };
  struct Questions : SaveQuestions {
    MainWindow& window;
    explicit Questions(MainWindow& w) : window(w) {}
    bool replaceDataFileWithoutRecords() override { return window.askToReplaceDataFile(); }
    bool replaceChangedFiles(const std::vector<std::string>& files) override {
      return window.askToReplaceChangedFiles(files);
    }
    bool saveIntoMovedFolder(const std::filesystem::path& now) override { return window.askToSaveIntoMovedFolder(now); }
  } questions(*this);
  SaveReport report = saveAsking(*controller_, questions, options);
  if (report.folderMoved) setWindowTitle(tr("%1[*] — charstack").arg(folderText(controller_->folder().path())));
  progress.reset();
  saving_ = false;

  saveMessage_ = describeSave(report, folderText(controller_->folder().path()));
  if (!report.picturesTaken.empty())
    saveMessage_ += tr(" (%1 is now the picture of the record with its name)")
                        .arg(QString::fromStdString(report.picturesTaken.front()));
  if (!report.backupFile.empty())
    saveMessage_ += tr(" (the old %1 was kept as %2)").arg(QString::fromLatin1(kDataFileName),
                                                            QString::fromStdString(report.backupFile));
  showStatus(saveMessage_);
  updateModifiedMark();
  if (!report.ok()) {
    showProblems(tr("Problems of the last save"), report.problems);
    QStringList lines;
    lines << (report.refused ? tr("Nothing was saved.") : tr("Some files could not be saved."));
    for (const Problem& problem : report.problems) lines << problemText(problem);
    showSaveFailure(lines.join(QLatin1Char('\n')));
  } else if (problemsDock_->windowTitle() == tr("Problems of the last save")) {
    problemsDock_->hide();
  }
  return report;
}

bool MainWindow::askToSaveIntoMovedFolder(const std::filesystem::path& now) {
  return QMessageBox::question(this, tr("Project folder moved"),
                               tr("The project folder was moved or renamed to %1 while it was open. Save the "
                                  "project there?")
                                   .arg(folderText(now)),
                               QMessageBox::Save | QMessageBox::Cancel, QMessageBox::Save) == QMessageBox::Save;
}

MainWindow::ProjectInUseChoice MainWindow::askAboutProjectInUse(const std::filesystem::path& folder) {
  QMessageBox box(QMessageBox::Warning, tr("Project already open"),
                  tr("%1 is open in another window. Open it read-only here, or open it anyway (two windows "
                     "saving one project can undo each other's work)?")
                      .arg(folderText(folder)),
                  QMessageBox::NoButton, this);
  QPushButton* readOnly = box.addButton(tr("Open Read-Only"), QMessageBox::AcceptRole);
  QPushButton* anyway = box.addButton(tr("Open Anyway"), QMessageBox::DestructiveRole);
  box.addButton(QMessageBox::Cancel);
  box.setDefaultButton(readOnly);
  box.exec();
  if (box.clickedButton() == readOnly) return ProjectInUseChoice::ReadOnly;
  if (box.clickedButton() == anyway) return ProjectInUseChoice::OpenAnyway;
  return ProjectInUseChoice::Cancel;
}

bool MainWindow::askToReplaceDataFile() {
  return QMessageBox::question(
             this, tr("Replace data.txt?"),
             tr("%1 holds text but no record the editor can read. Replace it with the project's records? Its "
                "old text is kept beside it as %1.bak.")
                 .arg(QString::fromLatin1(kDataFileName)),
             QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void MainWindow::showSaveFailure(const QString& text) {
  QMessageBox::warning(this, tr("Save failed"), text);
}

MainWindow::CloseChoice MainWindow::askAboutUnsavedChanges() {
  const auto answer = QMessageBox::question(
      this, tr("Unsaved changes"), tr("Save the changes to the project before closing it?"),
      QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
  if (answer == QMessageBox::Save) return CloseChoice::Save;
  if (answer == QMessageBox::Discard) return CloseChoice::Discard;
  return CloseChoice::Cancel;
}

bool MainWindow::settleUnsavedChanges() {
  commitOpenEdits();
  if (!controller_->hasUnsavedChanges()) return true;
  switch (askAboutUnsavedChanges()) {
    case CloseChoice::Save:
      return save().ok();  // a failure was shown; the work stays open
    case CloseChoice::Discard:
      return true;
    case CloseChoice::Cancel:
      return false;
  }
  return false;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (saving_ || !settleUnsavedChanges()) {
    event->ignore();
    return;
  }
  if (remembersSettings_) {
    QSettings settings;
    settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
    settings.setValue(QStringLiteral("window/panes"), panes_->saveState());
  }
  event->accept();
}

// ---- Menus ------------------------------------------------------------------------------------

void MainWindow::buildMenus() {
  auto add = [this](QMenu* menu, const QString& text, auto slot, const QKeySequence& keys = {}) {
    QAction* action = menu->addAction(text, this, slot);
    action->setShortcut(keys);
    return action;
  };
  fileMenu_ = menuBar()->addMenu(tr("&File"));
  add(
      fileMenu_, tr("&New Project…"),
      [this] {
        if (auto folder = chooseProjectFolder(true)) openProject(*folder);
      },
      QKeySequence::New);
  add(
      fileMenu_, tr("&Open Project…"),
      [this] {
        if (auto folder = chooseProjectFolder(false)) openProject(*folder);
      },
      QKeySequence::Open);
  recentMenu_ = fileMenu_->addMenu(tr("Open &Recent"));
  connect(recentMenu_, &QMenu::aboutToShow, this, &MainWindow::fillRecentMenu);
  fillRecentMenu();
  fileMenu_->addSeparator();
  saveAction_ = add(
      fileMenu_, tr("&Save"), [this] { save(); }, QKeySequence::Save);
  fileMenu_->addSeparator();
  add(
      fileMenu_, tr("&Export Picture…"),
      [this] {
        commitOpenEdits();
        const int64_t row = controller_->state().selectedCharacterRow;
        if (row < 0 || row >= controller_->list().size()) {
          showStatus(tr("Select a character to export its picture."));
          return;
        }
        const QString name = QString::fromStdString(
            exportFileName(controller_->list().characters[static_cast<size_t>(row)].name,
                           controller_->list().characterRecordNumber(row)));
        if (auto file = chooseExportFile(name)) exportPicture(*file);
      },
      QKeySequence(tr("Ctrl+E")));
  add(
      fileMenu_, tr("Export &All Characters…"),
      [this] {
        if (auto folder = chooseExportFolder()) exportAllCharacters(*folder);
      },
      QKeySequence(tr("Ctrl+Shift+E")));
  add(fileMenu_, tr("&Clean Up Unused Images…"), [this] { cleanUpUnusedImages(); });
  fileMenu_->addSeparator();
  add(
      fileMenu_, tr("&Quit"), [this] { close(); }, QKeySequence::Quit)
      ->setMenuRole(QAction::QuitRole);

  editMenu_ = menuBar()->addMenu(tr("&Edit"));
  QAction* undo = history_->createUndoAction(this, tr("Undo"));
  undo->setShortcuts(QKeySequence::Undo);
  QAction* redo = history_->createRedoAction(this, tr("Redo"));
  redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  editMenu_->addAction(undo);
  editMenu_->addAction(redo);
  editMenu_->addSeparator();
  add(editMenu_, tr("Insert &Character"), [this] { insertCharacter_->click(); });
  add(editMenu_, tr("Remove C&haracter"), [this] { removeCharacter_->click(); });
  editMenu_->addSeparator();
  add(editMenu_, tr("Insert &Layer"), [this] { insertLayer_->click(); });
  add(editMenu_, tr("Remove L&ayer"), [this] { removeLayer_->click(); });

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  add(
      help, tr("&Keyboard Shortcuts"), [this] { showKeyboardShortcuts(); }, QKeySequence::HelpContents);
  add(help, tr("&About charstack"), [this] {
    showAboutDialog(this, folderText(controller_->folder().path()));
  })->setMenuRole(QAction::AboutRole);
}

void MainWindow::fillRecentMenu() {
  recentMenu_->clear();
  const QStringList recent = remembersSettings_ ? recentProjects() : QStringList();
  for (const QString& folder : recent)
    recentMenu_->addAction(QDir::toNativeSeparators(folder), this,
                           [this, folder] { openProject(toPath(folder)); });
  if (recent.isEmpty()) recentMenu_->addAction(tr("No recent projects"))->setEnabled(false);
  recentMenu_->addSeparator();
  QAction* clear = recentMenu_->addAction(tr("Clear Menu"), this, [] { forgetRecentProjects(); });
  clear->setEnabled(!recent.isEmpty());
}

void MainWindow::showKeyboardShortcuts() {
  QString rows;
  auto row = [&rows](const QString& keys, const QString& what) {
    rows += QStringLiteral("<tr><td><b>%1</b>&nbsp;&nbsp;</td><td>%2</td></tr>")
                .arg(keys.toHtmlEscaped(), what.toHtmlEscaped());
  };
  for (QMenu* menu : menuBar()->findChildren<QMenu*>())
    for (QAction* action : menu->actions())
      if (!action->shortcut().isEmpty())
        row(action->shortcut().toString(QKeySequence::NativeText), action->text().remove(QLatin1Char('&')));
  row(QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText),
      tr("Paste an image into the focused image well"));
  row(tr("Delete, Backspace"), tr("Empty the focused image well"));
  row(tr("Up, Down"), tr("Select the row above or below"));
  row(tr("F2, or type"), tr("Edit the current cell"));
  row(tr("Drag on the canvas"), tr("Move the character, or the layer clicked last"));
  QMessageBox box(QMessageBox::NoIcon, tr("Keyboard Shortcuts"),
                  QStringLiteral("<table>%1</table>").arg(rows), QMessageBox::Close, this);
  box.exec();
}

void MainWindow::rememberSettings() {
  remembersSettings_ = true;
  QSettings settings;
  if (const QByteArray g = settings.value(QStringLiteral("window/geometry")).toByteArray(); !g.isEmpty())
    restoreGeometry(g);
  if (const QByteArray p = settings.value(QStringLiteral("window/panes")).toByteArray(); !p.isEmpty())
    panes_->restoreState(p);
  rememberProject(controller_->folder().path());
}

// ---- Projects ---------------------------------------------------------------------------------

std::optional<std::filesystem::path> MainWindow::askForProjectFolder(QWidget* parent, bool forNewProject) {
  const QString title =
      forNewProject ? tr("New Project: Choose or Create an Empty Folder") : tr("Open Project");
  const QString start = recentProjects().value(0, QDir::homePath());
  for (;;) {
    const QString folder = QFileDialog::getExistingDirectory(parent, title, start);
    if (folder.isEmpty()) return std::nullopt;
    if (!forNewProject ||
        QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
      return toPath(folder);
    QMessageBox::warning(
        parent, title,
        tr("%1 is not empty. A new project needs an empty folder: choose another one, or create "
           "one in the dialog.")
            .arg(QDir::toNativeSeparators(folder)));
  }
}

std::optional<std::filesystem::path> MainWindow::chooseProjectFolder(bool forNewProject) {
  return askForProjectFolder(this, forNewProject);
}

bool MainWindow::openProject(const std::filesystem::path& folder) {
  if (saving_ || !settleUnsavedChanges()) return false;
  if (!QFileInfo(fromPath(folder)).isDir()) {
    showMessage(tr("Open Project"), tr("%1 is not a folder.").arg(folderText(folder)), true);
    return false;
  }
  // Another window's project: read-only, anyway, or not at all. The folder open here is this window's.
  std::error_code ec;
  ProjectInUseChoice choice = ProjectInUseChoice::OpenAnyway;
  if (!std::filesystem::equivalent(folder, controller_->folder().path(), ec) && projectInUse(folder))
    if ((choice = askAboutProjectInUse(folder)) == ProjectInUseChoice::Cancel) return false;
  controller_->openFolder(ProjectFolder(folder));
  showLoadedProject();
  showAccess(choice == ProjectInUseChoice::ReadOnly);
  if (remembersSettings_) rememberProject(folder);
  return true;
}

void MainWindow::addLayersFromFiles(const QStringList& paths) {
  commitOpenEdits();
  std::vector<Layer> layers;
  QStringList refused;
  for (const QString& path : paths) {
    const QFileInfo info(path);
    ImageRef image = decodeImageFile(toPath(path));
    if (!image) {
      refused << tr("%1 is not an image the editor can read").arg(info.fileName());
      continue;
    }
    Layer layer = makeNewLayer();
    const std::string name = info.completeBaseName().toStdString();
    if (!name.empty() && checkName(name) == NameProblem::None)
      layer.name = name;
    else
      refused << tr("%1 gives no name a layer can hold: the layer is called %2")
                     .arg(info.fileName(), QString::fromUtf8(kNewLayerName));
    layer.image = std::move(image);
    layers.push_back(std::move(layer));
  }
  if (!layers.empty()) {
    const size_t count = layers.size();
    if (!controller_->insertLayers(std::move(layers))) {
      showStatus(tr("Select a character first: the layers need one to belong to."));
      return;
    }
    noteEdit();
    refused.prepend(tr("Added %n layer(s)", nullptr, static_cast<int>(count)));
  }
  showStatus(refused.join(QStringLiteral("; ")));
}

// ---- Export -----------------------------------------------------------------------------------

std::optional<std::filesystem::path> MainWindow::chooseExportFile(const QString& suggestedName) {
  const QString start =
      fromPath(lastExportFolder_.empty() ? controller_->folder().path().parent_path() : lastExportFolder_);
  const QString file = QFileDialog::getSaveFileName(
      this, tr("Export Picture"), QDir(start).filePath(suggestedName), tr("PNG pictures (*.png)"));
  if (file.isEmpty()) return std::nullopt;
  return toPath(file);
}

std::optional<std::filesystem::path> MainWindow::chooseExportFolder() {
  const QString start =
      fromPath(lastExportFolder_.empty() ? controller_->folder().path().parent_path() : lastExportFolder_);
  const QString folder = QFileDialog::getExistingDirectory(this, tr("Export All Characters Into"), start);
  if (folder.isEmpty()) return std::nullopt;
  return toPath(folder);
}

void MainWindow::showMessage(const QString& title, const QString& text, bool warning) {
  if (warning)
    QMessageBox::warning(this, title, text);
  else
    QMessageBox::information(this, title, text);
}

bool MainWindow::exportPicture(const std::filesystem::path& file) {
  commitOpenEdits();
  const QString title = tr("Export Picture");
  const CharacterList& list = controller_->list();
  const int64_t row = controller_->state().selectedCharacterRow;
  if (row < 0 || row >= list.size()) {
    showStatus(tr("Select a character to export its picture."));
    return false;
  }
  if (isInsideProject(file.parent_path(), controller_->folder().path())) {
    showMessage(title,
                tr("Pictures are not exported into the project folder or its img/ folder: choose another "
                   "folder."),
                true);
    return false;
  }
  const CharacterPicture picture = characterPicture(list.characters[static_cast<size_t>(row)]);
  if (!picture.png) {
    showMessage(title,
                picture.problem.empty() ? tr("The character has nothing to draw: no picture was written.")
                                        : tr("The picture %1.").arg(QString::fromStdString(picture.problem)),
                true);
    return false;
  }
  const ProjectFolder target(file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path());
  if (Status s = target.writeFileAtomically(file.filename().string(), *picture.png); !s.ok()) {
    showMessage(title,
                tr("%1 could not be written: %2").arg(folderText(file), QString::fromStdString(s.error)),
                true);
    return false;
  }
  lastExportFolder_ = file.parent_path();
  showStatus(tr("Exported %1").arg(folderText(file)));
  return true;
}

ExportReport MainWindow::exportAllCharacters(const std::filesystem::path& folder) {
  commitOpenEdits();
  const QString title = tr("Export All Characters");
  if (isInsideProject(folder, controller_->folder().path())) {
    showMessage(title,
                tr("Pictures are not exported into the project folder or its img/ folder: choose another "
                   "folder."),
                true);
    return {};
  }
  const ProjectFolder target(folder);
  if (Status s = target.createFolder(""); !s.ok()) {
    showMessage(title,
                tr("%1 could not be created: %2").arg(folderText(folder), QString::fromStdString(s.error)),
                true);
    return {};
  }
  // A progress dialog with Qt's own Cancel button after half a second. Its events are handled while
  // the pictures are made on the other threads, timers too: they work on a copy of the list.
  const CharacterList list = controller_->list();
  QProgressDialog progress(this);
  progress.setLabelText(title);
  progress.setRange(0, static_cast<int>(list.size()));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(500);
  std::atomic<bool> cancel{false};
  ExportOptions options;
  options.cancel = &cancel;
  options.progress = [&](size_t done, size_t) {
    progress.setValue(static_cast<int>(done));
    cancel = progress.wasCanceled();
  };
  ExportReport report = charstack::exportAllCharacters(list, target, {}, options);
  progress.reset();
  lastExportFolder_ = folder;

  QStringList lines;
  lines << tr("%n picture(s) written to %1.", nullptr, static_cast<int>(report.written.size()))
               .arg(folderText(folder));
  if (!report.skipped.empty()) {
    lines << tr("Skipped, with nothing to draw:");
    for (const std::string& who : report.skipped) lines << QStringLiteral("  ") + QString::fromStdString(who);
  }
  for (const Problem& p : report.problems) lines << problemText(p);
  showStatus(lines.front());
  if (!report.ok()) showProblems(tr("Problems of the last export"), report.problems);
  showMessage(title, lines.join(QLatin1Char('\n')), !report.ok());
  return report;
}

// ---- Clean up ---------------------------------------------------------------------------------

bool MainWindow::askToSaveBeforeCleanUp() {
  return QMessageBox::question(
             this, tr("Clean Up Unused Images"),
             tr("The project has unsaved changes. Unused images are those no record of the saved "
                "project refers to: save now?"),
             QMessageBox::Save | QMessageBox::Cancel, QMessageBox::Save) == QMessageBox::Save;
}

std::vector<std::string> MainWindow::chooseFilesToTrash(const std::vector<UnusedImageFile>& files) {
  CleanUpDialog dialog(files, this);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.chosen();
}

void MainWindow::cleanUpUnusedImages() {
  const QString title = tr("Clean Up Unused Images");
  commitOpenEdits();
  const EditorState& state = controller_->state();
  if (state.dataFileUnreadable || state.dataFileWithoutRecords) {
    showMessage(title,
                tr("%1 could not be read, so the editor cannot tell which images are in use.")
                    .arg(QString::fromLatin1(kDataFileName)),
                true);
    return;
  }
  if (controller_->hasUnsavedChanges()) {
    if (!askToSaveBeforeCleanUp() || !save().ok()) return;
  }
  const ProjectFolder& folder = controller_->folder();
  // Only while the project on disk holds the editor's records can a file be known to be unused.
  if (const std::string why = whyUnusedImagesCannotBeTold(controller_->list(), folder); !why.empty()) {
    showMessage(title, tr("Unused images cannot be told now: %1.").arg(QString::fromStdString(why)), true);
    return;
  }
  const auto unused = listUnusedImageFiles(controller_->list(), folder);
  if (!unused) {
    showMessage(title, tr("img/ could not be listed."), true);
    return;
  }
  if (unused->empty()) {
    showMessage(title, tr("Every file in img/ belongs to a record: there is nothing to clean up."), false);
    return;
  }
  const std::vector<std::string> chosen = chooseFilesToTrash(*unused);
  if (chosen.empty()) return;
  std::vector<Problem> problems;
  EditorState& editable = controller_->state();
  for (const std::string& name : chosen) {
    if (Status s = folder.moveToTrash(imagePath(name)); !s.ok()) {
      problems.push_back({imagePath(name), "was not moved to the trash: " + s.error});
      continue;
    }
    editable.knownImageFiles.erase(name);
    editable.unreadableImageFiles.erase(name);
  }
  const int moved = static_cast<int>(chosen.size() - problems.size());
  showStatus(tr("Moved %n unused image(s) to the trash", nullptr, moved));
  if (!problems.empty()) {
    showProblems(title, problems);
    QStringList lines;
    for (const Problem& p : problems) lines << problemText(p);
    showMessage(title, lines.join(QLatin1Char('\n')), true);
  }
}

}  // namespace charstack

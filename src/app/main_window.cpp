#include "app/main_window.hpp"

#include <QApplication>
#include <algorithm>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QMenuBar>
#include <QTimer>
#include <QTreeWidget>
#include <QUndoStack>
#include <QVBoxLayout>

#include "ui/about_dialog.hpp"
#include "ui/canvas_widget.hpp"
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
  characterTable_->setSelectionIndex(0);
  layerTable_->setSelectionIndex(0);

  setWindowTitle(tr("%1[*] — charstack").arg(folderText(folder)));

  // Files changed by other programs come in within about a second: the watcher tells of a change,
  // and a look at the files follows once the changes have settled for a moment.
  watcher_ = new QFileSystemWatcher(this);
  scanSoon_ = new QTimer(this);
  scanSoon_->setSingleShot(true);
  scanSoon_->setInterval(300);
  connect(watcher_, &QFileSystemWatcher::fileChanged, scanSoon_, qOverload<>(&QTimer::start));
  connect(watcher_, &QFileSystemWatcher::directoryChanged, scanSoon_, qOverload<>(&QTimer::start));
  connect(scanSoon_, &QTimer::timeout, this, &MainWindow::scanDisk);
  watchFiles();
  scanDisk();  // notes what the files look like now
  const QString loadText = describeLoadProblems(controller_->loadProblems());
  if (!loadText.isEmpty()) {
    showStatus(loadText);
    showProblems(tr("Problems found when opening the project"), controller_->loadProblems());
  }
}

MainWindow::~MainWindow() {
  // The widgets observe the controller and tick on its data: they go before it does.
  delete takeCentralWidget();
}

void MainWindow::buildWidgets(CharacterList& list, EditorState& state) {
  auto* central = new QWidget(this);

  characterTable_ = new MirrorTableView(central);
  characterModel_ = new MirrorTableModel(*controller_, Table::Characters, characterTable_);
  characterTable_->setModel(characterModel_);
  layerTable_ = new MirrorTableView(central);
  layerModel_ = new MirrorTableModel(*controller_, Table::Layers, layerTable_);
  layerTable_->setModel(layerModel_);

  characterWell_ = new ImageWellWidget(*controller_, Table::Characters, central);
  layerWell_ = new ImageWellWidget(*controller_, Table::Layers, central);
  canvas_ = new CanvasWidget(list, state, timers_, central);
  canvas_->setController(controller_.get());

  insertCharacter_ = makeButton(tr("Insert Character"), central);
  removeCharacter_ = makeButton(tr("Remove Character"), central);
  insertLayer_ = makeButton(tr("Insert Layer"), central);
  removeLayer_ = makeButton(tr("Remove Layer"), central);
  save_ = makeButton(tr("Save"), central);
  save_->setToolTip(tr("Save the project (%1)").arg(QKeySequence(QKeySequence::Save).toString(QKeySequence::NativeText)));

  auto column = [central](const QString& title, QWidget* table, QWidget* well, QPushButton* insert,
                          QPushButton* remove) {
    auto* box = new QVBoxLayout;
    box->addWidget(new QLabel(title, central));
    box->addWidget(table, 1);
    well->setFixedHeight(160);
    box->addWidget(well);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(insert);
    buttons->addWidget(remove);
    box->addLayout(buttons);
    return box;
  };

  auto* panels = new QHBoxLayout;
  panels->addLayout(column(tr("Characters"), characterTable_, characterWell_, insertCharacter_, removeCharacter_));
  panels->addLayout(column(tr("Layers"), layerTable_, layerWell_, insertLayer_, removeLayer_));
  panels->addWidget(canvas_, 1);

  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(save_);

  auto* outer = new QVBoxLayout(central);
  outer->addLayout(panels, 1);
  outer->addLayout(bottom);
  setCentralWidget(central);
  setMinimumSize(760, 480);
  resize(1100, 680);

  connect(insertCharacter_, &QPushButton::clicked, this, [this] { controller_->insert1(), noteEdit(); });
  connect(insertLayer_, &QPushButton::clicked, this, [this] { controller_->insert2(), noteEdit(); });
  connect(removeCharacter_, &QPushButton::clicked, this, [this] { controller_->remove1(), noteEdit(); });
  connect(removeLayer_, &QPushButton::clicked, this, [this] { controller_->remove2(), noteEdit(); });
  connect(save_, &QPushButton::clicked, this, [this] { save(); });
  auto* saveShortcut = new QShortcut(QKeySequence::Save, this);
  connect(saveShortcut, &QShortcut::activated, this, [this] { save(); });

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
  controller_->setEditListener([this](Edit edit) {
    history_->push(new EditCommand(*controller_, std::move(edit), [this] {
      syncHighlights();
      noteEdit();
    }));
    noteEdit();
  });
  editMenu_ = menuBar()->addMenu(tr("&Edit"));
  QAction* undo = history_->createUndoAction(this, tr("Undo"));
  undo->setShortcuts(QKeySequence::Undo);
  QAction* redo = history_->createRedoAction(this, tr("Redo"));
  redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  editMenu_->addAction(undo);
  editMenu_->addAction(redo);
  QMenu* help = menuBar()->addMenu(tr("&Help"));
  help->addAction(tr("&About charstack"), this, [this] {
    showAboutDialog(this, folderText(controller_->folder().path()));
  })->setMenuRole(QAction::AboutRole);

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
        showStatus(tr("%1 changed on disk; open the project again to see the change").arg(file));
        break;
    }
  }
  if (!unreadable.empty()) {
    showProblems(tr("Files that can no longer be read"), unreadable);
    showStatus(tr("%1 can no longer be read: the editor keeps its picture").arg(QString::fromStdString(unreadable[0].file)));
  }
  if (!changes.empty()) updateModifiedMark();
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
  SaveReport report = controller_->saveBtn(options);
  if (report.needsConfirmation && askToReplaceDataFile()) {
    options.replaceDataFileWithoutRecords = true;
    report = controller_->saveBtn(options);
  }
  if (!report.changedOnDisk.empty() && askToReplaceChangedFiles(report.changedOnDisk)) {
    options.overwriteChangedFiles = true;
    report = controller_->saveBtn(options);
  }
  progress.reset();
  saving_ = false;

  saveMessage_ = describeSave(report, folderText(controller_->folder().path()));
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
  const auto answer = QMessageBox::question(this, tr("Unsaved changes"),
                                            tr("Save the changes to the project before closing?"),
                                            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                            QMessageBox::Save);
  if (answer == QMessageBox::Save) return CloseChoice::Save;
  if (answer == QMessageBox::Discard) return CloseChoice::Discard;
  return CloseChoice::Cancel;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (saving_) {
    event->ignore();
    return;
  }
  commitOpenEdits();
  if (controller_->hasUnsavedChanges()) {
    switch (askAboutUnsavedChanges()) {
      case CloseChoice::Save:
        if (!save().ok()) {
          event->ignore();  // the failure was shown; the work stays open
          return;
        }
        break;
      case CloseChoice::Discard:
        break;
      case CloseChoice::Cancel:
        event->ignore();
        return;
    }
  }
  event->accept();
}

}  // namespace charstack

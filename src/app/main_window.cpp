#include "app/main_window.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <utility>

#include "app/edit_actions.hpp"
#include "model/names.hpp"
#include "app/startup.hpp"
#include "ui/about_dialog.hpp"
#include "ui/canvas_widget.hpp"
#include "ui/dialogs.hpp"
#include "ui/image_well_widget.hpp"
#include "ui/mirror_table.hpp"
#include "ui/thumbnails.hpp"
#include "ui/window_geometry.hpp"

namespace charstack {

MainWindow::MainWindow(CharacterList& list, EditorState& state, const std::filesystem::path& folder,
                       UserQuestions* questions, QWidget* parent)
    : QMainWindow(parent) {
  if (!questions) {
    auto dialogs = std::make_unique<DialogQuestions>(this, [this] { return controller().store().folder().path(); });
    questions = dialogs.get();
    ownQuestions_ = std::move(dialogs);
  }
  questions_ = questions;
  session_ = std::make_unique<Session>(list, state, folder, *questions);
  buildWidgets(list, state);
  Editor& c = controller();
  c.selection().attachTables(characterTable_, layerTable_);
  c.document().addObserver(this);
  buildMenus();
  buildViewMenu();
  session_->setDiskListener([this](const Feedback& feedback) {
    tell(feedback);
    updateModifiedMark();
  });
  showProject(session_->loaded());
  session_->autosave().setFailureListener([this](const QString& why) { statusBar()->showMessage(why); });
  // Another window owns the project: once this window stands, the user chooses how to go on. Else the
  // unsaved work a crash left is offered.
  if (c.store().ownership() != ProjectLock::Ownership::Owned)
    QTimer::singleShot(0, this, [this] { session_->settleOwnership() ? showProject(std::nullopt) : void(close()); });
  else
    QTimer::singleShot(0, this, [this] {
      if (std::optional<Feedback> recovered = session_->recoverUnsavedWork()) tell(*recovered), syncHighlights();
    });
}

MainWindow::~MainWindow() {
  controller().document().removeObserver(this);
  actions_.reset();
  // The widgets observe the controller: they go before it does.
  delete takeCentralWidget();
}

void MainWindow::buildWidgets(CharacterList& list, EditorState& state) {
  auto* central = new QWidget(this);
  buildTables(central);
  canvas_ = new CanvasWidget(list, state, central);
  canvas_->setController(&controller());
  // While dragging, the pointer's place on the canvas too.
  connect(canvas_, &CanvasWidget::pointerMoved, this,
          [this](int x, int y) { pointerText_ = tr(" (pointer at %1, %2)").arg(x).arg(y); });
  connect(canvas_, &CanvasWidget::positionChanged, this, [this](int x, int y) {
    statusBar()->showMessage(tr("Position %1, %2").arg(x).arg(y) + std::exchange(pointerText_, {}), 3000);
  });
  buildPanes(central);
  save_ = new QPushButton(tr("Save"), central);
  save_->setObjectName(QStringLiteral("save"));
  save_->setToolTip(tr("Save the project (%1)").arg(QKeySequence(QKeySequence::Save).toString(QKeySequence::NativeText)));
  connect(save_, &QPushButton::clicked, this, &MainWindow::save);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(save_);
  auto* outer = new QVBoxLayout(central);
  outer->addWidget(panes_, 1);
  outer->addLayout(bottom);
  setCentralWidget(central);
  setMinimumSize(760, 480);
  resize(1100, 680);
  // Until a remembered geometry comes, the window fits the screen at any scale factor.
  fitWindowToScreen(*this);

  buildProblemsPanel();
  // Made now, so that the first message does not make the layout jump.
  statusBar()->setSizeGripEnabled(true);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 1000);
  progress_->setMaximumWidth(200);
  progress_->hide();
  statusBar()->addPermanentWidget(progress_);
}

// The two tables with their image wells and thumbnails.
void MainWindow::buildTables(QWidget* central) {
  Editor& c = controller();
  auto table = [&](Table which, const char* name, const QString& tip) {
    auto* view = new MirrorTableView(central);
    view->setObjectName(QLatin1String(name));
    view->setToolTip(tip);
    auto* model = new MirrorTableModel(c, which, view);
    view->setModel(model);
    connect(model, &MirrorTableModel::editRefused, this, [this](const QString& why) { statusBar()->showMessage(why); });
    connect(view, &MirrorTableView::clickSent, this, &MainWindow::syncHighlights);
    return view;
  };
  characterTable_ =
      table(Table::Characters, "characters",
            tr("Drag rows to reorder them; drop image files here to add one character per file"));
  layerTable_ = table(Table::Layers, "layers",
                      tr("Drag rows to reorder them; drop image files here to add one layer per file"));
  layerTable_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  characterWell_ = new ImageWellWidget(c, Table::Characters, central);
  layerWell_ = new ImageWellWidget(c, Table::Layers, central);
  characterWell_->setObjectName(QStringLiteral("characterWell"));
  layerWell_->setObjectName(QStringLiteral("layerWell"));
  for (ImageWellWidget* well : {characterWell_, layerWell_})
    connect(well, &ImageWellWidget::message, this, [this](const QString& text) { statusBar()->showMessage(text); });
  // Thumbnails of the pictures, an eye for a layer's visibility, hidden layers dimmed.
  installThumbnails(*characterTable_,
                    [&c](const QModelIndex& i) { return c.document().row(Table::Characters, i.row()).img; }, {},
                    {MirrorTableModel::NameColumn, -1, MirrorTableModel::DepthColumn});
  installThumbnails(
      *layerTable_, [&c](const QModelIndex& i) { return c.document().row(Table::Layers, i.row()).img; },
      [&c](const QModelIndex& i) { return c.document().row(Table::Layers, i.row()).visible != "1"; },
      {MirrorTableModel::NameColumn, MirrorTableModel::VisibleColumn, MirrorTableModel::DepthColumn});

}

// The columns of tables and wells with their buttons, and the canvas, side by side.
void MainWindow::buildPanes(QWidget* central) {
  // The buttons under each table: RecordActions gives them their actions.
  auto column = [&](const QString& title, QWidget* view, QWidget* well, const QString& insertText,
                    const QString& removeText, const char* what) {
    auto* pane = new QWidget(central);
    auto* box = new QVBoxLayout(pane);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(new QLabel(title, central));
    // The table keeps most of the column's height; on a small screen the well gives up room first.
    box->addWidget(view, 3);
    well->setMinimumHeight(48);
    well->setMaximumHeight(160);
    well->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    box->addWidget(well, 1);
    auto* buttons = new QHBoxLayout;
    for (auto [text, name] : {std::pair{insertText, "insert"}, {removeText, "remove"}}) {
      auto* button = new QPushButton(text, central);  // no auto default outside a dialog
      button->setObjectName(QLatin1String(name) + QLatin1String(what));
      buttons->addWidget(button);
    }
    box->addLayout(buttons);
    return pane;
  };
  // The user can resize the panes; the program remembers their sizes.
  panes_ = new QSplitter(Qt::Horizontal, central);
  panes_->setObjectName(QStringLiteral("panes"));
  panes_->setChildrenCollapsible(false);
  panes_->addWidget(column(tr("Characters"), characterTable_, characterWell_, tr("Insert Character"),
                           tr("Remove Character"), "Character"));
  panes_->addWidget(
      column(tr("Layers"), layerTable_, layerWell_, tr("Insert Layer"), tr("Remove Layer"), "Layer"));
  panes_->addWidget(canvas_);
  panes_->setStretchFactor(2, 1);
  panes_->setSizes({250, 310, 540});

}

void MainWindow::buildProblemsPanel() {
  problemsList_ = new QTreeWidget;
  problemsList_->setObjectName(QStringLiteral("problems"));
  problemsList_->setColumnCount(2);
  problemsList_->setHeaderLabels({tr("File"), tr("Problem")});
  problemsList_->setRootIsDecorated(false);
  problemsList_->setWordWrap(true);
  problemsList_->header()->setStretchLastSection(true);
  // A double-click (or Enter) on a picture's row selects the record it belongs to.
  connect(problemsList_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    const std::optional<std::pair<int64_t, int64_t>> record =
        recordOfPictureFile(controller().list(), item->data(0, Qt::UserRole).toString().toStdString());
    if (!record) return;
    characterTable_->clickRow(record->first);
    if (record->second >= 0) layerTable_->clickRow(record->second);
    (record->second >= 0 ? layerTable_ : characterTable_)->setFocus();
  });
  problemsDock_ = new QDockWidget(tr("Problems"), this);
  problemsDock_->setObjectName(QStringLiteral("problemsPanel"));
  problemsDock_->setWidget(problemsList_);
  addDockWidget(Qt::BottomDockWidgetArea, problemsDock_);
  problemsDock_->hide();
}

void MainWindow::buildFileMenu() {
  auto add = [this](QMenu* menu, const QString& text, auto slot, const QKeySequence& keys = {}) {
    QAction* action = menu->addAction(text, this, slot);
    action->setShortcut(keys);
    return action;
  };
  auto open = [this](bool forNew) {
    commitOpenEdits();
    if (std::optional<Feedback> opened = session_->openChosenProject(forNew)) showProject(opened);
  };
  QMenu* file = menuBar()->addMenu(tr("&File"));
  add(file, tr("&New Project…"), [open] { open(true); }, QKeySequence::New);
  add(file, tr("&Open Project…"), [open] { open(false); }, QKeySequence::Open);
  recentMenu_ = file->addMenu(tr("Open &Recent"));
  connect(recentMenu_, &QMenu::aboutToShow, this, &MainWindow::fillRecentMenu);
  fillRecentMenu();
  file->addSeparator();
  saveAction_ = add(file, tr("&Save"), [this] { save(); }, QKeySequence::Save);
  add(file, tr("Save &As…"), [this] {
    commitOpenEdits();
    if (std::optional<Feedback> saved = session_->saveAs()) showProject(saved);
  }, QKeySequence::SaveAs);
  file->addSeparator();
  add(file, tr("Add &Layers from Files…"),
      [this] { commitOpenEdits(), tell(session_->addChosenPictureFiles(Table::Layers)); });
  add(file, tr("Add C&haracters from Files…"),
      [this] { commitOpenEdits(), tell(session_->addChosenPictureFiles(Table::Characters)); });
  file->addSeparator();
  add(file, tr("&Export Picture…"), [this] { commitOpenEdits(), tell(session_->exportPicture()); },
      QKeySequence(tr("Ctrl+E")));
  add(file, tr("Export &All Characters…"), [this] {
    commitOpenEdits();
    // The folder first: a progress dialog made before it would come up over the chooser, and its
    // Cancel would stop the export.
    const std::optional<std::filesystem::path> folder = questions_->chooseExportFolder();
    if (!folder) return;
    tell(exportWithProgress(this, tr("Export All Characters"), [this, &folder](const ExportOptions& options) {
      return session_->exportAllCharactersTo(*folder, options);
    }));
  }, QKeySequence(tr("Ctrl+Shift+E")));
  add(file, tr("&Clean Up Unused Images…"), [this] { commitOpenEdits(), tell(session_->cleanUpUnusedImages()); });
  file->addSeparator();
  add(file, tr("&Close Project"), [this] { closeProject(); }, QKeySequence::Close);
  add(file, tr("&Quit"), [this] { close(); }, QKeySequence::Quit)->setMenuRole(QAction::QuitRole);
}

void MainWindow::buildMenus() {
  auto add = [this](QMenu* menu, const QString& text, auto slot, const QKeySequence& keys = {}) {
    QAction* action = menu->addAction(text, this, slot);
    action->setShortcut(keys);
    return action;
  };
  buildFileMenu();

  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  edit->setObjectName(QStringLiteral("editMenu"));
  QUndoStack& history = controller().document().history();
  QAction* undo = history.createUndoAction(this, tr("Undo"));
  undo->setShortcuts(QKeySequence::Undo);
  QAction* redo = history.createRedoAction(this, tr("Redo"));
  redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  // An open cell editor commits before the history moves.
  connect(undo, &QAction::triggered, this, &MainWindow::commitOpenEdits);
  // After an edit, an undo or a redo, a message about an earlier action (what was copied, which
  // picture came in) no longer tells how things are; what the step itself reports comes after this.
  connect(&history, &QUndoStack::indexChanged, statusBar(), &QStatusBar::clearMessage);
  edit->addActions({undo, redo});
  actions_ = std::make_unique<RecordActions>(
      *session_, *characterTable_, *layerTable_, *canvas_, *this, [this] { commitOpenEdits(); },
      [this](const Feedback& f) { tell(f); });
  actions_->addTo(*edit);

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  add(help, tr("&Keyboard Shortcuts"), [this] { showKeyboardShortcuts(this, menuBar()); }, QKeySequence::HelpContents);
  add(help, tr("&About charstack"), [this] {
    showAboutDialog(this, Session::folderText(controller().store().folder().path()));
  })->setMenuRole(QAction::AboutRole);
}

void MainWindow::buildViewMenu() {
  QMenu* view = new QMenu(tr("&View"), this);
  menuBar()->insertMenu(menuBar()->actions().value(2), view);  // after File and Edit
  auto add = [&](const QString& text, QList<QKeySequence> keys, auto slot) {
    QAction* action = view->addAction(text, canvas_, slot);
    action->setShortcuts(keys);
    return action;
  };
  // Ctrl+= too: Ctrl++ needs Shift on many keyboards.
  add(tr("Zoom &In"), QKeySequence::keyBindings(QKeySequence::ZoomIn) << QKeySequence(Qt::CTRL | Qt::Key_Equal),
      [this] { canvas_->zoomBy(1); });
  add(tr("Zoom &Out"), QKeySequence::keyBindings(QKeySequence::ZoomOut), [this] { canvas_->zoomBy(-1); });
  add(tr("&Actual Size"), {QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] { canvas_->setZoom(1.0); });
  add(tr("&Fit"), {QKeySequence(Qt::CTRL | Qt::Key_9)}, &CanvasWidget::fitToView);
  view->addSeparator();
  QAction* checkerboard = view->addAction(tr("Transparency &Checkerboard"));
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

void MainWindow::fillRecentMenu() {
  recentMenu_->clear();
  const QStringList recent = remembersSettings_ ? recentProjects() : QStringList();
  for (const QString& folder : recent)
    recentMenu_->addAction(QDir::toNativeSeparators(folder), this, [this, folder] { openProject(toPath(folder)); });
  if (recent.isEmpty()) recentMenu_->addAction(tr("No recent projects"))->setEnabled(false);
  recentMenu_->addSeparator();
  recentMenu_->addAction(tr("Clear Menu"), this, [] { forgetRecentProjects(); })->setEnabled(!recent.isEmpty());
}

bool MainWindow::openProject(const std::filesystem::path& folder, bool settled) {
  commitOpenEdits();
  const std::filesystem::path before = controller().store().folder().path();
  std::optional<Feedback> opened = session_->openProject(folder, settled);
  if (!opened) return false;
  // A failed save or a folder that could not be opened leaves the project as it was.
  if (controller().store().folder().path() == before && opened->messageTitle.size()) return tell(*opened), false;
  showProject(opened);
  return true;
}

void MainWindow::rememberSettings() {
  remembersSettings_ = true;
  QSettings settings;
  if (const QByteArray g = settings.value(QStringLiteral("window/geometry")).toByteArray(); !g.isEmpty()) {
    restoreGeometry(g);
    fitWindowToScreen(*this);  // the screen or its scale may have changed since
  }
  if (const QByteArray p = settings.value(QStringLiteral("window/panes")).toByteArray(); !p.isEmpty())
    panes_->restoreState(p);
  rememberProject(controller().store().folder().path());
}

void MainWindow::tell(const Feedback& feedback) {
  if (!feedback.status.isEmpty()) statusBar()->showMessage(feedback.status);
  if (!feedback.problems.empty()) {
    // Problems of the same kind found later (the pictures, read after data.txt) join those listed.
    const bool more = !problemsDock_->isHidden() && problemsDock_->windowTitle() == feedback.problemsTitle;
    if (!more) problemsList_->clear();
    for (const Problem& p : feedback.problems) {
      const QStringList texts{QString::fromStdString(p.file), QString::fromStdString(p.reason)};
      bool listed = false;
      for (int i = 0; more && !listed && i < problemsList_->topLevelItemCount(); ++i)
        listed = problemsList_->topLevelItem(i)->text(0) == texts[0] && problemsList_->topLevelItem(i)->text(1) == texts[1];
      if (listed) continue;
      auto* item = new QTreeWidgetItem(texts);
      item->setData(0, Qt::UserRole, texts[0]);
      item->setToolTip(1, texts[1]);
      problemsList_->addTopLevelItem(item);
    }
    // The file column as wide as its names, but never more than a third: the reasons stay in view.
    problemsList_->resizeColumnToContents(0);
    problemsList_->setColumnWidth(0, std::min(problemsList_->columnWidth(0), std::max(120, problemsList_->width() / 3)));
    problemsDock_->setWindowTitle(feedback.problemsTitle);
    problemsDock_->show();
    // A few lines high: the editor keeps most of the room.
    const int lines = static_cast<int>(std::min(problemsList_->topLevelItemCount(), 5)) + 1;
    resizeDocks({problemsDock_}, {lines * problemsList_->fontMetrics().height() + 24}, Qt::Vertical);
  }
  if (feedback.message.isEmpty()) return;
  // A message found while the window is built comes once it stands, over it.
  if (isVisible()) return questions_->tell(feedback.messageTitle, feedback.message, feedback.warning);
  QTimer::singleShot(0, this, [this, feedback] { questions_->tell(feedback.messageTitle, feedback.message, feedback.warning); });
}

void MainWindow::showProject(const std::optional<Feedback>& opened) {
  Editor& c = controller();
  const QString title = tr("%1[*] — charstack").arg(Session::folderText(c.store().folder().path()));
  setWindowTitle(c.store().readOnly() ? tr("%1 (read-only)").arg(title) : title);
  save_->setEnabled(!c.store().readOnly());
  saveAction_->setEnabled(!c.store().readOnly());
  if (opened) {
    characterTable_->highlightRow(0);
    layerTable_->highlightRow(0);
    saveMessage_.clear();
    statusBar()->clearMessage();
    problemsDock_->hide();
    tell(*opened);
    // Unsaved work restored at the open: its selection, and the mark of unsaved changes.
    if (c.store().hasUnsavedChanges()) syncHighlights();
    if (remembersSettings_) rememberProject(c.store().folder().path());
  }
  if (c.store().ownership() == ProjectLock::Ownership::OwnedByAnother)
    statusBar()->showMessage(c.store().readOnly() ? tr("Opened read-only: the project is open in another window")
                                          : tr("The project is open in another window too: saves there and here "
                                               "can undo each other"));
  else if (c.store().ownership() == ProjectLock::Ownership::NoLockFile)
    statusBar()->showMessage(c.store().readOnly() ? tr("Opened read-only: the project cannot be locked")
                                          : tr("The project cannot be locked: nothing keeps another window from "
                                               "saving it too"));
  else if (c.store().recoveryStopped())
    statusBar()->showMessage(tr("Opened read-only: the last save was interrupted and cannot be finished safely"));
}

void MainWindow::save() {
  commitOpenEdits();
  // A long save shows its progress after half a second and keeps the window painting; keys typed
  // meanwhile wait for it.
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0;
  const Feedback feedback = session_->save([&](size_t done, size_t total) {
    const qint64 now = clock.elapsed();
    if (now < 500 || now - last < 50) return;
    last = now;
    progress_->setValue(total ? static_cast<int>(done * 1000 / total) : 0);
    progress_->show();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  });
  progress_->hide();
  if (feedback.empty()) return;
  saveMessage_ = feedback.status;
  if (feedback.problems.empty() && problemsDock_->windowTitle() == tr("Problems of the last save")) problemsDock_->hide();
  tell(feedback);
  showProject(std::nullopt);  // the folder may have moved
  updateModifiedMark();
}

void MainWindow::commitOpenEdits() {
  characterTable_->commitOpenEdit();
  layerTable_->commitOpenEdit();
}

void MainWindow::syncHighlights() {
  const EditorState& state = controller().state();
  characterTable_->highlightRow(state.selectedCharacterRow);
  layerTable_->highlightRows(controller().selection().selectedLayers(), state.selectedLayerRow);
  updateModifiedMark();
}

void MainWindow::updateModifiedMark() {
  const bool modified = controller().store().hasUnsavedChanges();
  // After an edit the message about the last save is out of date.
  if (modified && !saveMessage_.isEmpty() && statusBar()->currentMessage() == saveMessage_) statusBar()->clearMessage();
  if (modified) saveMessage_.clear();
  setWindowModified(modified);
  if (actions_) actions_->update();
}

void MainWindow::closeProject() {
  commitOpenEdits();
  Feedback feedback;
  if (session_->saving() || !session_->settleUnsavedChanges(feedback)) return tell(feedback);
  if (const std::optional<std::filesystem::path> next = questions_->chooseProjectFolder(false)) {
    openProject(*next, true);
  } else {
    settled_ = true;
    close();
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  commitOpenEdits();
  Feedback feedback;
  if (!std::exchange(settled_, false) && (session_->saving() || !session_->settleUnsavedChanges(feedback))) {
    tell(feedback);
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

}  // namespace charstack

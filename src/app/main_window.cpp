#include "app/main_window.hpp"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QVBoxLayout>

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

// The first few problems on one line; the status bar has room for no more.
QString problemLine(const std::vector<Problem>& problems) {
  constexpr size_t kShown = 3;
  QStringList parts;
  for (size_t i = 0; i < problems.size() && i < kShown; ++i) parts << problemText(problems[i]);
  QString line = parts.join(QStringLiteral("; "));
  if (problems.size() > kShown) line += QObject::tr("; and %1 more").arg(problems.size() - kShown);
  return line;
}

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

  setWindowTitle(tr("%1 — charstack").arg(folderText(folder)));
  const QString loadText = describeLoadProblems(controller_->loadProblems());
  if (!loadText.isEmpty()) showStatus(loadText);
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

  characterWell_ = new ImageWellWidget(controller_->IV1, central);
  layerWell_ = new ImageWellWidget(controller_->IV2, central);
  canvas_ = new CanvasWidget(list, state, timers_, central);

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

  connect(insertCharacter_, &QPushButton::clicked, this, [this] { controller_->insert1(); });
  connect(insertLayer_, &QPushButton::clicked, this, [this] { controller_->insert2(); });
  connect(removeCharacter_, &QPushButton::clicked, this, [this] { controller_->remove1(); });
  connect(removeLayer_, &QPushButton::clicked, this, [this] { controller_->remove2(); });
  connect(save_, &QPushButton::clicked, this, [this] { save(); });
  auto* saveShortcut = new QShortcut(QKeySequence::Save, this);
  connect(saveShortcut, &QShortcut::activated, this, [this] { save(); });

  for (MirrorTableModel* model : {characterModel_, layerModel_})
    connect(model, &MirrorTableModel::editRefused, this, &MainWindow::showStatus);
  for (ImageWellWidget* well : {characterWell_, layerWell_})
    connect(well, &ImageWellWidget::message, this, &MainWindow::showStatus);
}

void MainWindow::showStatus(const QString& text) { statusBar()->showMessage(text); }

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
  return tr("Loaded with problems: %1").arg(problemLine(problems));
}

SaveReport MainWindow::save() {
  commitOpenEdits();
  SaveReport report = controller_->saveBtn();
  showStatus(describeSave(report, folderText(controller_->folder().path())));
  if (!report.ok()) {
    QStringList lines;
    lines << (report.refused ? tr("Nothing was saved.") : tr("Some files could not be saved."));
    for (const Problem& problem : report.problems) lines << problemText(problem);
    showSaveFailure(lines.join(QLatin1Char('\n')));
  }
  return report;
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

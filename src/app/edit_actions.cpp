#include "app/edit_actions.hpp"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include "project/transfer.hpp"
#include "ui/image_well_widget.hpp"
#include "ui/mirror_table.hpp"
#include "ui/record_mime.hpp"

namespace charstack {

namespace {

bool holdsRecordsOrImage(const QMimeData* data) {
  return data && (data->hasFormat(QString::fromLatin1(kRecordsMimeType)) || mayHoldImage(*data));
}

bool inside(const QWidget* widget, const QWidget& container) {
  return widget && (widget == &container || container.isAncestorOf(widget));
}

}  // namespace

RecordActions::RecordActions(Session& session, MirrorTableView& characters, MirrorTableView& layers,
                             QWidget& canvas, QWidget& window, std::function<void()> commit,
                             std::function<void(const Feedback&)> tell)
    : session_(session),
      characters_(characters),
      layers_(layers),
      canvas_(canvas),
      window_(window),
      commit_(std::move(commit)),
      tell_(std::move(tell)) {
  makeActions();
  for (const auto& [name, action] : {std::pair{"insertCharacter", insert_[0]},
                                     {"removeCharacter", remove_[0]},
                                     {"insertLayer", insert_[1]},
                                     {"removeLayer", remove_[1]}})
    bindButton(name, action);
  connectTables();
  canvas_.setAcceptDrops(true);
  canvas_.installEventFilter(this);
  connect(qApp, &QApplication::focusChanged, this, &RecordActions::update);
  connect(QApplication::clipboard(), &QClipboard::dataChanged, this, [this] {
    pasteable_ = holdsRecordsOrImage(QApplication::clipboard()->mimeData());
    update();
  });
  pasteable_ = holdsRecordsOrImage(QApplication::clipboard()->mimeData());
  update();
}

void RecordActions::makeActions() {
  insert_[0] = make(tr("Insert &Character"), tr("Insert a new character at the selected row"),
                    [this] { run(Insert, Table::Characters); });
  remove_[0] =
      make(tr("Remove C&haracter"), tr("Remove the selected character with its layers (Delete in the table)"),
           [this] { run(Remove, Table::Characters); });
  insert_[1] =
      make(tr("Insert &Layer"), tr("Insert a new layer at the selected row of the selected character"),
           [this] { run(Insert, Table::Layers); });
  remove_[1] = make(tr("Remove L&ayer"), tr("Remove the selected layers (Delete in the table)"),
                    [this] { run(Remove, Table::Layers); });
  generic_[Duplicate] = make(
      tr("&Duplicate"), tr("Put a copy of the selected records right after them; the pictures are shared"),
      [this] { run(Duplicate, target(Duplicate)); }, QKeySequence(Qt::CTRL | Qt::Key_D));
  generic_[Cut] = make(
      tr("Cu&t"), tr("Take the selected records out onto the clipboard"), [this] { run(Cut, target(Cut)); },
      QKeySequence::Cut);
  generic_[Copy] = make(
      tr("&Copy"), tr("Copy the selected records to the clipboard"), [this] { run(Copy, target(Copy)); },
      QKeySequence::Copy);
  generic_[Paste] = make(
      tr("&Paste"), tr("Paste records, or an image as a new record, after the selection"),
      [this] { run(Paste, target(Paste)); }, QKeySequence::Paste);
  generic_[MoveUp] = make(
      tr("Move &Up"), tr("Move the selected records one row up"), [this] { run(MoveUp, target(MoveUp)); },
      QKeySequence(Qt::CTRL | Qt::Key_Up));
  generic_[MoveDown] = make(
      tr("Move Do&wn"), tr("Move the selected records one row down"),
      [this] { run(MoveDown, target(MoveDown)); }, QKeySequence(Qt::CTRL | Qt::Key_Down));
  generic_[ShowHide] =
      make(tr("&Show Layers"), tr("Show the selected layers, or hide them when all are shown"),
           [this] { run(ShowHide, Table::Layers); });
}

// Delete, the context menu and dropped files in each table.
void RecordActions::connectTables() {
  for (Table table : {Table::Characters, Table::Layers}) {
    MirrorTableView& view = table == Table::Characters ? characters_ : layers_;
    connect(&view, &MirrorTableView::removeRequested, this, [this, table] {
      // Only what is highlighted goes.
      if (session_.controller().selection().canAct(Action::Copy, table)) run(Remove, table);
    });
    view.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&view, &QWidget::customContextMenuRequested, this,
            [this, &view, table](const QPoint& at) { contextMenu(view, table, at); });
    auto* model = qobject_cast<MirrorTableModel*>(view.model());
    connect(model, &MirrorTableModel::filesDropped, this, [this, table](const QStringList& paths, int row) {
      std::vector<std::filesystem::path> files;
      for (const QString& path : paths) files.push_back(toPath(path));
      tell_(session_.addPictureFiles(table, files, row >= 0 ? std::optional<int64_t>(row) : std::nullopt));
    });
    connect(model, &MirrorTableModel::dropRefused, this, [this](const QString& why) {
      tell_({why, {}, {}, {}, {}, false});
    });
  }
}

QAction* RecordActions::make(const QString& text, const QString& tip, std::function<void()> act,
                             const QKeySequence& keys) {
  auto* action = new QAction(text, &window_);
  action->setToolTip(tip);
  action->setStatusTip(tip);
  action->setShortcut(keys);
  connect(action, &QAction::triggered, this, std::move(act));
  return action;
}

void RecordActions::bindButton(const char* name, QAction* action) {
  auto* button = window_.findChild<QPushButton*>(QLatin1String(name));
  if (!button) return;
  connect(button, &QPushButton::clicked, action, &QAction::trigger);
  auto follow = [button, action] {
    button->setEnabled(action->isEnabled());
    button->setToolTip(action->toolTip());
  };
  connect(action, &QAction::changed, button, follow);
  follow();
}

void RecordActions::addTo(QMenu& edit) {
  edit.addSeparator();
  edit.addActions({generic_[Cut], generic_[Copy], generic_[Paste], generic_[Duplicate]});
  edit.addSeparator();
  edit.addActions({generic_[MoveUp], generic_[MoveDown]});
  edit.addSeparator();
  edit.addActions({insert_[0], remove_[0]});
  edit.addSeparator();
  edit.addActions({insert_[1], remove_[1], generic_[ShowHide]});
}

Table RecordActions::target(Kind kind) const {
  if (contextTable_) return *contextTable_;
  const QWidget* focus = QApplication::focusWidget();
  if (inside(focus, characters_)) return Table::Characters;
  if (inside(focus, layers_)) return Table::Layers;
  // Pictures pasted on the canvas become layers of the character it shows.
  if (kind == Paste && inside(focus, canvas_)) return Table::Layers;
  return session_.controller().selection().activeTable();
}

void RecordActions::update() {
  Editor& c = session_.controller();
  using A = Action;
  for (int t = 0; t < 2; ++t) {
    const Table table = t == 0 ? Table::Characters : Table::Layers;
    insert_[t]->setEnabled(c.selection().canAct(A::Insert, table));
    remove_[t]->setEnabled(c.selection().canAct(A::Remove, table));
  }
  for (auto [kind, action] : {std::pair{Duplicate, A::Duplicate},
                              {Cut, A::Copy},
                              {Copy, A::Copy},
                              {MoveUp, A::MoveUp},
                              {MoveDown, A::MoveDown}})
    generic_[kind]->setEnabled(c.selection().canAct(action, target(kind)));
  generic_[Paste]->setEnabled(pasteable_);
  generic_[ShowHide]->setEnabled(c.selection().canAct(A::ShowHide, Table::Layers));
  bool allShown = true;
  if (c.selection().canAct(A::ShowHide, Table::Layers))
    for (int64_t r : c.selection().selectedLayers()) allShown = allShown && c.document().row(Table::Layers, r).visible == "1";
  generic_[ShowHide]->setText(allShown && generic_[ShowHide]->isEnabled() ? tr("&Hide Layers")
                                                                          : tr("&Show Layers"));
}

void RecordActions::run(Kind kind, Table table) {
  commit_();
  Editor& c = session_.controller();
  switch (kind) {
    case Insert:
      table == Table::Characters ? c.insertCharacter() : c.insertLayer();
      break;
    case Remove:
      table == Table::Characters ? c.removeCharacter() : c.removeLayers();
      break;
    case Duplicate:
      c.duplicate(table);
      break;
    case Cut:
    case Copy: {
      RecordSet records = kind == Cut ? c.cut(table) : c.copyRecords(table);
      if (records.empty()) break;
      const int count = static_cast<int>(records.size());
      QApplication::clipboard()->setMimeData(new RecordsMimeData(std::move(records)));
      tell_({kind == Cut ? tr("Cut %n record(s) to the clipboard", nullptr, count)
                         : tr("Copied %n record(s) to the clipboard", nullptr, count),
             {},
             {},
             {},
             {},
             false});
      break;
    }
    case Paste:
      // A focused image well takes the picture itself, as its own Ctrl+V does.
      if (auto* well = qobject_cast<ImageWellWidget*>(QApplication::focusWidget())) {
        if (const QMimeData* data = QApplication::clipboard()->mimeData()) well->takeImage(*data);
        break;
      }
      paste(QApplication::clipboard()->mimeData(), table);
      break;
    case MoveUp:
      c.moveSelected(table, -1);
      break;
    case MoveDown:
      c.moveSelected(table, 1);
      break;
    case ShowHide:
      c.showHideSelected();
      break;
    case Kinds:
      break;
  }
  update();
}

void RecordActions::paste(const QMimeData* data, Table table, std::optional<int64_t> row) {
  Editor& c = session_.controller();
  if (!holdsRecordsOrImage(data))
    return tell_({tr("The clipboard holds no records and no image."), {}, {}, {}, {}, false});
  if (std::optional<RecordSet> records = recordsFromMimeData(*data)) {
    if (!c.paste(std::move(*records), row))
      tell_({tr("Select a character first: the layers need one to belong to."), {}, {}, {}, {}, false});
    return;
  }
  if (data->hasFormat(QString::fromLatin1(kRecordsMimeType)))
    return tell_({tr("The records on the clipboard are damaged or cut short: nothing was changed."), {}, {}, {}, {}, false});
  std::vector<std::filesystem::path> files;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) files.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
  if (!files.empty()) return tell_(session_.addPictureFiles(table, files, row));
  if (ImageRef image = imageFromMimeData(*data))
    c.insertPictures(table, {{"", std::move(image)}}, row);
  else
    tell_({tr("Not an image, or one larger than 8192 x 8192 pixels: nothing was changed."), {}, {}, {}, {}, false});
}

void RecordActions::contextMenu(MirrorTableView& view, Table table, const QPoint& at) {
  commit_();
  contextTable_ = table;
  update();
  QMenu menu(&view);
  menu.addAction(insert_[table == Table::Characters ? 0 : 1]);
  menu.addAction(generic_[Duplicate]);
  menu.addSeparator();
  menu.addActions({generic_[Cut], generic_[Copy], generic_[Paste]});
  menu.addSeparator();
  menu.addActions({generic_[MoveUp], generic_[MoveDown]});
  menu.addSeparator();
  menu.addAction(remove_[table == Table::Characters ? 0 : 1]);
  if (table == Table::Layers) menu.addAction(generic_[ShowHide]);
  menu.exec(view.viewport()->mapToGlobal(at));
  contextTable_.reset();
  update();
}

bool RecordActions::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &canvas_) return false;
  const auto type = event->type();
  if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
  auto* drop = static_cast<QDropEvent*>(event);
  // Rows dragged from a table are no pictures for the canvas.
  const QMimeData* data = drop->mimeData();
  if (!data || data->hasFormat(QString::fromLatin1(MirrorTableModel::kRowsMimeType)) ||
      !holdsRecordsOrImage(data)) {
    drop->ignore();
    return true;
  }
  drop->acceptProposedAction();
  if (type == QEvent::Drop) {
    commit_();
    paste(data, Table::Layers);
  }
  return true;
}

}  // namespace charstack

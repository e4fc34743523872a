#include "ui/mirror_table.hpp"

#include <QCoreApplication>
#include <QDrag>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <algorithm>

#include "project/transfer.hpp"
#include "ui/image_well_widget.hpp"
#include "ui/record_mime.hpp"

namespace charstack {

namespace {

QStringList localFiles(const QMimeData& data) {
  QStringList paths;
  for (const QUrl& url : data.urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  return paths;
}

}  // namespace

// ---- MirrorTableModel ------------------------------------------------------------------------

MirrorTableModel::MirrorTableModel(Editor& controller, Table table, QObject* parent)
    : QAbstractTableModel(parent), controller_(controller), table_(table) {
  controller_.document().addObserver(this);
}

MirrorTableModel::~MirrorTableModel() { controller_.document().removeObserver(this); }

int MirrorTableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(std::min<int64_t>(controller_.document().rowCount(table_), INT_MAX));
}

int MirrorTableModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return table_ == Table::Characters ? 4 : 5;
}

int MirrorTableModel::column(Field field) const {
  const int xy = table_ == Table::Characters ? 2 : 3;
  switch (field) {
    case Field::Name:
      return NameColumn;
    case Field::Depth:
      return DepthColumn;
    case Field::Visible:
      return table_ == Table::Layers ? VisibleColumn : -1;
    case Field::X:
      return xy;
    case Field::Y:
      return xy + 1;
  }
  return -1;
}

Field MirrorTableModel::field(int column) const {
  for (Field f : {Field::Name, Field::Depth, Field::Visible, Field::X, Field::Y})
    if (this->column(f) == column) return f;
  return Field::Name;
}

QVariant MirrorTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  const RowTexts row = controller_.document().row(table_, index.row());
  const Field f = field(index.column());
  const bool text = role == Qt::DisplayRole || role == Qt::EditRole;
  switch (f) {
    case Field::Name:
      // Bytes that are not UTF-8 show as U+FFFD; the record keeps them until the name is edited.
      if (text) return QString::fromStdString(row.name);
      break;
    case Field::Visible:
      if (role == Qt::CheckStateRole) return row.visible == "1" ? Qt::Checked : Qt::Unchecked;
      break;
    case Field::Depth:
    case Field::X:
    case Field::Y:
      if (text) return QString::fromStdString(f == Field::Depth ? row.depth : f == Field::X ? row.x : row.y);
      if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      break;
  }
  return {};
}

bool MirrorTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return false;
  const bool checkBox = index.column() == VisibleColumn && role == Qt::CheckStateRole;
  if (!checkBox && role != Qt::EditRole) return false;
  // A text shown unchanged is no edit: a name that is not valid UTF-8 keeps its bytes.
  if (!checkBox && value.toString() == data(index, Qt::EditRole).toString()) return true;
  const std::string text = checkBox ? std::string(static_cast<Qt::CheckState>(value.toInt()) == Qt::Checked ? "1" : "0")
                                    : value.toString().toStdString();
  if (std::optional<std::string> refusal =
          controller_.editCell(table_, index.row(), field(index.column()), text)) {
    emit editRefused(QString::fromStdString(*refusal));
    return false;
  }
  emit edited();
  return true;
}

Qt::ItemFlags MirrorTableModel::flags(const QModelIndex& index) const {
  // Drops go between rows (the table itself takes them), never onto a row.
  if (!index.isValid()) return Qt::ItemIsDropEnabled;
  Qt::ItemFlags f =
      Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren | Qt::ItemIsDragEnabled;
  if (field(index.column()) == Field::Visible)
    f |= Qt::ItemIsUserCheckable;
  else
    f |= Qt::ItemIsEditable;
  return f;
}

QVariant MirrorTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || section >= columnCount()) return {};
  switch (field(section)) {
    case Field::Name:
      return tr("name", "column title");
    case Field::Depth:
      return tr("depth", "column title: the draw depth, 0 to 999");
    case Field::Visible:
      return tr("visible", "column title");
    case Field::X:
      return tr("x", "column title: the horizontal position");
    case Field::Y:
      return tr("y", "column title: the vertical position");
  }
  return {};
}

QStringList MirrorTableModel::mimeTypes() const {
  return {QString::fromLatin1(kRowsMimeType), QString::fromLatin1(kRecordsMimeType),
          QStringLiteral("text/uri-list"), QStringLiteral("application/x-qt-image")};
}

QMimeData* MirrorTableModel::mimeData(const QModelIndexList& indexes) const {
  // The selected records, and which rows of which table of which process they are.
  auto* data = new RecordsMimeData(controller_.copyRecords(table_));
  QStringList rows;
  for (const QModelIndex& index : indexes)
    if (index.column() == 0) rows << QString::number(index.row());
  const QString origin =
      QStringLiteral("%1 %2 ").arg(QCoreApplication::applicationPid()).arg(reinterpret_cast<quintptr>(this));
  data->setData(QString::fromLatin1(kRowsMimeType), (origin + rows.join(QLatin1Char(','))).toUtf8());
  return data;
}

bool MirrorTableModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int,
                                       const QModelIndex& parent) const {
  return data && !parent.isValid() &&
         (data->hasFormat(QString::fromLatin1(kRowsMimeType)) ||
          data->hasFormat(QString::fromLatin1(kRecordsMimeType)) || mayHoldImage(*data));
}

bool MirrorTableModel::dropMimeData(const QMimeData* data, Qt::DropAction, int row, int,
                                    const QModelIndex& parent) {
  if (!canDropMimeData(data, Qt::CopyAction, row, 0, parent)) return false;
  const std::optional<int64_t> at = row >= 0 ? std::optional<int64_t>(row) : std::nullopt;
  // Rows of this very table move.
  const QByteArray origin = data->data(QString::fromLatin1(kRowsMimeType));
  const QList<QByteArray> words = origin.split(' ');
  if (words.size() == 3 && words[0].toLongLong() == QCoreApplication::applicationPid() &&
      words[1].toULongLong() == reinterpret_cast<quintptr>(this)) {
    std::vector<int64_t> rows;
    for (const QByteArray& r : words[2].split(',')) rows.push_back(r.toLongLong());
    return controller_.moveRows(table_, rows, row >= 0 ? row : rowCount());
  }
  if (std::optional<RecordSet> records = recordsFromMimeData(*data)) {
    if (records->characters.empty() != (table_ == Table::Layers)) {
      emit dropRefused(table_ == Table::Layers ? tr("Characters go into the characters table.")
                                               : tr("Layers go into the layers table."));
      return false;
    }
    if (!controller_.paste(std::move(*records), at))
      emit dropRefused(tr("Select a character first: the layers need one to belong to."));
    return true;
  }
  if (data->hasFormat(QString::fromLatin1(kRecordsMimeType))) {
    emit dropRefused(tr("The dropped records are damaged or cut short: nothing was changed."));
    return false;
  }
  if (const QStringList files = localFiles(*data); !files.isEmpty()) {
    emit filesDropped(files, row);
    return true;
  }
  if (ImageRef image = imageFromMimeData(*data))
    return controller_.insertPictures(table_, {{"", std::move(image)}}, at);
  emit dropRefused(tr("Not an image, or one larger than 8192 x 8192 pixels: nothing was changed."));
  return false;
}

void MirrorTableModel::beginRows(Table table, Change change, int64_t first, int64_t count) {
  if (table != table_) return;
  pending_ = change;
  const int from = static_cast<int>(first), to = static_cast<int>(first + count - 1);
  switch (change) {
    case Change::Reset: beginResetModel(); break;
    case Change::Insert: beginInsertRows({}, from, to); break;
    case Change::Remove: beginRemoveRows({}, from, to); break;
  }
}

void MirrorTableModel::endRows(Table table) {
  if (table != table_ || !pending_) return;
  switch (*std::exchange(pending_, std::nullopt)) {
    case Change::Reset: endResetModel(); break;
    case Change::Insert: endInsertRows(); break;
    case Change::Remove: endRemoveRows(); break;
  }
}

void MirrorTableModel::rowsChanged(Table table, int64_t first, int64_t last) {
  if (table != table_ || first < 0 || first > last || last >= rowCount()) return;
  emit dataChanged(index(static_cast<int>(first), 0), index(static_cast<int>(last), columnCount() - 1));
}

// ---- MirrorTableView -------------------------------------------------------------------------

MirrorTableView::MirrorTableView(QWidget* parent) : QTableView(parent) {
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSortingEnabled(false);
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                  QAbstractItemView::AnyKeyPressed);
  setAlternatingRowColors(true);
  // Tab leaves the table for the next widget (the wells, the canvas); the arrow keys move between cells.
  setTabKeyNavigation(false);
  setWordWrap(false);
  verticalHeader()->setVisible(false);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setStretchLastSection(false);
  horizontalHeader()->setHighlightSections(false);
  setMinimumSize(180, 120);
  // Rows are dragged between the other rows (a move), to other windows and programs (a copy); records,
  // pictures and image files are dropped between the rows.
  setDragEnabled(true);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDragDropMode(QAbstractItemView::DragDrop);
  setDragDropOverwriteMode(false);
  setDefaultDropAction(Qt::MoveAction);
  setDropIndicatorShown(true);
}

void MirrorTableView::setModel(QAbstractItemModel* model) {
  QTableView::setModel(model);
  if (!model) return;
  auto* header = horizontalHeader();
  header->setSectionResizeMode(0, QHeaderView::Stretch);
  for (int c = 1; c < model->columnCount(); ++c) header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
  // A reset drops the selection; the highlight comes back on the same rows.
  connect(model, &QAbstractItemModel::modelReset, this, [this] { applyHighlight(); });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { rememberUserSelection(); });
  applyHighlight();
}

std::vector<int64_t> MirrorTableView::selectedRows() const {
  std::vector<int64_t> rows;
  if (selectionModel())
    for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void MirrorTableView::highlightRows(const std::vector<int64_t>& rows, int64_t current) {
  const int count = model() ? model()->rowCount() : 0;
  highlight_.clear();
  for (int64_t r : rows)
    if (r >= 0 && r < count) highlight_.push_back(r);
  current_ = current >= 0 && current < count ? current : -1;
  if (current_ < 0) highlight_.clear();
  applyHighlight();
}

int MirrorTableView::highlightedRow() const {
  if (!selectionModel()) return -1;
  const QModelIndex current = selectionModel()->currentIndex();
  if (current.isValid() && selectionModel()->isRowSelected(current.row(), {})) return current.row();
  const QModelIndexList rows = selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.front().row();
}

bool MirrorTableView::commitOpenEdit() {
  if (state() != QAbstractItemView::EditingState) return false;
  QWidget* editor = indexWidget(currentIndex());
  if (!editor) return false;
  commitData(editor);
  closeEditor(editor, QAbstractItemDelegate::NoHint);
  return true;
}

void MirrorTableView::applyHighlight() {
  QItemSelectionModel* selection = selectionModel();
  if (!selection || !model()) return;
  applying_ = true;
  const int count = model()->rowCount();
  if (current_ >= 0 && current_ < count) {
    QItemSelection rows;
    for (int64_t r : highlight_)
      if (r < count)
        rows.select(model()->index(static_cast<int>(r), 0), model()->index(static_cast<int>(r), 0));
    const QModelIndex current =
        model()->index(static_cast<int>(current_), std::max(currentIndex().column(), 0));
    selection->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    selection->select(rows, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(current);
  } else {
    selection->clearSelection();  // the current cell stays: typing still edits it
  }
  applying_ = false;
}

void MirrorTableView::rememberUserSelection() {
  if (applying_) return;
  highlight_ = selectedRows();
  current_ = highlightedRow();
}

void MirrorTableView::sendClick(int64_t row) {
  clickedRow_ = row;
  if (action_) action_();
  // As on other platforms, the clicked row means something only while the click's own action runs.
  clickedRow_ = -1;
  emit clickSent();
}

void MirrorTableView::mousePressEvent(QMouseEvent* event) {
  // The row under the pointer before the base class reacts: its reaction cannot move the rows.
  const int row = indexAt(event->position().toPoint()).row();
  QTableView::mousePressEvent(event);
  if (event->button() != Qt::LeftButton) return;
  // A click on the empty part leaves no row highlighted, as the click selects no record.
  if (row < 0) highlightRow(-1);
  sendClick(row);
}

void MirrorTableView::mouseReleaseEvent(QMouseEvent* event) {
  // A press on a row of a selection of several keeps them for a drag; the release without one
  // selects that row alone.
  const std::vector<int64_t> before = selectedRows();
  QTableView::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && selectedRows() != before) sendClick(currentIndex().row());
}

void MirrorTableView::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) &&
      state() != QAbstractItemView::EditingState && event->modifiers() == Qt::NoModifier) {
    emit removeRequested();
    return;
  }
  // Space shows or hides a layer on its eye; on any other cell it would open an editor holding a
  // space, so it does nothing there.
  if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier &&
      state() != QAbstractItemView::EditingState && !(currentIndex().flags() & Qt::ItemIsUserCheckable)) {
    event->accept();
    return;
  }
  const QModelIndex before = currentIndex();
  const std::vector<int64_t> selected = selectedRows();
  QTableView::keyPressEvent(event);
  const QModelIndex after = currentIndex();
  // A keyboard move, or Shift with an arrow key extending the selection.
  if (after.isValid() && (after.row() != before.row() || selectedRows() != selected)) sendClick(after.row());
}

void MirrorTableView::startDrag(Qt::DropActions) {
  const QModelIndexList rows = selectionModel() ? selectionModel()->selectedRows() : QModelIndexList();
  if (rows.isEmpty()) return;
  auto* drag = new QDrag(this);
  drag->setMimeData(model()->mimeData(rows));
  const QRect first = visualRect(rows.front());
  drag->setPixmap(viewport()->grab(QRect(0, first.top(), viewport()->width(), first.height())));
  // A move here or a copy elsewhere; the table itself never takes rows out when the drag ends.
  drag->exec(Qt::MoveAction | Qt::CopyAction, Qt::MoveAction);
}

}  // namespace charstack

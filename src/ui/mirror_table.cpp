#include "ui/mirror_table.hpp"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <algorithm>


namespace charstack {

namespace {

Field columnField(int column) {
  switch (column) {
    case MirrorTableModel::NameColumn: return Field::Name;
    case MirrorTableModel::ValueColumn: return Field::Value;
    default: return Field::Visible;
  }
}


}  // namespace

// ---- MirrorTableModel ------------------------------------------------------------------------

MirrorTableModel::MirrorTableModel(InitLayer& controller, Table table, QObject* parent)
    : QAbstractTableModel(parent), controller_(controller), table_(table) {
  controller_.addObserver(this);
}

MirrorTableModel::~MirrorTableModel() { controller_.removeObserver(this); }

int MirrorTableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(std::min<int64_t>(controller_.rowCount(table_), INT_MAX));
}

int MirrorTableModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return table_ == Table::Characters ? 2 : 3;
}

QVariant MirrorTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  const RowDictionary row = controller_.row(table_, index.row());
  switch (index.column()) {
    case NameColumn:
      // Bytes that are not UTF-8 show as U+FFFD; the record keeps them until the name is edited.
      if (role == Qt::DisplayRole || role == Qt::EditRole) return QString::fromStdString(row.name);
      break;
    case ValueColumn:
      if (role == Qt::DisplayRole || role == Qt::EditRole) return QString::fromStdString(row.value);
      if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      break;
    case VisibleColumn:
      if (role == Qt::CheckStateRole) return row.visible == "1" ? Qt::Checked : Qt::Unchecked;
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
  if (std::optional<std::string> refusal = controller_.editCell(table_, index.row(), columnField(index.column()), text)) {
    emit editRefused(QString::fromStdString(*refusal));
    return false;
  }
  emit edited();
  return true;
}

Qt::ItemFlags MirrorTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
  if (index.column() == VisibleColumn)
    f |= Qt::ItemIsUserCheckable;
  else
    f |= Qt::ItemIsEditable;
  return f;
}

QVariant MirrorTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || section >= columnCount()) return {};
  switch (section) {
    case NameColumn: return tr("name", "column title");
    case ValueColumn: return tr("depth", "column title: the draw depth, 0 to 999");
    default: return tr("visible", "column title");
  }
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
}

void MirrorTableView::setModel(QAbstractItemModel* model) {
  QTableView::setModel(model);
  if (!model) return;
  auto* header = horizontalHeader();
  header->setSectionResizeMode(0, QHeaderView::Stretch);
  for (int c = 1; c < model->columnCount(); ++c) header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
  // A reset drops the selection; the highlight comes back on the same row.
  connect(model, &QAbstractItemModel::modelReset, this, [this] { applyHighlight(); });
  connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { rememberUserSelection(); });
  applyHighlight();
}

void MirrorTableView::setSelectionIndex(int64_t index) {
  const int rows = model() ? model()->rowCount() : 0;
  highlight_ = (index >= 0 && index < rows) ? index : -1;
  applyHighlight();
}

int MirrorTableView::highlightedRow() const {
  if (!selectionModel()) return -1;
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
  if (highlight_ >= 0 && highlight_ < model()->rowCount()) {
    const QModelIndex index = model()->index(static_cast<int>(highlight_), 0);
    selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
  } else {
    selection->clearSelection();  // the current cell stays: typing still edits it
  }
  applying_ = false;
}

void MirrorTableView::rememberUserSelection() {
  if (applying_) return;
  highlight_ = highlightedRow();
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
  if (row < 0) setSelectionIndex(-1);
  sendClick(row);
}

void MirrorTableView::keyPressEvent(QKeyEvent* event) {
  const QModelIndex before = currentIndex();
  QTableView::keyPressEvent(event);
  const QModelIndex after = currentIndex();
  if (after.isValid() && after.row() != before.row()) sendClick(after.row());
}

namespace {
QStringList localFiles(const QMimeData* data) {
  QStringList paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  return paths;
}
}  // namespace

void MirrorTableView::acceptFileDrops() {
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDropIndicatorShown(false);
}

void MirrorTableView::dragEnterEvent(QDragEnterEvent* event) {
  if (!localFiles(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void MirrorTableView::dragMoveEvent(QDragMoveEvent* event) {
  if (!localFiles(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void MirrorTableView::dropEvent(QDropEvent* event) {
  const QStringList paths = localFiles(event->mimeData());
  if (paths.isEmpty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  emit filesDropped(paths);
}

}  // namespace charstack

// The two tables of the editor: a Qt model over one of the controller's mirror arrays, and the
// table view that reports clicks and shows the controller's selection.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "controller/editor.hpp"
#include "platform/ui.hpp"

namespace charstack {

// The rows of one of the controller's tables (characters: name, depth, x, y; layers of one
// character: name, depth, visible, x, y), read from the model whenever the view asks. The
// controller's row changes become the model's row signals; edits go through Editor::editCell and
// are applied at once. Rows are dragged as records (RecordsMimeData); a drop between rows moves the
// table's own rows there, or puts in records of the table's kind, pictures or image files.
class MirrorTableModel : public QAbstractTableModel, public TableObserver {
  Q_OBJECT

 public:
  enum Column { NameColumn = 0, DepthColumn = 1, VisibleColumn = 2 };
  // The MIME type that names the rows a drag took from this model (and so from this window).
  static constexpr const char* kRowsMimeType = "application/x-charstack-rows";

  MirrorTableModel(Editor& controller, Table table, QObject* parent = nullptr);
  ~MirrorTableModel() override;

  Table table() const { return table_; }
  // The column of a field; the field of a column.
  int column(Field field) const;
  Field field(int column) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDropActions() const override { return Qt::CopyAction | Qt::MoveAction; }
  Qt::DropActions supportedDragActions() const override { return Qt::CopyAction | Qt::MoveAction; }
  bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                       const QModelIndex& parent) const override;
  // row -1: at the end.
  bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                    const QModelIndex& parent) override;

  void beginRows(Table table, Change change, int64_t first, int64_t count) override;
  void endRows(Table table) override;
  void rowsChanged(Table table, int64_t first, int64_t last) override;

 signals:
  // An edit was refused; the cell shows the record's value again.
  void editRefused(const QString& reason);
  // A cell's edit reached the record.
  void edited();
  // Local files were dropped before a row (-1: at the end), in the order of the drop.
  void filesDropped(const QStringList& paths, int row);
  // A drop did nothing, and why.
  void dropRefused(const QString& reason);

 private:
  Editor& controller_;
  Table table_;
  std::optional<Change> pending_;  // the change between beginRows and endRows
};

// A table that sends its action on every single click (on a row or on the empty part below the
// rows), on every keyboard move of the current row and whenever the user changes its selection, and
// highlights the rows the controller names. Rows are dragged to other places of the table, to other
// windows and to other programs; Delete and Backspace ask for the selected records to go.
class MirrorTableView : public QTableView, public TableView, public TableHighlight {
  Q_OBJECT

 public:
  explicit MirrorTableView(QWidget* parent = nullptr);

  void setModel(QAbstractItemModel* model) override;

  int64_t clickedRow() const override { return clickedRow_; }
  std::vector<int64_t> selectedRows() const override;
  void setAction(std::function<void()> action) override { action_ = std::move(action); }
  void highlightRow(int64_t index) override { highlightRows({index}, index); }
  void highlightRows(const std::vector<int64_t>& rows, int64_t current) override;

 signals:
  // The table's action has run for a click or a keyboard move.
  void clickSent();
  // Delete or Backspace outside a cell editor: the selected records should go.
  void removeRequested();

 public:
  // Selects the row as a click on it does, and runs the table's action (-1: no row).
  void clickRow(int64_t row) {
    highlightRow(row);
    sendClick(row);
  }
  // The highlighted row; -1 when no row is highlighted.
  int highlightedRow() const;
  // Commits the text of an open cell editor, as leaving the cell would, and closes the editor.
  // False when no editor was open.
  bool commitOpenEdit();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void startDrag(Qt::DropActions supportedActions) override;

 private:
  void sendClick(int64_t row);
  void applyHighlight();
  void rememberUserSelection();

  int64_t clickedRow_ = -1;
  std::function<void()> action_;
  // The rows to highlight again after the model resets, and the current one; -1 for none.
  std::vector<int64_t> highlight_;
  int64_t current_ = -1;
  bool applying_ = false;
};

}  // namespace charstack

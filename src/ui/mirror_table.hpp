// The two tables of the editor: a Qt model over one of the controller's mirror arrays, and the
// table view that reports clicks and shows the controller's selection.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "controller/init_layer.hpp"
#include "platform/ui.hpp"

namespace charstack {

// The rows of one of the controller's tables (characters: name, value; layers of one character:
// name, value, visible), read from the model whenever the view asks. The controller's row changes
// become the model's row signals; edits go through InitLayer::editCell and are applied at once.
class MirrorTableModel : public QAbstractTableModel, public TableObserver {
  Q_OBJECT

 public:
  enum Column { NameColumn = 0, ValueColumn = 1, VisibleColumn = 2 };

  MirrorTableModel(InitLayer& controller, Table table, QObject* parent = nullptr);
  ~MirrorTableModel() override;

  Table table() const { return table_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  void beginRows(Table table, Change change, int64_t first, int64_t count) override;
  void endRows(Table table) override;
  void rowsChanged(Table table, int64_t first, int64_t last) override;

 signals:
  // An edit was refused; the cell shows the record's value again.
  void editRefused(const QString& reason);
  // A cell's edit reached the record.
  void edited();

 private:
  InitLayer& controller_;
  Table table_;
  std::optional<Change> pending_;  // the change between beginRows and endRows
};

// A table that sends its action on every single click (on a row or on the empty part below the
// rows) and on every keyboard move of the current row, and highlights the row the controller names.
class MirrorTableView : public QTableView, public TableView, public ArrayController {
  Q_OBJECT

 public:
  explicit MirrorTableView(QWidget* parent = nullptr);

  void setModel(QAbstractItemModel* model) override;

  int64_t clickedRow() const override { return clickedRow_; }
  void setAction(std::function<void()> action) override { action_ = std::move(action); }
  void setSelectionIndex(int64_t index) override;

  // Lets the user drop files on the table; they arrive through filesDropped.
  void acceptFileDrops();

 signals:
  // The table's action has run for a click or a keyboard move.
  void clickSent();
  // Local files were dropped on the table (paths in the order of the drop).
  void filesDropped(const QStringList& paths);

 public:
  // The highlighted row; -1 when no row is highlighted.
  int highlightedRow() const;
  // Commits the text of an open cell editor, as leaving the cell would, and closes the editor.
  // False when no editor was open.
  bool commitOpenEdit();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void sendClick(int64_t row);
  void applyHighlight();
  void rememberUserSelection();

  int64_t clickedRow_ = -1;
  std::function<void()> action_;
  // The row to highlight again after the model resets; -1 for none.
  int64_t highlight_ = -1;
  bool applying_ = false;
};

}  // namespace charstack

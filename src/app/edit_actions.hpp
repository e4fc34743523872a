// The record actions of the window: insert, duplicate, cut, copy, paste, move up and down, remove,
// show or hide, in the Edit menu with their keys, in each table's context menu and on the buttons
// under the tables; each is enabled only while it can act. Also the clipboard, Delete in the tables,
// and records, pictures and image files dropped on the canvas.
#pragma once

#include <QKeySequence>
#include <QObject>
#include <functional>
#include <optional>

#include "controller/session.hpp"

class QAction;
class QMenu;
class QMimeData;
class QPushButton;

namespace charstack {

class MirrorTableView;

class RecordActions : public QObject {
  Q_OBJECT

 public:
  // commit ends an open cell edit before an action; tell shows what an action has to say.
  RecordActions(Session& session, MirrorTableView& characters, MirrorTableView& layers, QWidget& canvas,
                QWidget& window, std::function<void()> commit, std::function<void(const Feedback&)> tell);

  // Adds the actions to the Edit menu, after Undo and Redo.
  void addTo(QMenu& edit);
  // Enables the actions that can act now, and names Show or Hide after the selected layers.
  void update();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  enum Kind { Insert, Remove, Duplicate, Cut, Copy, Paste, MoveUp, MoveDown, ShowHide, Kinds };
  // The table an action of the Edit menu works on: the table of the open context menu, the focused
  // table, the layers for a paste on the canvas, else the table clicked last.
  Table target(Kind kind) const;
  void makeActions();
  void connectTables();
  QAction* make(const QString& text, const QString& tip, std::function<void()> act,
                const QKeySequence& keys = {});
  void run(Kind kind, Table table);
  // Pastes what mime data holds into a table (images into the layers table go to a character when
  // there is none); row: before it (a drop), else after the selection.
  void paste(const QMimeData* data, Table table, std::optional<int64_t> row = std::nullopt);
  void contextMenu(MirrorTableView& view, Table table, const QPoint& at);
  void bindButton(const char* name, QAction* action);

  Session& session_;
  MirrorTableView& characters_;
  MirrorTableView& layers_;
  QWidget& canvas_;
  QWidget& window_;
  std::function<void()> commit_;
  std::function<void(const Feedback&)> tell_;
  // The actions of the Edit menu (on the target table), and those of each table.
  QAction* generic_[Kinds] = {};
  QAction* insert_[2] = {};
  QAction* remove_[2] = {};
  std::optional<Table> contextTable_;
  bool pasteable_ = false;  // the clipboard holds records or an image
};

}  // namespace charstack

// An image well bound to the selected row of a table.
#pragma once

#include <QFrame>
#include <QTimer>

#include "controller/editor.hpp"
#include "ui/thumbnails.hpp"

class QMimeData;

namespace charstack {

// Shows the picture of a table's well (the selected record's, Editor::wellPicture) scaled to fit
// with its aspect kept (pixel art enlarged with sharp pixels, large pictures reduced smoothly), and
// hands a new one, dropped (image files or image data) or pasted, to the controller; Delete or
// Backspace clears it.
class ImageWellWidget : public QFrame {
  Q_OBJECT

 public:
  ImageWellWidget(Editor& controller, Table table, QWidget* parent = nullptr);

  // Takes the image of the mime data into the well. False, with a message, when the data holds no
  // image or no row is selected.
  bool takeImage(const QMimeData& data);
  // Empties the well; false, with a message, when no row is selected.
  bool clearImage();
  // Looks at the well's image again and repaints when it is another one.
  void refresh();

  QSize sizeHint() const override { return {160, 160}; }

 signals:
  void message(const QString& text);
  // The well took a new picture or was emptied.
  void imageChanged();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  bool store(ImageRef image);

  Editor& controller_;
  Table table_;
  ImageRef shown_;
  QTimer poll_;
  ThumbnailCache reduced_{qint64{16} << 20};
};

// Whether mime data may hold something the well takes (a local file or image data).
bool mayHoldImage(const QMimeData& data);
// The image that mime data holds: the first local file that decodes, or else the image data.
ImageRef imageFromMimeData(const QMimeData& data);

}  // namespace charstack

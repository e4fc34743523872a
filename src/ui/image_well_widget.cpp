#include "ui/image_well_widget.hpp"

#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

#include "platform/image_impl.hpp"

namespace charstack {

bool mayHoldImage(const QMimeData& data) {
  if (data.hasImage()) return true;
  if (!data.hasUrls()) return false;
  for (const QUrl& url : data.urls())
    if (url.isLocalFile()) return true;
  return false;
}

ImageRef imageFromMimeData(const QMimeData& data) {
  if (data.hasUrls()) {
    for (const QUrl& url : data.urls()) {
      if (!url.isLocalFile()) continue;
      const QByteArray local = QFile::encodeName(url.toLocalFile());
      if (ImageRef image = decodeImageFile(std::filesystem::path(local.toStdString()))) return image;
    }
  }
  if (data.hasImage()) {
    const QVariant value = data.imageData();
    if (value.canConvert<QImage>()) return imageFromQImage(value.value<QImage>());
  }
  return nullptr;
}

ImageWellWidget::ImageWellWidget(Editor& controller, Table table, QWidget* parent)
    : QFrame(parent),
      controller_(controller),
      table_(table) {
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setAcceptDrops(true);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(96, 96);
  setToolTip(tr("Drop or paste an image here; Delete empties the well"));
  // The well follows the selected row, which other parts change without telling the widget.
  poll_.setTimerType(Qt::PreciseTimer);
  poll_.setInterval(10);
  connect(&poll_, &QTimer::timeout, this, &ImageWellWidget::refresh);
  connect(&reduced_, &ThumbnailCache::ready, this, qOverload<>(&QWidget::update));
  poll_.start();
  shown_ = controller_.wellPicture(table_);
}

void ImageWellWidget::refresh() {
  ImageRef current = controller_.wellPicture(table_);
  if (current == shown_) return;
  shown_ = std::move(current);
  update();
}

bool ImageWellWidget::store(ImageRef image) {
  if (!controller_.setPicture(table_, std::move(image))) {
    emit message(tr("Select a row first: the well has no row to hold the image."));
    return false;
  }
  refresh();
  emit imageChanged();
  return true;
}

bool ImageWellWidget::takeImage(const QMimeData& data) {
  ImageRef image = imageFromMimeData(data);
  if (!image) {
    emit message(tr("Not an image, or one larger than 8192 x 8192 pixels: nothing was changed."));
    return false;
  }
  return store(std::move(image));
}

bool ImageWellWidget::clearImage() { return store(nullptr); }

void ImageWellWidget::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  if (hasFocus()) {
    // Paste and Delete go to the focused well: show which one that is.
    QPainter ring(this);
    ring.setPen(QPen(palette().highlight(), 2));
    ring.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
  }
  if (!shown_) return;
  QPainter painter(this);
  drawPicture(painter, shown_, QRectF(contentsRect()).adjusted(4, 4, -4, -4), reduced_);
}

void ImageWellWidget::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData() && mayHoldImage(*event->mimeData())) event->acceptProposedAction();
}

void ImageWellWidget::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData() && mayHoldImage(*event->mimeData())) event->acceptProposedAction();
}

void ImageWellWidget::dropEvent(QDropEvent* event) {
  if (event->mimeData() && takeImage(*event->mimeData()))
    event->acceptProposedAction();
  else
    event->ignore();
}

bool ImageWellWidget::event(QEvent* event) {
  // Paste, Delete and Backspace are the well's own keys, not the window's shortcuts.
  if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Paste) || key->key() == Qt::Key_Delete ||
        key->key() == Qt::Key_Backspace) {
      event->accept();
      return true;
    }
  }
  return QFrame::event(event);
}

void ImageWellWidget::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Paste)) {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (data)
      takeImage(*data);
    else
      emit message(tr("The clipboard holds no image."));
    return;
  }
  if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
    clearImage();
    return;
  }
  QFrame::keyPressEvent(event);
}

void ImageWellWidget::focusInEvent(QFocusEvent* event) {
  QFrame::focusInEvent(event);
  update();
}

void ImageWellWidget::focusOutEvent(QFocusEvent* event) {
  QFrame::focusOutEvent(event);
  update();
}

void ImageWellWidget::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  QFrame::mousePressEvent(event);
}

}  // namespace charstack

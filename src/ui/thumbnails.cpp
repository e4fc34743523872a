#include "ui/thumbnails.hpp"

#include <QAbstractItemView>
#include <QApplication>
#include <QFutureWatcher>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSpinBox>
#include <QTableView>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>

#include "platform/image_impl.hpp"

namespace charstack {

namespace {

// Pictures up to this many pixels are reduced at once, in the paint that asks: a reduction of
// one costs about as much as painting a row.
constexpr int64_t kReducedAtOnce = 128 * 128;
// Requests beyond this many wait no longer: rows scrolled past are asked for again when painted.
constexpr size_t kMaxWaiting = 256;

// The picture reduced smoothly to size. A picture that keeps only its PNG data is decoded here
// without keeping its pixels, so that thumbnails of a big project do not hold every picture whole.
QImage reduce(const Image& picture, QSize size) {
  const Image::Impl& impl = picture.impl();
  QImage source;
  if (!impl.pixelsLoaded() && impl.pngData()) {
    const std::string& png = *impl.pngData();
    source = QImage::fromData(QByteArray::fromRawData(png.data(), static_cast<qsizetype>(png.size())), "PNG");
  }
  if (source.isNull()) source = impl.qimage();
  return source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// An almond with a round pupil; struck through and faint for a hidden layer.
void drawnEye(QPainter& painter, const QRectF& area, bool open, const QColor& color) {
  const double side = std::min(area.width(), area.height());
  const QRectF box(area.center().x() - side / 2, area.center().y() - side / 2, side, side);
  const double cx = box.center().x(), cy = box.center().y();
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  if (!open) painter.setOpacity(painter.opacity() * 0.45);
  painter.setPen(QPen(color, std::max(1.0, side / 12)));
  QPainterPath lid;
  lid.moveTo(box.left() + side * 0.04, cy);
  lid.quadTo(cx, cy - side * 0.62, box.right() - side * 0.04, cy);
  lid.quadTo(cx, cy + side * 0.62, box.left() + side * 0.04, cy);
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(lid);
  painter.setBrush(color);
  painter.drawEllipse(QPointF(cx, cy), side * 0.15, side * 0.15);
  if (!open)
    painter.drawLine(QPointF(box.left() + side * 0.12, box.bottom() - side * 0.12),
                     QPointF(box.right() - side * 0.12, box.top() + side * 0.12));
  painter.restore();
}

int eyeSide(const QWidget* widget) {
  return (widget ? widget->style() : QApplication::style())
      ->pixelMetric(QStyle::PM_SmallIconSize, nullptr, widget);
}

}  // namespace

QRectF pictureRect(QSize pixels, const QRectF& area, qreal ratio) {
  if (pixels.isEmpty() || area.isEmpty() || ratio <= 0) return {};
  // Device pixels per picture pixel.
  const double fit = std::min(area.width() * ratio / pixels.width(), area.height() * ratio / pixels.height());
  const double scale = fit >= 1 ? std::floor(fit) : fit;
  const double w = std::max(1.0, std::round(pixels.width() * scale));
  const double h = std::max(1.0, std::round(pixels.height() * scale));
  const double left = std::round(area.center().x() * ratio - w / 2),
               top = std::round(area.center().y() * ratio - h / 2);
  return QRectF(left / ratio, top / ratio, w / ratio, h / ratio);
}

// ---- ThumbnailCache -------------------------------------------------------------------------

size_t ThumbnailCache::KeyHash::operator()(const Key& k) const {
  return std::hash<uint64_t>{}(k.serial * 0x9E3779B97F4A7C15ull ^
                               (uint64_t(uint32_t(k.width)) << 32 | uint32_t(k.height)));
}

ThumbnailCache::ThumbnailCache(qint64 maxBytes, QObject* parent) : QObject(parent) {
  kept_.setMaxCost(maxBytes);
  pool_.setMaxThreadCount(std::clamp(QThread::idealThreadCount() - 1, 1, 2));
}

// A reduction under way only holds its picture; its result has nowhere to go once the cache is gone.
ThumbnailCache::~ThumbnailCache() {
  pool_.clear();
  pool_.waitForDone();
}

void ThumbnailCache::keep(const Key& key, QImage image) {
  const qsizetype bytes = std::max<qsizetype>(1, image.sizeInBytes());
  kept_.insert(key, new QImage(std::move(image)), bytes);
}

QImage ThumbnailCache::reduced(const ImageRef& picture, QSize size) {
  if (!picture || size.isEmpty()) return {};
  const Key key{picture->serial(), size.width(), size.height()};
  if (const QImage* kept = kept_.object(key)) return *kept;
  if (int64_t{picture->pixelWidth()} * picture->pixelHeight() <= kReducedAtOnce) {
    QImage image = reduce(*picture, size);
    ++reductions_;
    keep(key, image);
    return image;
  }
  if (asked_.insert(key).second) {
    waiting_.push_back({key, picture});
    if (waiting_.size() > kMaxWaiting) {
      asked_.erase(waiting_.front().key);
      waiting_.pop_front();
    }
    startWork();
  }
  return {};
}

void ThumbnailCache::startWork() {
  while (working_ < pool_.maxThreadCount() && !waiting_.empty()) {
    Request request = std::move(waiting_.back());  // what was painted last is most likely on screen
    waiting_.pop_back();
    ++working_;
    auto* watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, key = request.key] {
      --working_;
      asked_.erase(key);
      ++reductions_;
      keep(key, watcher->result());
      watcher->deleteLater();
      startWork();
      emit ready();
    });
    const QSize size(request.key.width, request.key.height);
    watcher->setFuture(QtConcurrent::run(
        &pool_, [picture = std::move(request.picture), size] { return reduce(*picture, size); }));
  }
}

bool drawPicture(QPainter& painter, const ImageRef& picture, const QRectF& area, ThumbnailCache& cache) {
  if (!picture) return true;
  const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
  const QSize pixels(picture->pixelWidth(), picture->pixelHeight());
  const QRectF target = pictureRect(pixels, area, ratio);
  if (target.isEmpty()) return true;
  const QSize device = (target.size() * ratio).toSize();
  if (device.width() >= pixels.width() && device.height() >= pixels.height()) {
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(target, picture->impl().premultiplied());
    painter.restore();
    return true;
  }
  // Exactly the target's device pixels: drawn one to one.
  const QImage small = cache.reduced(picture, device);
  if (small.isNull()) return false;
  painter.drawImage(target, small);
  return true;
}

// ---- ThumbnailDelegate ----------------------------------------------------------------------

ThumbnailDelegate::ThumbnailDelegate(PictureOf picture, HiddenOf hidden, Columns columns, int size,
                                     QObject* parent)
    : QStyledItemDelegate(parent),
      picture_(std::move(picture)),
      hidden_(std::move(hidden)),
      columns_(columns),
      size_(std::max(1, size)) {
  const QIcon open = QIcon::fromTheme(QStringLiteral("view-visible"));
  const QIcon shut = QIcon::fromTheme(QStringLiteral("view-hidden"));
  if (!open.isNull() && !shut.isNull()) eyeOpen_ = open, eyeShut_ = shut;
  connect(&cache_, &ThumbnailCache::ready, this, [this] {
    for (const QPointer<QWidget>& view : waiting_)
      if (view) view->update();
    waiting_.clear();
  });
}

void ThumbnailDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  if (index.column() == columns_.picture) {
    // The style lays out the cell with room for the thumbnail, which paint() then draws there.
    option->features |= QStyleOptionViewItem::HasDecoration;
    option->decorationSize = QSize(size_, size_);
  }
  if (index.column() == columns_.eye) option->features &= ~QStyleOptionViewItem::HasCheckIndicator;
  if (hidden(index))
    for (const QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText})
      option->palette.setBrush(role, option->palette.brush(QPalette::Disabled, role));
}

QSize ThumbnailDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  if (index.column() == columns_.eye) size = size.expandedTo(QSize(eyeSide(option.widget) + 12, 0));
  return size;
}

void ThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  const QWidget* widget = opt.widget;
  QStyle* style = widget ? widget->style() : QApplication::style();
  const ImageRef picture = index.column() == columns_.picture && picture_ ? picture_(index) : nullptr;
  if (picture) opt.icon = QIcon();  // the thumbnail takes the place of the row's own icon
  style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
  if (index.column() == columns_.eye) {
    paintEye(painter, opt, index);
    return;
  }
  if (!picture) return;
  const QRect area = style->subElementRect(QStyle::SE_ItemViewItemDecoration, &opt, widget);
  painter->save();
  if (hidden(index)) painter->setOpacity(0.4);
  const bool drawn = drawPicture(*painter, picture, area, cache_);
  painter->restore();
  if (drawn) return;
  auto* view = qobject_cast<const QAbstractItemView*>(widget);
  QWidget* repaint = view ? view->viewport() : const_cast<QWidget*>(widget);
  if (repaint && std::find(waiting_.begin(), waiting_.end(), repaint) == waiting_.end())
    waiting_.emplace_back(repaint);
}

QWidget* ThumbnailDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const {
  if (index.column() != columns_.depth) return QStyledItemDelegate::createEditor(parent, option, index);
  auto* spin = new QSpinBox(parent);
  spin->setRange(0, 999);
  spin->setFrame(false);
  spin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return spin;
}

void ThumbnailDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  auto* spin = qobject_cast<QSpinBox*>(editor);
  if (!spin || index.column() != columns_.depth) return QStyledItemDelegate::setEditorData(editor, index);
  spin->setValue(index.data(Qt::EditRole).toInt());
  spin->selectAll();
}

void ThumbnailDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                     const QModelIndex& index) const {
  auto* spin = qobject_cast<QSpinBox*>(editor);
  if (!spin || index.column() != columns_.depth)
    return QStyledItemDelegate::setModelData(editor, model, index);
  spin->interpretText();
  // A depth outside 0..999 read from a file (the spin box shows the nearest one) stays as it is until
  // the user picks another one.
  const qlonglong depth = index.data(Qt::EditRole).toLongLong(), nearest = qBound(0LL, depth, 999LL);
  if (depth == nearest || spin->value() != nearest)
    model->setData(index, QString::number(spin->value()), Qt::EditRole);
}

void ThumbnailDelegate::paintEye(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
  const bool open = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
  const int side = eyeSide(option.widget);
  const QRect area(option.rect.center().x() - side / 2, option.rect.center().y() - side / 2, side, side);
  if (!eyeOpen_.isNull()) {
    (open ? eyeOpen_ : eyeShut_)
        .paint(painter, area, Qt::AlignCenter, hidden(index) ? QIcon::Disabled : QIcon::Normal);
    return;
  }
  const bool selected = option.state & QStyle::State_Selected;
  drawnEye(*painter, area, open, option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
}

bool ThumbnailDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                    const QStyleOptionViewItem& option, const QModelIndex& index) {
  if (index.column() != columns_.eye) return QStyledItemDelegate::editorEvent(event, model, option, index);
  const Qt::ItemFlags flags = model->flags(index);
  if (!(flags & Qt::ItemIsUserCheckable) || !(flags & Qt::ItemIsEnabled)) return false;
  switch (event->type()) {
    case QEvent::MouseButtonRelease: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton || !option.rect.contains(mouse->position().toPoint()))
        return false;
      break;
    }
    case QEvent::MouseButtonDblClick:  // opens no editor on the eye
      return option.rect.contains(static_cast<QMouseEvent*>(event)->position().toPoint());
    case QEvent::KeyPress: {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key != Qt::Key_Space && key != Qt::Key_Select) return false;
      break;
    }
    default:
      return false;
  }
  const bool open = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
  return model->setData(index, open ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

ThumbnailDelegate* installThumbnails(QTableView& table, ThumbnailDelegate::PictureOf picture,
                                     ThumbnailDelegate::HiddenOf hidden, ThumbnailDelegate::Columns columns,
                                     int size) {
  auto* delegate = new ThumbnailDelegate(std::move(picture), std::move(hidden), columns, size, &table);
  table.setItemDelegate(delegate);
  table.setIconSize(QSize(size, size));
  table.verticalHeader()->setDefaultSectionSize(
      std::max(table.verticalHeader()->defaultSectionSize(), size + 4));
  return delegate;
}

}  // namespace charstack

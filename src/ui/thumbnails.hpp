// Pictures drawn small or enlarged: in the image wells, as thumbnails in the tables and in the list of
// unused images. Pixel art stays sharp (whole device pixels per picture pixel, nearest-neighbour);
// reductions are smooth, made once per picture and size and kept.
#pragma once

#include <QCache>
#include <QIcon>
#include <QImage>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QThreadPool>
#include <cstdint>
#include <deque>
#include <functional>
#include <unordered_set>
#include <vector>

#include "platform/image.hpp"

class QTableView;

namespace charstack {

// Where a picture of the given pixel size goes in an area (logical pixels) on a device with that
// pixel ratio: centred with its aspect kept, on whole device pixels. A picture that fits is enlarged
// by a whole number of device pixels per picture pixel; a larger one is reduced to fit.
QRectF pictureRect(QSize pixels, const QRectF& area, qreal ratio);

// Reduced copies of pictures, told apart by Image::serial() and size, within a memory bound (the
// least recently used go first). Small pictures are reduced at once; larger ones on a worker thread,
// newest request first, and ready() says when they have come.
class ThumbnailCache : public QObject {
  Q_OBJECT

 public:
  explicit ThumbnailCache(qint64 maxBytes = qint64{64} << 20, QObject* parent = nullptr);
  ~ThumbnailCache() override;

  // The picture reduced smoothly to exactly size device pixels (premultiplied); a null image while
  // a worker is still making it.
  QImage reduced(const ImageRef& picture, QSize size);
  // How many reductions were made so far (each is made once while it stays in the cache).
  int reductions() const { return reductions_; }

 signals:
  // Reductions asked for earlier have come: what showed them as missing should paint again.
  void ready();

 private:
  struct Key {
    uint64_t serial;
    int width, height;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& k) const;
  };
  friend size_t qHash(const Key& k, size_t seed) { return KeyHash{}(k) ^ seed; }
  struct Request {
    Key key;
    ImageRef picture;
  };
  void keep(const Key& key, QImage image);
  void startWork();

  QCache<Key, QImage> kept_;
  std::deque<Request> waiting_;             // newest at the back
  std::unordered_set<Key, KeyHash> asked_;  // waiting or being made
  int working_ = 0;
  int reductions_ = 0;
  QThreadPool pool_;
};

// Draws the picture into the area, centred with its aspect kept: enlarged with nearest-neighbour
// sampling, reduced smoothly through the cache. False when the reduction is still being made.
bool drawPicture(QPainter& painter, const ImageRef& picture, const QRectF& area, ThumbnailCache& cache);

// Paints the rows of a table or a list with a thumbnail of each row's picture before the text of one
// column, an eye instead of the check box of another (a click or Space shows or hides the layer), and
// the rows of hidden layers dimmed. Pictures are asked for only for the rows painted. The eye comes
// from the icon theme when it has both "view-visible" and "view-hidden", and is drawn otherwise.
class ThumbnailDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using PictureOf = std::function<ImageRef(const QModelIndex&)>;
  using HiddenOf = std::function<bool(const QModelIndex&)>;
  struct Columns {
    int picture = 0;  // the column whose cells show the thumbnail
    int eye = -1;     // the column of the visible flag (check state); -1 for none
    int depth = -1;   // the column of the depth, edited with a spin box from 0 to 999; -1 for none
  };

  // hidden may be empty (no row is dimmed); size is the thumbnails' side in logical pixels.
  ThumbnailDelegate(PictureOf picture, HiddenOf hidden, Columns columns, int size, QObject* parent = nullptr);

  int thumbnailSize() const { return size_; }
  ThumbnailCache& cache() { return cache_; }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
  bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

 private:
  bool hidden(const QModelIndex& index) const { return hidden_ && hidden_(index); }
  void paintEye(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const;

  PictureOf picture_;
  HiddenOf hidden_;
  Columns columns_;
  int size_;
  QIcon eyeOpen_, eyeShut_;  // from the theme; null when it has not both
  mutable ThumbnailCache cache_;
  // The views that painted a thumbnail still being made: they paint again when it comes.
  mutable std::vector<QPointer<QWidget>> waiting_;
};

// Puts a ThumbnailDelegate on a table, owned by it, with rows as tall as the thumbnails.
ThumbnailDelegate* installThumbnails(QTableView& table, ThumbnailDelegate::PictureOf picture,
                                     ThumbnailDelegate::HiddenOf hidden, ThumbnailDelegate::Columns columns,
                                     int size = 32);

}  // namespace charstack

// Records on the clipboard and in drags: the editor's own format (every field, pictures as PNG) for
// other windows, a PNG of the first record's picture for other programs. The bytes are made only
// when something asks for them; this window takes the records themselves, sharing their pictures.
#pragma once

#include <QMimeData>
#include <optional>

#include "model/model.hpp"

namespace charstack {

class RecordsMimeData : public QMimeData {
  Q_OBJECT

 public:
  explicit RecordsMimeData(RecordSet records);
  const RecordSet& records() const { return records_; }

  QStringList formats() const override;
  bool hasFormat(const QString& mimeType) const override;

 protected:
  QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

 private:
  RecordSet records_;
  ImageRef first_;  // the picture other programs get
  mutable std::optional<QByteArray> bytes_, png_;
};

// The records mime data carries: this window's own (pictures shared) or the editor's format read
// back. None when it carries none, or bytes that are not such records.
std::optional<RecordSet> recordsFromMimeData(const QMimeData& data);

}  // namespace charstack

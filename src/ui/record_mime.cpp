#include "ui/record_mime.hpp"

#include "project/transfer.hpp"

namespace charstack {

namespace {
const QString kRecords = QString::fromLatin1(kRecordsMimeType);
const QString kPng = QStringLiteral("image/png");
}  // namespace

RecordsMimeData::RecordsMimeData(RecordSet records) : records_(std::move(records)) {
  if (!records_.characters.empty())
    first_ = records_.characters.front().image;
  else if (!records_.layers.empty())
    first_ = records_.layers.front().image;
}

QStringList RecordsMimeData::formats() const {
  QStringList all = QMimeData::formats();
  all.prepend(kRecords);
  if (first_) all.append(kPng);
  return all;
}

bool RecordsMimeData::hasFormat(const QString& mimeType) const {
  return mimeType == kRecords || (first_ && mimeType == kPng) || QMimeData::hasFormat(mimeType);
}

QVariant RecordsMimeData::retrieveData(const QString& mimeType, QMetaType type) const {
  auto bytesOf = [](const std::optional<std::string>& data) {
    return data ? QByteArray::fromStdString(*data) : QByteArray();
  };
  if (mimeType == kRecords) {
    if (!bytes_) bytes_ = bytesOf(serializeRecords(records_));
    return *bytes_;
  }
  if (mimeType == kPng && first_) {
    if (!png_) png_ = bytesOf(encodePng(*first_));
    return *png_;
  }
  return QMimeData::retrieveData(mimeType, type);
}

std::optional<RecordSet> recordsFromMimeData(const QMimeData& data) {
  if (const auto* own = qobject_cast<const RecordsMimeData*>(&data)) return own->records();
  if (!data.hasFormat(kRecords)) return std::nullopt;
  const QByteArray bytes = data.data(kRecords);
  return parseRecords(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

}  // namespace charstack

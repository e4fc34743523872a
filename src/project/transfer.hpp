// Records as bytes for the clipboard and for drags between windows: the editor's own format, which
// carries every field and the pictures as PNG data.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "model/model.hpp"

namespace charstack {

// The MIME type of records in the editor's own format.
inline constexpr const char* kRecordsMimeType = "application/x-charstack-records";

// The records as bytes. None when a picture cannot be encoded as PNG.
std::optional<std::string> serializeRecords(const RecordSet& records);
// The records that bytes of serializeRecords hold, as new records (no image file is theirs). None
// when the bytes are not such records: another version, cut short, damaged, a name the project files
// cannot hold, a picture that does not decode.
std::optional<RecordSet> parseRecords(std::string_view bytes);

}  // namespace charstack

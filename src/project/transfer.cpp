#include "project/transfer.hpp"

#include <charconv>
#include <vector>

#include "model/names.hpp"

namespace charstack {

namespace {

// "charstack records 1 <records>" (characters or layers, not counting a character's layers), then
// one header line per record followed by its name and its PNG data:
//   C <depth> <x> <y> <layers> <name bytes> <png bytes>    a character, its layers next
//   L <depth> <visible> <x> <y> <name bytes> <png bytes>   a layer
constexpr std::string_view kHeader = "charstack records 1 ";
constexpr size_t kMaxHeaderLine = 256;

template <typename Record>
bool appendRecord(std::string& out, char kind, const Record& r, std::string_view fields) {
  std::string png;
  if (r.image) {
    std::optional<std::string> encoded = encodePng(*r.image);
    if (!encoded) return false;
    png = std::move(*encoded);
  }
  out += kind;
  out += ' ';
  out += fields;
  out += ' ' + std::to_string(r.name.size()) + ' ' + std::to_string(png.size()) + '\n';
  out += r.name;
  out += png;
  return true;
}

// Reads the records one after the other, refusing anything out of place.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}

  // The next record's kind and numbers; false at the end or on anything that is not a header.
  bool header(char& kind, std::vector<int64_t>& numbers) {
    const size_t end = rest_.substr(0, kMaxHeaderLine).find('\n');
    if (rest_.size() < 2 || end == std::string_view::npos || rest_[1] != ' ') return false;
    kind = rest_[0];
    std::string_view line = rest_.substr(2, end - 2);
    rest_.remove_prefix(end + 1);
    numbers.clear();
    while (!line.empty()) {
      int64_t n = 0;
      const auto [next, error] = std::from_chars(line.data(), line.data() + line.size(), n);
      if (error != std::errc() || next == line.data()) return false;
      numbers.push_back(n);
      line.remove_prefix(static_cast<size_t>(next - line.data()));
      if (!line.empty() && line.front() != ' ') return false;
      if (!line.empty()) line.remove_prefix(1);
    }
    return true;
  }

  // The name and picture behind a header; false when they are not there or not fit for a record.
  template <typename Record>
  bool body(int64_t nameBytes, int64_t pngBytes, Record& r) {
    if (nameBytes < 0 || pngBytes < 0 || static_cast<uint64_t>(nameBytes) > rest_.size() ||
        static_cast<uint64_t>(pngBytes) > rest_.size() - static_cast<uint64_t>(nameBytes))
      return false;
    r.name = std::string(rest_.substr(0, static_cast<size_t>(nameBytes)));
    rest_.remove_prefix(static_cast<size_t>(nameBytes));
    const std::string_view png = rest_.substr(0, static_cast<size_t>(pngBytes));
    rest_.remove_prefix(static_cast<size_t>(pngBytes));
    if (checkName(r.name) != NameProblem::None) return false;
    if (png.empty()) return true;
    r.image = decodeImage(png).image;
    return r.image != nullptr;
  }

  bool done() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

// Depths and positions are 32-bit numbers in "data.txt": a record with a larger one could not be
// saved as it is.
bool fitsInt32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

bool readLayer(Reader& reader, Layer& layer) {
  char kind = 0;
  std::vector<int64_t> n;
  if (!reader.header(kind, n) || kind != 'L' || n.size() != 6) return false;
  if (!fitsInt32(n[0]) || (n[1] != 0 && n[1] != 1) || !fitsInt32(n[2]) || !fitsInt32(n[3])) return false;
  layer.value = n[0];
  layer.visible = static_cast<uint8_t>(n[1]);
  layer.x = static_cast<int32_t>(n[2]);
  layer.y = static_cast<int32_t>(n[3]);
  return reader.body(n[4], n[5], layer);
}

}  // namespace

std::optional<std::string> serializeRecords(const RecordSet& records) {
  std::string out = std::string(kHeader) + std::to_string(records.size()) + '\n';
  auto layerFields = [](const Layer& l) {
    return std::to_string(l.value) + ' ' + std::to_string(l.visible) + ' ' + std::to_string(l.x) + ' ' +
           std::to_string(l.y);
  };
  for (const Character& c : records.characters) {
    const std::string fields = std::to_string(c.value) + ' ' + std::to_string(c.x) + ' ' +
                               std::to_string(c.y) + ' ' + std::to_string(c.layers.size());
    if (!appendRecord(out, 'C', c, fields)) return std::nullopt;
    for (const Layer& l : c.layers)
      if (!appendRecord(out, 'L', l, layerFields(l))) return std::nullopt;
  }
  for (const Layer& l : records.layers)
    if (!appendRecord(out, 'L', l, layerFields(l))) return std::nullopt;
  return out;
}

std::optional<RecordSet> parseRecords(std::string_view bytes) {
  if (bytes.substr(0, kHeader.size()) != kHeader) return std::nullopt;
  bytes.remove_prefix(kHeader.size());
  // The number of records: bytes cut short between two records are no records either.
  size_t count = 0;
  const auto [end, error] = std::from_chars(bytes.data(), bytes.data() + bytes.size(), count);
  if (error != std::errc() || end == bytes.data() + bytes.size() || *end != '\n') return std::nullopt;
  bytes.remove_prefix(static_cast<size_t>(end - bytes.data()) + 1);
  RecordSet records;
  const bool layers = bytes.substr(0, 1) == "L";
  Reader reader(bytes);
  while (!reader.done()) {
    if (layers) {
      if (!readLayer(reader, records.layers.emplace_back())) return std::nullopt;
      continue;
    }
    char kind = 0;
    std::vector<int64_t> n;
    if (!reader.header(kind, n) || kind != 'C' || n.size() != 6 || !fitsInt32(n[0]) || !fitsInt32(n[1]) ||
        !fitsInt32(n[2]) || n[3] < 0)
      return std::nullopt;
    Character& c = records.characters.emplace_back();
    c.value = n[0];
    c.x = static_cast<int32_t>(n[1]);
    c.y = static_cast<int32_t>(n[2]);
    if (!reader.body(n[4], n[5], c)) return std::nullopt;
    for (int64_t m = 0; m < n[3]; ++m)
      if (!readLayer(reader, c.layers.emplace_back())) return std::nullopt;
  }
  if (records.empty() || records.size() != count) return std::nullopt;
  return records;
}

}  // namespace charstack

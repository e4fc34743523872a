// libFuzzer target for records pasted or dropped from other windows and programs: whatever the bytes,
// reading them must not crash, and records it accepts must be records the project can hold: written
// as bytes again they read back the same, and saved in "data.txt" they load back the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <QtGlobal>

#include "model/model.hpp"
#include "project/project_io.hpp"
#include "project/transfer.hpp"

namespace {

using charstack::Character;
using charstack::CharacterList;
using charstack::Layer;
using charstack::RecordSet;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "records_fuzz: %s\n", what);
  std::abort();
}

bool samePicture(const charstack::ImageRef& a, const charstack::ImageRef& b) {
  return !a == !b && (!a || a->samePixels(*b));
}

bool sameLayer(const Layer& a, const Layer& b, bool pictures) {
  return a.name == b.name && a.value == b.value && a.visible == b.visible && a.x == b.x && a.y == b.y &&
         (!pictures || samePicture(a.image, b.image));
}

bool sameCharacter(const Character& a, const Character& b, bool pictures) {
  if (a.name != b.name || a.value != b.value || a.x != b.x || a.y != b.y || a.layers.size() != b.layers.size() ||
      (pictures && !samePicture(a.image, b.image)))
    return false;
  for (size_t m = 0; m < a.layers.size(); ++m)
    if (!sameLayer(a.layers[m], b.layers[m], pictures)) return false;
  return true;
}

bool same(const RecordSet& a, const RecordSet& b) {
  if (a.characters.size() != b.characters.size() || a.layers.size() != b.layers.size()) return false;
  for (size_t k = 0; k < a.characters.size(); ++k)
    if (!sameCharacter(a.characters[k], b.characters[k], true)) return false;
  for (size_t m = 0; m < a.layers.size(); ++m)
    if (!sameLayer(a.layers[m], b.layers[m], true)) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::optional<RecordSet> records = charstack::parseRecords(bytes);
  if (!records) return 0;
  if (records->empty()) fail("accepted bytes without a record");
  if (!records->characters.empty() && !records->layers.empty()) fail("characters and layers in one set");
  // A few bytes of some formats (MNG, GIF) can announce millions of pixels, which are records the
  // editor accepts. Encoding them again through the instrumented PNG writer takes longer than the
  // fuzzer's time limit, and the writer is not what is tried here: such records stop at the checks above.
  bool large = false;
  auto measure = [&large](const charstack::ImageRef& image) {
    large = large || (image && int64_t{image->pixelWidth()} * image->pixelHeight() > (int64_t{1} << 18));
  };
  for (const Character& c : records->characters) {
    measure(c.image);
    for (const Layer& l : c.layers) measure(l.image);
  }
  for (const Layer& l : records->layers) measure(l.image);
  if (large) return 0;

  const std::optional<std::string> again = charstack::serializeRecords(*records);
  if (!again) fail("accepted records cannot be written as bytes");
  const std::optional<RecordSet> back = charstack::parseRecords(*again);
  if (!back || !same(*records, *back)) fail("records written as bytes read back otherwise");

  // Pasted into a project and saved: "data.txt" holds every field as it was pasted.
  CharacterList list;
  if (records->characters.empty()) {
    Character holder;
    holder.name = "holder";
    holder.layers = records->layers;
    list.characters.push_back(std::move(holder));
  } else {
    list.characters = records->characters;
  }
  const CharacterList loaded = charstack::parseDataText(charstack::buildDataText(list)).list;
  if (loaded.characters.size() != list.characters.size()) fail("a pasted character is not saved as one");
  for (size_t k = 0; k < list.characters.size(); ++k)
    if (!sameCharacter(list.characters[k], loaded.characters[k], false)) fail("a pasted record is saved otherwise");
  return 0;
}

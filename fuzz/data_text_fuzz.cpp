// libFuzzer target for the "data.txt" reader: whatever the bytes, parsing must not crash, must give
// records the file format can hold, and writing those records and reading them again must give the
// same records.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/model.hpp"
#include "model/names.hpp"
#include "platform/text.hpp"
#include "project/project_io.hpp"

namespace {

using charstack::Character;
using charstack::CharacterList;
using charstack::Layer;

[[noreturn]] void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "data_text_fuzz: %s: \"%s\"\n", what, detail.c_str());
  std::abort();
}

void checkName(const std::string& name, const std::optional<std::string>& savedName) {
  std::string_view n = name;
  if (n.find(',') != n.npos || n.find('\n') != n.npos || n.find("####") != n.npos || n.find("$$$$") != n.npos)
    fail("a parsed name holds a separator or a marker", name);
  if (savedName != name) fail("a parsed record's savedName differs from its name", name);
}

void checkValue(int64_t value, const std::string& name) {
  if (value < INT32_MIN || value > INT32_MAX) fail("a parsed value is outside the 32-bit range", name);
}

// Well-formed: names the format can write back, 32-bit depths, visibility 0 or 1, no images.
void checkWellFormed(const CharacterList& list) {
  for (const Character& c : list.characters) {
    checkName(c.name, c.savedName);
    checkValue(c.value, c.name);
    if (c.image) fail("a parsed character has an image", c.name);
    for (const Layer& l : c.layers) {
      checkName(l.name, l.savedName);
      checkValue(l.value, l.name);
      if (l.visible != 0 && l.visible != 1) fail("a parsed layer's visibility is not 0 or 1", l.name);
      if (l.image) fail("a parsed layer has an image", l.name);
    }
  }
}

void checkSame(const CharacterList& a, const CharacterList& b, const std::string& text) {
  if (a.characters.size() != b.characters.size()) fail("the number of characters changed", text);
  for (size_t k = 0; k < a.characters.size(); ++k) {
    const Character& x = a.characters[k];
    const Character& y = b.characters[k];
    if (x.name != y.name || x.value != y.value || x.x != y.x || x.y != y.y)
      fail("a character changed in the round trip", text);
    if (x.layers.size() != y.layers.size()) fail("the number of layers changed", text);
    for (size_t m = 0; m < x.layers.size(); ++m) {
      const Layer& p = x.layers[m];
      const Layer& q = y.layers[m];
      if (p.name != q.name || p.value != q.value || p.visible != q.visible || p.x != q.x || p.y != q.y)
        fail("a layer changed in the round trip", text);
    }
  }
  if (!(a == b)) fail("the records differ in a field the comparison above missed", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  charstack::ParsedProject parsed = charstack::parseDataText(bytes);
  checkWellFormed(parsed.list);
  // A name that starts with a byte-order mark is refused by the save (the open lists the record).
  bool refused = false;
  charstack::forEachRecord(parsed.list, [&](const auto& r, auto...) {
    refused = refused || r.name.rfind(charstack::kByteOrderMark, 0) == 0;
  });
  if (refused) return 0;
  // The notes on lines a save would change are there exactly when the save changes the text.
  const bool same = charstack::buildDataText(parsed.list) == bytes;
  const std::vector<charstack::Problem> notes = charstack::describeTextChanges(bytes);
  if (same != notes.empty() && !parsed.list.empty()) fail("the notes on changed lines disagree with the save", std::string(bytes));

  std::string text = charstack::buildDataText(parsed.list);
  charstack::ParsedProject again = charstack::parseDataText(text);
  checkWellFormed(again.list);
  checkSame(parsed.list, again.list, text);
  // Writing is deterministic: the second text is the first.
  if (charstack::buildDataText(again.list) != text) fail("writing the same records gave another text", text);
  return 0;
}

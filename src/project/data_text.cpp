// The text of "data.txt": one line per character, followed by its layer lines between a "####" and a
// "$$$$" line. Fields are separated by ","; nothing is quoted or escaped.
#include "model/names.hpp"
#include "platform/text.hpp"
#include "project/project_io.hpp"

namespace charstack {

namespace {

std::string_view field(const std::vector<std::string_view>& fields, size_t index) {
  return index < fields.size() ? fields[index] : std::string_view{};
}

int32_t number(const std::vector<std::string_view>& fields, size_t index) {
  return text::intValue(field(fields, index));
}

}  // namespace

ParsedProject parseDataText(std::string_view bytes) {
  ParsedProject parsed;
  // A byte-order mark some text editors put at the start is not part of the first name. Names keep
  // their bytes otherwise, valid UTF-8 or not.
  std::string_view content = bytes;
  if (content.substr(0, kByteOrderMark.size()) == kByteOrderMark) content.remove_prefix(kByteOrderMark.size());

  std::vector<std::string_view> lines = text::split(content, "\n");
  // The piece after the last line feed is never read: a text without any line feed is an empty
  // project, and a last line without its line feed is not part of the project.
  bool insideLayerBlock = false;
  std::vector<Character>& characters = parsed.list.characters;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (text::contains(line, "####")) {
      insideLayerBlock = true;
      continue;
    }
    if (text::contains(line, "$$$$")) {
      insideLayerBlock = false;
      continue;
    }
    if (line.empty()) continue;  // a blank line holds no record
    std::vector<std::string_view> fields = text::split(line, ",");
    if (insideLayerBlock) {
      if (characters.empty()) continue;  // layers without a character to belong to
      Layer layer;
      layer.name = std::string(field(fields, 0));
      layer.savedName = layer.name;
      layer.value = number(fields, 1);
      layer.visible = number(fields, 2) != 0 ? 1 : 0;
      layer.x = number(fields, 3);
      layer.y = number(fields, 4);
      characters.back().layers.push_back(std::move(layer));
    } else {
      Character character;
      character.name = std::string(field(fields, 0));
      character.savedName = character.name;
      character.value = number(fields, 1);
      character.x = number(fields, 2);
      character.y = number(fields, 3);
      characters.push_back(std::move(character));
    }
  }
  return parsed;
}

std::string characterLine(const Character& c) {
  return c.name + ',' + text::formatLong(c.value) + ", " + text::formatInt(c.x) + ", " + text::formatInt(c.y);
}

std::string layerLine(const Layer& l) {
  return l.name + ',' + text::formatLong(l.value) + ',' + text::formatInt(l.visible) + ", " + text::formatInt(l.x) +
         ", " + text::formatInt(l.y);
}

std::string buildDataText(const CharacterList& list) {
  std::string out;
  for (const Character& c : list.characters) {
    out += characterLine(c);
    out += "\n####\n";
    for (const Layer& l : c.layers) {
      out += layerLine(l);
      out += '\n';
    }
    out += "$$$$\n";
  }
  return out;
}

namespace {

// The line as the save writes the record it holds (a layer line inside a layer block); none when it
// holds no record. The line is not read as the file's first one, where a byte-order mark would be
// skipped.
std::optional<std::string> lineAsSaved(std::string_view line, bool inside) {
  // GCC 12 at -O3 warns of an overlap (or, as inlined in other builds, an overflow) in the memcpy
  // inlined from std::string's operator+ here, one that cannot happen (GCC bug 105329, a false
  // -Wrestrict or -Wstringop-overflow); silenced for this statement only.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#endif
  const ParsedProject one =
      parseDataText(inside ? "x\n####\n" + std::string(line) + "\n" : "\n" + std::string(line) + "\n");
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
  if (one.list.empty() || (inside && one.list.characters.front().layers.empty())) return std::nullopt;
  return inside ? layerLine(one.list.characters.front().layers.front()) : characterLine(one.list.characters.front());
}

// What the save changes of a record line that it writes as `written`.
std::string changeOf(std::string_view line, bool inside, const std::string& written) {
  const size_t fields = text::split(line, ",").size(), wanted = inside ? 5 : 4;
  if (fields > wanted)
    return "has " + std::to_string(fields) + " fields; the save keeps the first " + std::to_string(wanted);
  if (fields < wanted)
    return "has only " + std::to_string(fields) + (fields == 1 ? " field" : " fields") +
           "; the save writes the missing ones as 0";
  return "is written by the save as \"" + written + "\"";
}

}  // namespace

std::vector<Problem> describeTextChanges(std::string_view bytes) {
  std::vector<Problem> notes;
  size_t more = 0;
  auto note = [&](size_t line, std::string reason) {
    if (notes.size() < kMaxTextChangeNotes)
      notes.push_back({std::string(kDataFileName) + " line " + std::to_string(line + 1), std::move(reason)});
    else
      ++more;
  };
  std::string_view content = bytes;
  if (content.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    content.remove_prefix(kByteOrderMark.size());
    note(0, "starts with a byte-order mark, which the save leaves out");
  }
  const std::vector<std::string_view> lines = text::split(content, "\n");
  bool inside = false, characters = false, blockAfterCharacter = false, crlf = false;
  size_t lastCharacter = 0;
  // A character line must be followed by its "####" line; the save adds a missing one (and "$$$$").
  auto closeCharacter = [&] {
    if (characters && !blockAfterCharacter) note(lastCharacter, "has no #### and $$$$ lines after it; the save adds them");
  };
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (!line.empty() && line.back() == '\r') crlf = true, line.remove_suffix(1);
    const bool open = text::contains(line, "####"), close = !open && text::contains(line, "$$$$");
    if (open || close) {
      if (line != (open ? "####" : "$$$$")) note(i, "holds other text beside its marker, which the save leaves out");
      if (open && (!characters || inside || blockAfterCharacter))
        note(i, "opens a layer block that belongs to no character line");
      if (close && !inside) note(i, "closes a layer block that was not opened");
      if (open && characters && !inside) blockAfterCharacter = true;
      inside = open;
      continue;
    }
    if (line.empty()) {
      note(i, "is empty; the save leaves it out");
      continue;
    }
    if (inside && !characters) {
      note(i, "is a layer line before any character; it is not read, and the save leaves it out");
      continue;
    }
    const std::optional<std::string> written = lineAsSaved(line, inside);
    if (!written) {
      note(i, "is not read as a record; the save leaves it out");
      continue;
    }
    if (!inside) {
      closeCharacter();
      characters = true, blockAfterCharacter = false, lastCharacter = i;
    }
    if (*written != line) note(i, changeOf(line, inside, *written));
  }
  closeCharacter();
  if (inside) note(lines.size() > 1 ? lines.size() - 2 : 0, "leaves a layer block open at the end of the file");
  if (!lines.back().empty()) note(lines.size() - 1, "has no line feed at its end, so it is not read; the save leaves it out");
  if (crlf) notes.insert(notes.begin(), {kDataFileName, "ends its lines with CR LF; the save writes LF alone"});
  if (more > 0) notes.push_back({kDataFileName, "and " + std::to_string(more) + " more lines that the save changes"});
  return notes;
}

}  // namespace charstack

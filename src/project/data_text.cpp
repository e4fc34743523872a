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
  parsed.hadDataFile = true;
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

std::string buildDataText(const CharacterList& list) {
  std::string out;
  for (const Character& c : list.characters) {
    out += c.name;
    out += ',';
    out += text::formatLong(c.value);
    out += ", ";
    out += text::formatInt(c.x);
    out += ", ";
    out += text::formatInt(c.y);
    out += "\n####\n";
    for (const Layer& l : c.layers) {
      out += l.name;
      out += ',';
      out += text::formatLong(l.value);
      out += ',';
      out += text::formatInt(l.visible);
      out += ", ";
      out += text::formatInt(l.x);
      out += ", ";
      out += text::formatInt(l.y);
      out += '\n';
    }
    out += "$$$$\n";
  }
  return out;
}

}  // namespace charstack

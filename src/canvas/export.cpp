#include "canvas/export.hpp"

#include <set>
#include <system_error>

#include "canvas/init_layer_view.hpp"
#include "project/records.hpp"

namespace charstack {

CharacterPicture characterPicture(const Character& character) {
  CharacterPicture picture;
  std::vector<PlacedImage> placed;
  // The canvas's own draw calls, positions included, so that the export shows what the canvas shows.
  for (const DrawCall& call : InitLayerView::compositionOf(character))
    placed.push_back({call.image, call.x, call.y});
  if (placed.empty()) return picture;
  ComposedImage composed = composeImages(placed);
  if (!composed.image) {
    picture.problem = composed.problem;
    return picture;
  }
  picture.left = composed.left;
  picture.top = composed.top;
  picture.png = encodePng(*composed.image);
  if (!picture.png) picture.problem = "could not be encoded as PNG";
  return picture;
}

std::string exportFileName(const std::string& name, int64_t recordNumber) {
  std::string fileName = imageFileName(name, recordNumber);
  for (char& c : fileName)
    if (c == '/' || c == '\0') c = '_';
  return fileName + ".png";
}

ExportReport exportAllCharacters(const CharacterList& list, const ProjectFolder& target,
                                 const std::function<void(const std::string&)>& wrote) {
  ExportReport report;
  std::set<std::string> taken;
  for (int64_t row = 0; row < list.size(); ++row) {
    const Character& character = list.characters[static_cast<size_t>(row)];
    const std::string fileName = exportFileName(character.name, list.characterRecordNumber(row));
    const std::string who = "character " + std::to_string(row + 1) + " \"" + character.name + "\"";
    CharacterPicture picture = characterPicture(character);
    if (!picture.png && picture.problem.empty()) {
      report.skipped.push_back(who);
      continue;
    }
    if (!picture.png) {
      report.problems.push_back({fileName, "was not written: the picture of " + who + " " + picture.problem});
      continue;
    }
    // Hand-written projects may give two characters the same file name ("a1" first, "a" eleventh).
    if (!taken.insert(fileName).second) {
      report.problems.push_back(
          {fileName, "was not written for " + who + ": an earlier character has that file"});
      continue;
    }
    if (Status s = target.writeFileAtomically(fileName, *picture.png); !s.ok()) {
      report.problems.push_back({fileName, "could not be written: " + s.error});
      continue;
    }
    report.written.push_back(fileName);
    if (wrote) wrote(fileName);
  }
  return report;
}

namespace {
// The path with its links resolved as far as it exists, without a trailing "/".
std::filesystem::path resolved(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  if (ec) p = std::filesystem::absolute(path, ec);
  p = p.lexically_normal();
  return p.has_filename() || !p.has_parent_path() || p == p.root_path() ? p : p.parent_path();
}
}  // namespace

bool isInsideProject(const std::filesystem::path& target, const std::filesystem::path& project) {
  const auto where = resolved(target);
  const auto root = resolved(project);
  if (where == root) return true;
  const auto images = root / kImageFolder;
  // target inside img/: every part of images starts target.
  auto a = where.begin();
  for (auto b = images.begin(); b != images.end(); ++a, ++b)
    if (a == where.end() || *a != *b) return false;
  return true;
}

}  // namespace charstack

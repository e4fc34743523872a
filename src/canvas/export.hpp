// Pictures of characters as the canvas shows them, written as PNG files outside the project.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/model.hpp"
#include "platform/files.hpp"
#include "project/project_io.hpp"

namespace charstack {

// A character's composition: its picture and its visible layers in drawing order, cropped to the
// images' rectangles, transparent elsewhere.
struct CharacterPicture {
  std::optional<std::string> png;  // none when there is nothing to draw or the picture failed
  std::string problem;             // why it failed; empty when there was simply nothing to draw
  int64_t left = 0;                // where the picture's top-left pixel lies on the canvas
  int64_t top = 0;
};
CharacterPicture characterPicture(const Character& character);

// The file an exported picture gets: the character's image file name plus ".png", with "/" and
// NUL, which a file name cannot hold, replaced by "_".
std::string exportFileName(const std::string& name, int64_t recordNumber);

struct ExportReport {
  std::vector<std::string> written;  // the file names, in character order
  std::vector<std::string> skipped;  // characters with nothing to draw, described for the user
  std::vector<Problem> problems;     // pictures that could not be made or written
  bool ok() const { return problems.empty(); }
};

// Writes one picture per character into target (which must exist), replacing files of the same
// names there; wrote is told about each file as soon as it is in place.
ExportReport exportAllCharacters(const CharacterList& list, const ProjectFolder& target,
                                 const std::function<void(const std::string& fileName)>& wrote = {});

// Whether target is the project folder or its "img/" (or lies inside "img/"): exported pictures must
// not go there.
bool isInsideProject(const std::filesystem::path& target, const std::filesystem::path& project);

}  // namespace charstack

// Pictures of characters as the canvas shows them, written as PNG files outside the project.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
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
// NUL, which a file name cannot hold, replaced by "_". Without the number the name alone, unless it
// is nothing but dots and spaces (or empty): such a name keeps its number.
std::string exportFileName(const std::string& name, int64_t recordNumber, bool withNumber = true);

// Whether name can name a sprite sheet's files (name + ".png", name + ".json") in the export folder.
bool isSheetName(const std::string& name);

struct ExportReport {
  std::vector<std::string> written;  // the file names, in character order
  std::vector<std::string> skipped;  // characters with nothing to draw, described for the user
  std::vector<Problem> problems;     // pictures that could not be made or written
  // Characters whose file name an earlier character's file has: who (as in skipped) and the file
  // name they got instead ("hero (2).png"). In a sprite sheet, the frame's name.
  std::vector<std::pair<std::string, std::string>> renamed;
  size_t frames = 0;                 // the pictures in the sprite sheet
  bool cancelled = false;            // stopped on request: the characters after the written ones are left
  bool ok() const { return problems.empty(); }
};

struct ExportOptions {
  // Called on the calling thread after each character with the characters done so far and their
  // number; for a sprite sheet, which is put together after them, the total counts one more, done
  // once the sheet is written.
  std::function<void(size_t done, size_t total)> progress;
  // Set (from any thread, or from progress) to stop: no file is written after it is seen, and the
  // files written so far stay, each complete.
  const std::atomic<bool>* cancel = nullptr;
  // Threads that compose and encode; 0 for one per core.
  size_t threads = 0;
  // Each pixel becomes a block of scale x scale pixels of its colour (1 to kMaxExportScale).
  int scale = 1;
  // Each picture cropped to its pixels that are not fully transparent; otherwise it keeps the box of
  // its drawn images.
  bool trim = false;
  // File names with the record number ("hero2.png") or without ("hero.png").
  bool numbers = true;
  // When not empty, one sprite sheet instead of a file per character: sheet + ".png" holds every
  // picture, kSheetPadding pixels apart, and sheet + ".json" says where each lies (the "hash"
  // layout of texture packers: the frames by file name, then meta).
  std::string sheet;
};
inline constexpr int kMaxExportScale = 8;
inline constexpr int kSheetPadding = 2;

// Writes one picture per character into target (which must exist), replacing files of the same
// names there, each atomically; wrote is told about each file as soon as it is in place. Two
// characters never share a file, not even one whose name differs only in case (a file system that
// ignores case would make them one): the later one's name gets " (2)", " (3)"… before ".png". The
// pictures are composed and encoded on all cores and put in place in character order; a picture
// shared by several characters is decoded once. The same list gives the same files every time.
// With options.sheet the two files of the sheet are written once every picture is made.
ExportReport exportAllCharacters(const CharacterList& list, const ProjectFolder& target,
                                 const std::function<void(const std::string& fileName)>& wrote = {},
                                 const ExportOptions& options = {});

// Whether target is the project folder or its "img/" (or lies inside "img/"): exported pictures must
// not go there.
bool isInsideProject(const std::filesystem::path& target, const std::filesystem::path& project);

}  // namespace charstack

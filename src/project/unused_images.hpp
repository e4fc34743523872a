// The files of "img/" that no record of a project refers to.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/model.hpp"
#include "platform/files.hpp"
#include "platform/image.hpp"

namespace charstack {

struct UnusedImageFile {
  std::string fileName;  // inside "img/"
  ImageRef picture;      // none when the editor could not read the file as a picture
  std::string problem;   // why not, to follow the file's name
};

// Why the unused files cannot be told now, for the user; empty when they can. They can only while
// the records of "data.txt" on disk are the editor's records: a file one of them still refers to is
// in use (after a reload another program's record was declined, say, or before a save).
std::string whyUnusedImagesCannotBeTold(const CharacterList& list, const ProjectFolder& folder);

// The entries of "img/", sorted by name, that are no record's image file name in list (pictures or
// not: a file under a record's name becomes its picture at the next load, so it is in use), leaving
// out the temporary files of saves. Each entry is read and decoded to show it. None when "img/"
// cannot be listed; an empty list when it does not exist.
std::optional<std::vector<UnusedImageFile>> listUnusedImageFiles(const CharacterList& list,
                                                                 const ProjectFolder& folder);

}  // namespace charstack

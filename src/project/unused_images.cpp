#include "project/unused_images.hpp"

#include <algorithm>

#include "platform/parallel.hpp"
#include "project/journal.hpp"
#include "project/project_io.hpp"
#include "project/records.hpp"

namespace charstack {

std::string whyUnusedImagesCannotBeTold(const CharacterList& list, const ProjectFolder& folder) {
  if (folder.inspect(kJournalFileName).exists) return "a save of this project is not finished yet";
  if (std::optional<std::filesystem::path> out = folder.leadsOutside(kImageFolder))
    return std::string(kImageFolder) + "/ is a link that leads out of the project folder (to " + out->string() +
           "), and Clean Up moves no file out of another folder";
  FileRead data = folder.read(kDataFileName);
  if (data.outcome == FileRead::Outcome::Refused) return std::string(kDataFileName) + " " + data.reason;
  const CharacterList onDisk = data.read() ? parseDataText(data.bytes).list : CharacterList{};
  if (buildDataText(onDisk) != buildDataText(list))
    return std::string(kDataFileName) + " on disk holds other records than the editor: save the project, or "
                                        "open it again, first";
  return {};
}

std::optional<std::vector<UnusedImageFile>> listUnusedImageFiles(const CharacterList& list,
                                                                 const ProjectFolder& folder) {
  std::vector<UnusedImageFile> unused;
  if (!folder.inspect(kImageFolder).exists) return unused;
  std::optional<std::unordered_set<std::string>> present = folder.listFolder(kImageFolder);
  if (!present) return std::nullopt;
  forEachRecord(list, [&](const auto& r, int64_t number, int64_t, int64_t) {
    present->erase(imageFileName(r.name, number));
  });
  for (const std::string& name : *present)
    if (!isTemporaryFileName(name)) unused.push_back({name, nullptr, {}});
  std::sort(unused.begin(), unused.end(),
            [](const UnusedImageFile& a, const UnusedImageFile& b) { return a.fileName < b.fileName; });

  parallelFor(unused.size(), [&](size_t i) {
    UnusedImageFile& file = unused[i];
    FileRead read = folder.read(imagePath(file.fileName));
    if (!read.read()) {
      file.problem = read.outcome == FileRead::Outcome::Missing ? "is gone" : read.reason;
      return;
    }
    DecodedImage decoded = decodeImage(read.bytes);
    file.picture = std::move(decoded.image);
    file.problem = std::move(decoded.problem);
  });
  return unused;
}

}  // namespace charstack

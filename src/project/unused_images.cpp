#include "project/unused_images.hpp"

#include <algorithm>

#include "platform/parallel.hpp"
#include "project/project_io.hpp"
#include "project/records.hpp"

namespace charstack {

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
    if (!isLeftoverTemporaryName(name)) unused.push_back({name, nullptr, {}});
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

// Reading a project folder: "data.txt" and each record's image from "img/".
#include <cerrno>

#include "model/names.hpp"
#include "platform/parallel.hpp"
#include "platform/text.hpp"
#include "project/project_io.hpp"
#include "project/records.hpp"

namespace charstack {

LoadResult loadProject(const ProjectFolder& folder) {
  LoadResult result;
  std::optional<std::string> bytes = folder.readFile(kDataFileName);
  if (!bytes) {
    result.dataFileUnreadable = folder.fileExists(kDataFileName);
    if (result.dataFileUnreadable)
      result.problems.push_back({kDataFileName, "could not be read; the project starts empty and saving "
                                                "will not overwrite it"});
    return result;
  }
  if (!text::isValidUtf8(*bytes))
    result.problems.push_back(
        {kDataFileName, "is not valid UTF-8 text; the invalid bytes were replaced by \"\xEF\xBF\xBD\""});
  result.list = parseDataText(*bytes).list;

  struct Job {
    RecordRef record;
    std::string fileName;
    bool exists = false;
    ImageRef image;
  };
  std::vector<Job> jobs;
  for (const RecordRef& r : recordsInSaveOrder(result.list)) {
    *r.savedName = *r.name;
    std::string fileName = imageFileName(*r.name, r.number);
    if (!isSafeImageFileName(fileName)) {
      result.problems.push_back({describeRecord(result.list, r),
                                 "its name cannot be used as an image file name; its image is not read"});
      continue;
    }
    jobs.push_back({r, std::move(fileName), false, nullptr});
  }

  // Reading and decoding are independent per record; the records keep their order.
  parallelFor(jobs.size(), [&](size_t i) {
    Job& job = jobs[i];
    std::optional<std::string> data = folder.readFile(imagePath(job.fileName));
    if (!data) return;
    job.exists = true;
    job.image = decodeImageData(*data);
  });

  for (Job& job : jobs) {
    if (job.image) {
      *job.record.image = std::move(job.image);
    } else if (job.exists) {
      result.unreadableImageFiles.insert(job.fileName);
      result.problems.push_back({imagePath(job.fileName),
                                 "is not an image the editor can read; the record has no image and the "
                                 "file is kept as it is"});
    }
  }
  return result;
}

}  // namespace charstack

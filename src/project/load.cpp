// Reading a project folder: "data.txt" and each record's image from "img/".
#include <cerrno>
#include <optional>

#include "model/names.hpp"
#include "platform/project_lock.hpp"
#include "project/journal.hpp"
#include "platform/parallel.hpp"
#include "platform/text.hpp"
#include "project/project_io.hpp"
#include "project/records.hpp"

namespace charstack {

LoadResult loadProject(const ProjectFolder& folder) {
  LoadResult result;
  FileRead data = folder.read(kDataFileName);
  if (data.outcome == FileRead::Outcome::Refused) {
    result.dataFileUnreadable = true;
    result.problems.push_back({kDataFileName, data.reason + "; the project starts empty and saving will not "
                                                            "replace it"});
    return result;
  }
  if (!data.read()) return result;
  result.dataFileStamp = data.stamp;
  if (!text::isValidUtf8(data.bytes))
    result.problems.push_back({kDataFileName, "holds names that are not valid UTF-8 text: the tables show "
                                              "\"\xEF\xBF\xBD\" for the invalid bytes, and the names keep them "
                                              "until they are edited"});
  result.list = parseDataText(data.bytes).list;
  if (result.list.empty() && !data.bytes.empty()) {
    result.dataFileWithoutRecords = true;
    result.problems.push_back({kDataFileName, "holds text but no record the editor can read; saving will not "
                                              "replace it unless you add records and confirm"});
  } else if (buildDataText(result.list) != data.bytes) {
    // Text the editor does not write back (notes, extra columns, CR LF): the first save keeps it.
    result.dataFileForeign = true;
    result.problems.push_back({kDataFileName, "holds text that the editor does not write back as it is (the lines "
                                              "below); the first save keeps the old text as " +
                                                  std::string(kDataFileName) + ".bak"});
    for (Problem& note : describeTextChanges(data.bytes)) result.problems.push_back(std::move(note));
  }

  struct Job {
    RecordRef record;
    std::string fileName;
    std::string problem;  // why an existing file is not the record's picture
    DecodedImage decoded;
    FileStamp stamp;
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
    jobs.push_back({r, std::move(fileName), {}, {}, {}});
  }

  // Reading and decoding are independent per record; the records keep their order.
  parallelFor(jobs.size(), [&](size_t i) {
    Job& job = jobs[i];
    FileRead file = folder.read(imagePath(job.fileName));
    if (file.outcome == FileRead::Outcome::Refused) {
      job.problem = std::move(file.reason);
    } else if (file.read()) {
      job.decoded = decodeImage(file.bytes);
      job.problem = std::move(job.decoded.problem);
      job.stamp = file.stamp;
    }
  });

  for (Job& job : jobs) {
    if (job.decoded.image) {
      result.knownImageFiles[job.fileName] = {job.decoded.image, job.stamp};
      *job.record.image = std::move(job.decoded.image);
      if (!job.decoded.loss.empty()) result.problems.push_back({imagePath(job.fileName), job.decoded.loss});
    } else if (!job.problem.empty()) {
      result.unreadableImageFiles.insert(job.fileName);
      result.problems.push_back(
          {imagePath(job.fileName), job.problem + "; the record has no picture and the file is kept as it is"});
    }
  }
  return result;
}

LoadResult openProject(const ProjectFolder& folder, bool tidy) {
  // The saving lock: a save of another window is not read half done, nor its files taken away.
  std::optional<SavingLock> lock;
  if (tidy || folder.inspect(kJournalFileName).exists) lock.emplace(folder.path());
  RecoveryReport recovery;
  if (lock && lock->held()) recovery = recoverInterruptedSave(folder, tidy);
  LoadResult result = loadProject(folder);
  result.interruptedSaveCompleted = recovery.completed;
  if (lock && !lock->held())
    result.problems.insert(result.problems.begin(), {"", "another window was saving this project while it was "
                                                         "opened; open it again to see the saved state"});
  result.problems.insert(result.problems.begin(), recovery.problems.begin(), recovery.problems.end());
  return result;
}

}  // namespace charstack

#include "project/journal.hpp"

#include <cerrno>
#include <charconv>
#include <cstdio>

#include "model/names.hpp"
#include "platform/text.hpp"
#include "project/records.hpp"

namespace charstack {

namespace {

constexpr std::string_view kHeader = "charstack journal 1";
constexpr std::string_view kEnd = "end";

// Names may hold any byte but "/" and NUL; spaces, line breaks, "%" and anything outside printable
// ASCII are written as %XX.
std::string encode(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c > 0x20 && c < 0x7f && c != '%') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

std::optional<std::string> decode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    unsigned value = 0;
    if (i + 2 >= text.size() ||
        std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr != text.data() + i + 3)
      return std::nullopt;
    out += static_cast<char>(value);
    i += 2;
  }
  return out;
}

template <typename T>
bool number(std::string_view text, T& value) {
  return !text.empty() && std::from_chars(text.data(), text.data() + text.size(), value).ptr == text.data() + text.size();
}

}  // namespace

std::string journalText(const Journal& journal) {
  std::string out(kHeader);
  out += '\n';
  for (const Journal::Rename& r : journal.renames) out += "rename " + encode(r.staged) + " " + encode(r.target) + "\n";
  if (!journal.stagedData.empty()) out += "data " + encode(journal.stagedData) + "\n";
  for (const Journal::Removal& r : journal.removals)
    out += "remove " + encode(r.fileName) + " " + std::to_string(r.stamp.device) + " " + std::to_string(r.stamp.inode) +
           " " + std::to_string(r.stamp.size) + " " + std::to_string(r.stamp.modifiedNs) + "\n";
  out += kEnd;
  out += '\n';
  return out;
}

std::optional<Journal> parseJournal(std::string_view text) {
  std::vector<std::string_view> lines = text::split(text, "\n");
  // The header, the operations, "end", and nothing after the last line feed.
  if (lines.size() < 3 || lines.front() != kHeader || lines[lines.size() - 2] != kEnd || !lines.back().empty())
    return std::nullopt;
  Journal journal;
  for (size_t i = 1; i + 2 < lines.size(); ++i) {
    std::vector<std::string_view> f = text::split(lines[i], " ");
    std::vector<std::string> names;
    for (size_t k = 1; k < f.size() && k < 3; ++k) {
      std::optional<std::string> name = decode(f[k]);
      if (!name) return std::nullopt;
      names.push_back(std::move(*name));
    }
    // Only what a save writes: its own temporary files renamed onto image file names in "img/", its
    // own temporary "data.txt", and image files removed.
    if (f[0] == "rename" && f.size() == 3 && isTemporaryFileName(names[0]) && isSafeImageFileName(names[1])) {
      journal.renames.push_back({names[0], names[1]});
    } else if (f[0] == "data" && f.size() == 2 && journal.stagedData.empty() &&
               isTemporaryFileName(std::filesystem::path(names[0]).filename().string())) {
      journal.stagedData = names[0];
    } else if (f[0] == "remove" && f.size() == 6 && isSafeImageFileName(names[0])) {
      FileStamp s;
      if (!number(f[2], s.device) || !number(f[3], s.inode) || !number(f[4], s.size) || !number(f[5], s.modifiedNs))
        return std::nullopt;
      journal.removals.push_back({names[0], s});
    } else {
      return std::nullopt;
    }
  }
  return journal;
}

std::filesystem::path dataFileTarget(const ProjectFolder& folder) {
  const std::filesystem::path path = folder.resolve(kDataFileName);
  std::error_code ec;
  if (!std::filesystem::is_symlink(path, ec)) return path;
  std::filesystem::path target = std::filesystem::canonical(path, ec);
  return ec ? path : target;
}

bool writeJournal(const ProjectFolder& folder, const Journal& journal, std::vector<Problem>& problems) {
  FileOps& ops = folder.ops();
  const std::filesystem::path temp = folder.resolve(temporaryFileName());
  Status s = ops.createFile(temp, journalText(journal), 0644, nullptr);
  if (s.ok()) {
    s = ops.rename(temp, folder.resolve(kJournalFileName));
    if (!s.ok()) ops.remove(temp);
  }
  if (!s.ok()) {
    problems.push_back({kJournalFileName, "could not be written: " + s.error});
    return false;
  }
  // Renamed into place, it is committed: a failing sync is reported, and the save goes on.
  if (Status sync = ops.syncFolder(folder.path()); !sync.ok())
    problems.push_back({"", "the project folder could not be synced: " + sync.error});
  return true;
}

bool applyJournal(const ProjectFolder& folder, const Journal& journal, std::vector<Problem>& problems) {
  FileOps& ops = folder.ops();
  const size_t before = problems.size();
  // A staged file that is gone was renamed into place already.
  for (const Journal::Rename& r : journal.renames) {
    Status s = ops.rename(folder.resolve(imagePath(r.staged)), folder.resolve(imagePath(r.target)));
    if (!s.ok() && s.code != ENOENT) problems.push_back({imagePath(r.target), "could not be put in place: " + s.error});
  }
  const std::filesystem::path dataTarget = dataFileTarget(folder);
  if (!journal.stagedData.empty()) {
    if (std::filesystem::path(journal.stagedData).parent_path() != dataTarget.parent_path()) {
      problems.push_back({kDataFileName, "was not replaced: it is no longer where the save wrote its new text"});
    } else if (Status s = ops.rename(journal.stagedData, dataTarget); !s.ok() && s.code != ENOENT) {
      problems.push_back({kDataFileName, "could not be put in place: " + s.error});
    }
  }
  // The renames are durable before the files the old "data.txt" used go.
  for (const auto& f : {folder.resolve(kImageFolder), dataTarget.parent_path()})
    if (Status s = ops.syncFolder(f); !s.ok()) problems.push_back({f.filename().string(), "could not be synced: " + s.error});
  for (const Journal::Removal& r : journal.removals) {
    if (!(folder.stamp(imagePath(r.fileName)) == r.stamp)) continue;  // gone already, or not the same file
    if (Status s = ops.remove(folder.resolve(imagePath(r.fileName))); !s.ok())
      problems.push_back({imagePath(r.fileName), "could not be deleted: " + s.error});
  }
  if (problems.size() != before) return false;
  if (Status s = ops.syncFolder(folder.resolve(kImageFolder)); !s.ok())
    problems.push_back({std::string(kImageFolder) + "/", "could not be synced: " + s.error});
  if (Status s = ops.remove(folder.resolve(kJournalFileName)); !s.ok()) {
    problems.push_back({kJournalFileName, "could not be deleted: " + s.error});
    return false;
  }
  ops.syncFolder(folder.path());
  return true;
}

RecoveryReport recoverInterruptedSave(const ProjectFolder& folder, bool removeLeftovers) {
  RecoveryReport report;
  FileRead journal = folder.read(kJournalFileName);
  if (journal.outcome == FileRead::Outcome::Refused) {
    report.problems.push_back({kJournalFileName, journal.reason + "; an interrupted save may not be complete"});
    return report;
  }
  if (journal.read()) {
    std::optional<Journal> parsed = parseJournal(journal.bytes);
    if (!parsed) {
      // Not a journal this editor wrote: nothing is touched, not even the temporary files it may name.
      report.problems.push_back({kJournalFileName, "is not a complete save journal; it was left as it is, and so "
                                                   "were the temporary files of the save"});
      return report;
    }
    report.completed = applyJournal(folder, *parsed, report.problems);
    if (!report.completed) return report;
  }
  if (removeLeftovers)
    report.leftoversRemoved = folder.removeLeftoverTemporaryFiles("") + folder.removeLeftoverTemporaryFiles(kImageFolder);
  return report;
}

}  // namespace charstack

#include "project/journal.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>

#include "model/names.hpp"
#include "project/file_rules.hpp"
#include "project/records.hpp"

namespace charstack {

namespace {

constexpr std::string_view kHeader = "charstack journal 2";
constexpr std::string_view kEnd = "end";

// Names may hold any byte but "/" and NUL; spaces, line breaks, "%" and anything outside printable
// ASCII are written as %XX.
void encodeInto(std::string& out, std::string_view bytes) {
  for (unsigned char c : bytes) {
    if (c > 0x20 && c < 0x7f && c != '%') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
}

std::optional<std::string> decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
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
bool number(std::string_view text, T& value, int base = 10) {
  return !text.empty() && text[0] != '-' && text[0] != '+' &&
         std::from_chars(text.data(), text.data() + text.size(), value, base).ptr == text.data() + text.size();
}

std::string stampText(const FileStamp& s) {
  return std::to_string(s.device) + ":" + std::to_string(s.inode) + ":" + std::to_string(s.size) + ":" +
         std::to_string(s.modifiedNs);
}

std::string wasText(const std::optional<FileStamp>& s) { return s ? stampText(*s) : "-"; }

bool parseStamp(std::string_view text, FileStamp& s) {
  std::string_view parts[4];
  for (int i = 0; i < 4; ++i) {
    const size_t colon = i < 3 ? text.find(':') : text.size();
    if (colon == std::string_view::npos) return false;
    parts[i] = text.substr(0, colon);
    text.remove_prefix(i < 3 ? colon + 1 : colon);
  }
  return number(parts[0], s.device) && number(parts[1], s.inode) && number(parts[2], s.size) &&
         number(parts[3], s.modifiedNs);
}

bool parseWas(std::string_view text, std::optional<FileStamp>& was) {
  if (text == "-") return was.reset(), true;
  FileStamp s;
  if (!parseStamp(text, s)) return false;
  was = s;
  return true;
}

std::string contentText(const ContentCheck& c) {
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(c.hash));
  return std::to_string(c.size) + " " + hash;
}

bool parseContent(std::string_view size, std::string_view hash, ContentCheck& c) {
  return hash.size() == 16 && number(size, c.size) && number(hash, c.hash, 16);
}

// A path relative to the project folder that a save may stage "data.txt" at: folders without "." or
// ".." steps, and a temporary file name last.
bool isStagedDataPath(std::string_view path) {
  if (path.empty() || path.front() == '/') return false;
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('/', start);
    const std::string_view part = path.substr(start, slash == std::string_view::npos ? path.npos : slash - start);
    if (slash == std::string_view::npos) return isTemporaryFileName(part);
    if (part.empty() || part == "." || part == "..") return false;
    start = slash + 1;
  }
}

std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (;;) {
    const size_t space = line.find(' ', start);
    out.push_back(line.substr(start, space == std::string_view::npos ? line.npos : space - start));
    if (space == std::string_view::npos) return out;
    start = space + 1;
  }
}

// What a regular file at a path looks like, links followed (as ProjectFolder::stamp, for the anchored
// paths of the journal).
std::optional<FileStamp> stampAt(const std::filesystem::path& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return stampOf(st);
}

// Whether the regular file at a path holds exactly that content (its size is looked at first).
bool holds(const std::filesystem::path& path, const ContentCheck& content) {
  const std::optional<FileStamp> now = stampAt(path);
  if (!now || now->size != content.size) return false;
  const std::optional<ContentCheck> there = contentCheckOfFile(path);
  return there && *there == content;
}

// A free name beside a file for the version the save wrote, which no record's file can have (those
// end in a digit): "Hero1 (saved by the editor).png", "data.txt (saved by the editor)".
std::string besideName(const ProjectFolder& folder, const std::string& relative, bool picture) {
  const std::string base = relative + " (saved by the editor";
  const std::string end = picture ? ").png" : ")";
  std::string name = base + end;
  for (int n = 2; folder.inspect(name).exists || ownStamp(folder.anchored(name)); ++n)
    name = base + " " + std::to_string(n) + end;
  return name;
}

std::string parentOf(const std::string& relative) {
  const size_t slash = relative.rfind('/');
  return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

}  // namespace

std::string journalText(const Journal& journal) {
  std::string out(kHeader);
  out.append("\nfolder ").append(std::to_string(journal.folderDevice)).append(":");
  out.append(std::to_string(journal.folderInode)).append("\n");
  if (!journal.staging.empty()) {
    out += "stage ";
    encodeInto(out, journal.staging);
    out += '\n';
  }
  for (const Journal::Put& p : journal.puts) {
    out += "put ";
    encodeInto(out, p.target);
    out.append(" ").append(contentText(p.content)).append(" ").append(wasText(p.was)).append("\n");
  }
  if (!journal.stagedData.empty()) {
    out += "data ";
    encodeInto(out, journal.stagedData);
    out.append(" ").append(contentText(journal.dataContent)).append(" ").append(wasText(journal.dataWas)).append("\n");
  }
  for (const Journal::Removal& r : journal.removals) {
    out += "remove ";
    encodeInto(out, r.fileName);
    out.append(" ").append(stampText(r.stamp)).append("\n");
  }
  out += kEnd;
  out += '\n';
  return out;
}

std::optional<Journal> parseJournal(std::string_view text) {
  // The header, the operations, "end", and nothing after the last line feed.
  if (text.size() < kHeader.size() + kEnd.size() + 2 || text.substr(0, kHeader.size()) != kHeader ||
      text[kHeader.size()] != '\n' || text[text.size() - kEnd.size() - 2] != '\n' ||
      text.substr(text.size() - kEnd.size() - 1, kEnd.size()) != kEnd || text.back() != '\n')
    return std::nullopt;
  Journal journal;
  bool data = false;
  int folder = 0;
  size_t start = kHeader.size() + 1;
  const size_t stop = text.size() - kEnd.size() - 1;
  while (start < stop) {
    const size_t end = text.find('\n', start);
    const std::vector<std::string_view> f = fields(text.substr(start, end - start));
    start = end + 1;
    if (folder == 0) {  // the folder's identity comes first
      FileStamp s;
      if (f.size() != 2 || f[0] != "folder" || !parseStamp(std::string(f[1]) + ":0:0", s)) return std::nullopt;
      journal.folderDevice = s.device, journal.folderInode = s.inode, folder = 1;
      continue;
    }
    std::optional<std::string> name = f.size() >= 2 ? decode(f[1]) : std::nullopt;
    if (!name) return std::nullopt;
    // Only what a save writes: its own staging folder and "data.txt" under temporary names, files
    // put into "img/" under image file names, and image files removed.
    if (f[0] == "stage" && f.size() == 2 && journal.staging.empty() && journal.puts.empty() && isTemporaryFileName(*name)) {
      journal.staging = std::move(*name);
    } else if (f[0] == "put" && f.size() == 5 && !journal.staging.empty() && isSafeImageFileName(*name)) {
      Journal::Put put{std::move(*name), {}, {}};
      if (!parseContent(f[2], f[3], put.content) || !parseWas(f[4], put.was)) return std::nullopt;
      journal.puts.push_back(std::move(put));
    } else if (f[0] == "data" && f.size() == 5 && !data && isStagedDataPath(*name)) {
      data = true;
      journal.stagedData = std::move(*name);
      if (!parseContent(f[2], f[3], journal.dataContent) || !parseWas(f[4], journal.dataWas)) return std::nullopt;
    } else if (f[0] == "remove" && f.size() == 3 && isSafeImageFileName(*name)) {
      FileStamp s;
      if (!parseStamp(f[2], s)) return std::nullopt;
      journal.removals.push_back({std::move(*name), s});
    } else {
      return std::nullopt;
    }
  }
  if (!folder || (!journal.staging.empty() && journal.puts.empty())) return std::nullopt;
  return journal;
}

std::filesystem::path dataFileTarget(const ProjectFolder& folder) {
  const std::filesystem::path path = folder.resolve(kDataFileName);
  std::error_code ec;
  if (!std::filesystem::is_symlink(path, ec)) return path;
  std::filesystem::path target = std::filesystem::canonical(path, ec);
  return ec ? path : target;
}

std::optional<std::string> dataFileTargetInside(const ProjectFolder& folder) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(folder.anchored(kDataFileName), ec)) return std::string(kDataFileName);
  if (folder.leadsOutside(kDataFileName)) return std::nullopt;
  const std::filesystem::path here = std::filesystem::canonical(folder.anchored(""), ec);
  const std::filesystem::path target = std::filesystem::weakly_canonical(folder.anchored(kDataFileName), ec);
  if (ec) return std::nullopt;
  std::filesystem::path relative = target.lexically_relative(here);
  if (relative.empty() || *relative.begin() == "..") return std::nullopt;
  return relative.string();
}

bool writeJournal(const ProjectFolder& folder, const Journal& journal, std::vector<Problem>& problems) {
  FileOps& ops = folder.ops();
  const std::filesystem::path temp = folder.anchored(folder.temporaryName());
  Status s = ops.createFile(temp, journalText(journal), 0644, nullptr);
  if (s.ok()) {
    s = ops.rename(temp, folder.anchored(kJournalFileName));
    if (!s.ok()) ops.remove(temp);
  }
  if (!s.ok()) {
    problems.push_back({kJournalFileName, "could not be written: " + s.error});
    return false;
  }
  // Renamed into place, it is committed: a failing sync is reported, and the save goes on.
  if (Status sync = ops.syncFolder(folder.anchored("")); !sync.ok())
    problems.push_back({"", "the project folder could not be synced: " + sync.error});
  return true;
}

namespace {

// Carrying out one journal: what it found before it changed anything, and what it came to.
struct Run {
  Run(const ProjectFolder& f, const Journal& j, std::vector<Problem>& p)
      : folder(f), journal(j), problems(p), before(p.size()), staging(std::string(kImageFolder) + "/" + j.staging) {}
  const ProjectFolder& folder;
  const Journal& journal;
  std::vector<Problem>& problems;
  JournalOutcome outcome;
  size_t before;                    // the problems of this run start here
  std::string staging;              // the staging folder, relative to the project folder
  std::string dataTarget;           // where the new "data.txt" goes, relative (or absolute when outside)
  std::vector<char> staged;         // each put's staged file is still there
  bool dataStaged = false;
  bool sameFolder = false;          // the folder the save wrote in, not a copy of it

  JournalOutcome stop(std::string file, std::string reason) {
    problems.push_back({std::move(file), std::move(reason)});
    outcome.stopped = true;
    return outcome;
  }
};

// Whether the journal may be carried out through the links of "img/" and "data.txt": a stopped
// outcome when not.
std::optional<JournalOutcome> checkWhereItLeads(Run& run, bool outside) {
  const Journal& journal = run.journal;
  if (!outside && (!journal.puts.empty() || !journal.removals.empty()))
    if (std::optional<std::filesystem::path> out = run.folder.leadsOutside(kImageFolder))
      return run.stop(std::string(kImageFolder) + "/", "leads out of the project folder (to " + out->string() +
                                                           "); the interrupted save was not finished through it");
  if (journal.stagedData.empty()) return std::nullopt;
  std::optional<std::string> inside = dataFileTargetInside(run.folder);
  if (!inside && outside) inside = dataFileTarget(run.folder).string();  // allowed: the staged text is beside it
  if (!inside || parentOf(*inside) != parentOf(journal.stagedData))
    return run.stop(kDataFileName, "no longer leads where the interrupted save wrote its new text (" +
                                       journal.stagedData + "); the save was not finished");
  run.dataTarget = *inside;
  return std::nullopt;
}

// Every step proven before any is taken: its staged file is there, or its target holds what it held.
bool proveSteps(Run& run) {
  const Journal& journal = run.journal;
  const ProjectFolder& folder = run.folder;
  run.staged.assign(journal.puts.size(), 0);
  for (size_t i = 0; i < journal.puts.size(); ++i) {
    const Journal::Put& put = journal.puts[i];
    run.staged[i] = ownStamp(folder.anchored(run.staging + "/" + put.target)).has_value();
    if (!run.staged[i] && !holds(folder.anchored(imagePath(put.target)), put.content))
      run.problems.push_back({imagePath(put.target), "the interrupted save's new picture for it is missing, and the "
                                                     "file there is not that picture"});
  }
  run.dataStaged = !journal.stagedData.empty() && ownStamp(folder.anchored(journal.stagedData)).has_value();
  if (!journal.stagedData.empty() && !run.dataStaged && !holds(folder.anchored(run.dataTarget), journal.dataContent))
    run.problems.push_back({kDataFileName, "the interrupted save's new text for it is missing, and the file there is "
                                           "not that text"});
  return run.problems.size() == run.before;
}

// Puts a staged file in place. A file changed since the commit is another program's work: it stays,
// and the save's version goes beside it. In a copy of the folder the stamps tell nothing; a file that
// was not there at the commit still does.
void putInPlace(Run& run, const std::string& from, const std::string& to, const ContentCheck& content,
                const std::optional<FileStamp>& was, bool picture) {
  const ProjectFolder& folder = run.folder;
  FileOps& ops = folder.ops();
  const std::filesystem::path target = folder.anchored(to);
  struct stat st;
  const bool there = ::lstat(target.c_str(), &st) == 0;
  const bool changed = run.sameFolder ? !mayReplaceOrRemove(sinceSeen(stampAt(target), was)) : !was;
  if (there && changed && !holds(target, content)) {
    const std::string beside = besideName(folder, to, picture);
    if (Status s = ops.rename(folder.anchored(from), folder.anchored(beside)); !s.ok())
      return run.problems.push_back(
          {to, "changed since the save began, and the saved version could not be kept beside it: " + s.error});
    run.outcome.keptBeside.emplace_back(to, beside);
    run.problems.push_back({to, "was changed by another program while the save was being finished; it was kept as "
                                "it is, and the saved version is " + beside});
    return;
  }
  if (Status s = ops.rename(folder.anchored(from), target); !s.ok() && !(s.code == ENOENT && holds(target, content)))
    run.problems.push_back({to, "could not be put in place: " + s.error});
}

// Every staged file into place, and the renames made durable. False when one of them failed.
bool putAllInPlace(Run& run) {
  const Journal& journal = run.journal;
  for (size_t i = 0; i < journal.puts.size(); ++i)
    if (run.staged[i])
      putInPlace(run, run.staging + "/" + journal.puts[i].target, imagePath(journal.puts[i].target),
                 journal.puts[i].content, journal.puts[i].was, true);
  if (run.dataStaged) putInPlace(run, journal.stagedData, run.dataTarget, journal.dataContent, journal.dataWas, false);
  size_t failures = 0;
  for (size_t i = run.before; i < run.problems.size(); ++i)
    failures += run.problems[i].reason.find("could not") != std::string::npos;
  // The renames are durable before the files the old "data.txt" used go.
  for (const std::string& f : {std::string(kImageFolder), parentOf(run.dataTarget)})
    if (Status s = run.folder.ops().syncFolder(run.folder.anchored(f));
        !s.ok() && (f == kImageFolder ? !journal.puts.empty() : true))
      run.problems.push_back({f.empty() ? "" : f + "/", "could not be synced: " + s.error}), ++failures;
  return failures == 0;
}

// The removals of files still as the journal saw them, then the journal itself.
void removeAndFinish(Run& run) {
  const ProjectFolder& folder = run.folder;
  FileOps& ops = folder.ops();
  for (const Journal::Removal& r : run.journal.removals) {
    const std::filesystem::path path = folder.anchored(imagePath(r.fileName));
    // Gone already, not the same file, or unprovable in a copy of the folder: kept.
    if (!run.sameFolder || sinceSeen(stampAt(path), r.stamp) != FileRule::Ours) continue;
    if (Status s = ops.remove(path); !s.ok()) {
      run.problems.push_back({imagePath(r.fileName), "could not be deleted: " + s.error});
      return;
    }
  }
  if (!run.journal.staging.empty()) ::rmdir(folder.anchored(run.staging).c_str());
  if (Status s = ops.syncFolder(folder.anchored(kImageFolder)); !s.ok() && !run.journal.removals.empty()) {
    run.problems.push_back({std::string(kImageFolder) + "/", "could not be synced: " + s.error});
    return;
  }
  if (Status s = ops.remove(folder.anchored(kJournalFileName)); !s.ok()) {
    run.problems.push_back({kJournalFileName, "could not be deleted: " + s.error});
    return;
  }
  ops.syncFolder(folder.anchored(""));
  run.outcome.done = true;
}

}  // namespace

JournalOutcome applyJournal(const ProjectFolder& folder, const Journal& journal, std::vector<Problem>& problems,
                            bool outside) {
  Run run(folder, journal, problems);
  if (std::optional<JournalOutcome> stopped = checkWhereItLeads(run, outside)) return *stopped;
  if (!proveSteps(run))
    return run.stop(kJournalFileName, "the interrupted save cannot be finished: the files above are not as it left "
                                      "them; its journal and files were left as they are, and nothing was removed");
  struct stat self;
  run.sameFolder = ::stat(folder.anchored("").c_str(), &self) == 0 &&
                   static_cast<uint64_t>(self.st_dev) == journal.folderDevice &&
                   static_cast<uint64_t>(self.st_ino) == journal.folderInode;
  if (putAllInPlace(run)) removeAndFinish(run);
  return run.outcome;
}

RecoveryReport recoverInterruptedSave(const ProjectFolder& folder, bool removeLeftovers) {
  RecoveryReport report;
  FileRead journal = readFileAt(folder.anchored(kJournalFileName), kMaxFileBytes);
  if (journal.outcome == FileRead::Outcome::Refused) {
    report.problems.push_back({kJournalFileName, journal.reason + "; an interrupted save may not be complete"});
    report.stopped = true;
    return report;
  }
  if (journal.read()) {
    std::optional<Journal> parsed = parseJournal(journal.bytes);
    if (!parsed) {
      // Not a journal this editor wrote: nothing is touched, not even the temporary files it may name.
      report.problems.push_back({kJournalFileName, "is not a complete save journal; it was left as it is, and so "
                                                   "were the temporary files of the save"});
      report.stopped = true;
      return report;
    }
    JournalOutcome outcome = applyJournal(folder, *parsed, report.problems);
    report.completed = outcome.done;
    report.stopped = !outcome.done;
    report.keptBeside = std::move(outcome.keptBeside);
    if (!outcome.done) return report;
  }
  if (removeLeftovers) folder.removeLeftoverTemporaryFiles(""), folder.removeLeftoverTemporaryFiles(kImageFolder);
  return report;
}

}  // namespace charstack

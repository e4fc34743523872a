// Which files of a project the editor may replace or remove. Saves replace and remove only files the
// editor read or wrote itself and that nobody changed since; whatever else stands in "img/" or as
// "data.txt" is another program's or the user's work. Every place that replaces or removes a file
// asks here: the save's plan (pictures, "data.txt", the files of removed and renamed records), its
// last look before the commit, and the journal's steps.
#pragma once

#include <optional>
#include <string>

#include "model/model.hpp"
#include "platform/files.hpp"

namespace charstack {

enum class FileRule {
  Free,     // nothing stands there: a file may be written
  Ours,     // the file the editor last read or wrote there, unchanged since: may be replaced or removed
  Changed,  // another program changed or replaced it since, or put it where the editor saw none: the
            // user is asked before it is replaced, and it is never removed unasked
  Foreign,  // a file the editor never read: kept; only a record's new name may take it as its picture,
            // and it is replaced only when the user says so
  Never,    // no regular file, or one the editor could not read as a picture: never replaced or removed
};

// What is known of a file: what stands there now, and what the editor last saw there.
struct FileFacts {
  FileInfo now;                     // exists false: nothing stands there
  std::optional<FileStamp> seen;    // the file the editor last read or wrote there; none: never read one
  std::string unreadable;           // why the editor could not read it as a picture; empty: it could
};

// The rule for a file of those facts; reason says why for Never.
FileRule fileRule(const FileFacts& facts, std::string* reason = nullptr);

// The facts of the file "img/<fileName>" as the editor's state knows it. A picture opened but not
// read yet is read now when the file is there: one that is no picture is Never.
FileFacts imageFileFacts(const FileInfo& now, const EditorState& state, const std::string& fileName);

// A file the editor saw as `then` at a moment it trusts (its last read or write of it, a save's
// commit; none: no file stood there), now `now`: Free when there is still none, Ours when it looks the
// same, else Changed.
FileRule sinceSeen(const std::optional<FileStamp>& now, const std::optional<FileStamp>& then);

inline bool mayReplaceOrRemove(FileRule rule) { return rule == FileRule::Free || rule == FileRule::Ours; }

}  // namespace charstack

// Which record names the project files can hold.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace charstack {

// U+FEFF in UTF-8. At the start of "data.txt" it is no part of the first name, so no name starts
// with it.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

enum class NameProblem {
  None,
  BreaksFormat,   // contains ",", a line feed, "####" or "$$$$", or starts with a byte-order mark:
                  // "data.txt" would not read back
  UnsafePath,     // contains "/" or NUL: cannot be part of a file name inside "img/"
  TooLong,        // the image file name would exceed the file system's limit
  Blank,          // empty or only white space: a record typed this way would have no name to show
};

// The longest name a record can have, in bytes: its image file name adds the record number.
inline constexpr size_t kMaxNameBytes = 255 - 11;

NameProblem checkName(std::string_view name);
// A name typed for a record: what checkName refuses, and a blank name too (names read from
// "data.txt" may be blank and stay as they are).
NameProblem checkTypedName(std::string_view name);
// A sentence for the user in the interface language, empty for NameProblem::None: the one text of
// each refusal of a name.
std::string describeNameProblem(NameProblem problem);

// True when the text is a plain file name inside "img/": not empty, no "/" or NUL, not "." or "..",
// and short enough for the file system.
bool isSafeImageFileName(std::string_view fileName);

struct CharacterList;
// The record whose picture file a path inside the project names ("img/" and the file name), as its
// character row and layer row (-1 for the character itself); none when no record's file is named.
std::optional<std::pair<int64_t, int64_t>> recordOfPictureFile(const CharacterList& list, std::string_view path);

}  // namespace charstack

// Which record names the project files can hold.
#pragma once

#include <string>
#include <string_view>

namespace charstack {

enum class NameProblem {
  None,
  BreaksFormat,   // contains ",", a line feed, "####" or "$$$$": "data.txt" would not read back
  UnsafePath,     // contains "/" or NUL: cannot be part of a file name inside "img/"
  TooLong,        // the image file name would exceed the file system's limit
};

NameProblem checkName(std::string_view name);
// A sentence for the user, empty for NameProblem::None.
std::string describeNameProblem(NameProblem problem);

// True when the text is a plain file name inside "img/": not empty, no "/" or NUL, not "." or "..",
// and short enough for the file system.
bool isSafeImageFileName(std::string_view fileName);

}  // namespace charstack

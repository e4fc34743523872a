#include "model/names.hpp"

#include <QCoreApplication>

#include "model/model.hpp"

namespace charstack {

namespace {
// Longest file name most Linux file systems accept, in bytes.
constexpr size_t kMaxFileNameBytes = 255;
// Room left for the record number behind the name ("%d" of a 32-bit value).
constexpr size_t kNumberRoom = 11;
static_assert(kMaxNameBytes == kMaxFileNameBytes - kNumberRoom);

bool hasUnsafeCharacters(std::string_view text) {
  return text.find('/') != std::string_view::npos || text.find('\0') != std::string_view::npos;
}
}  // namespace

NameProblem checkName(std::string_view name) {
  // Most names hold none of the characters looked for below: one scan settles them.
  constexpr std::string_view kSpecial(",\n#$/\0", 6);
  if (name.find_first_of(kSpecial) == std::string_view::npos && name.substr(0, kByteOrderMark.size()) != kByteOrderMark)
    return name.size() + kNumberRoom > kMaxFileNameBytes ? NameProblem::TooLong : NameProblem::None;
  if (name.find(',') != std::string_view::npos || name.find('\n') != std::string_view::npos ||
      name.find("####") != std::string_view::npos || name.find("$$$$") != std::string_view::npos ||
      name.substr(0, 3) == kByteOrderMark)
    return NameProblem::BreaksFormat;
  if (hasUnsafeCharacters(name)) return NameProblem::UnsafePath;
  if (name.size() + kNumberRoom > kMaxFileNameBytes) return NameProblem::TooLong;
  return NameProblem::None;
}

NameProblem checkTypedName(std::string_view name) {
  if (name.find_first_not_of(" \t") == std::string_view::npos) return NameProblem::Blank;
  return checkName(name);
}

std::string describeNameProblem(NameProblem problem) {
  const auto text = [](const char* source) { return QCoreApplication::translate("Edit", source); };
  switch (problem) {
    case NameProblem::None:
      return {};
    case NameProblem::BreaksFormat:
      return text(QT_TRANSLATE_NOOP("Edit", "a name cannot contain \",\", a line break, \"####\" or \"$$$$\", "
                                            "nor start with a byte-order mark"))
          .toStdString();
    case NameProblem::UnsafePath:
      return text(QT_TRANSLATE_NOOP("Edit", "a name cannot contain \"/\" or a null character")).toStdString();
    case NameProblem::TooLong:
      return text(QT_TRANSLATE_NOOP("Edit", "the name is too long for an image file name (at most %1 bytes)"))
          .arg(kMaxNameBytes)
          .toStdString();
    case NameProblem::Blank:
      return text(QT_TRANSLATE_NOOP("Edit", "a name cannot be empty")).toStdString();
  }
  return {};
}

std::optional<std::pair<int64_t, int64_t>> recordOfPictureFile(const CharacterList& list, std::string_view path) {
  constexpr std::string_view kFolder = "img/";
  if (path.substr(0, kFolder.size()) != kFolder) return std::nullopt;
  path.remove_prefix(kFolder.size());
  std::optional<std::pair<int64_t, int64_t>> found;
  forEachRecord(list, [&](const auto& record, int64_t number, int64_t row, int64_t layerRow) {
    if (!found && imageFileName(record.name, number) == path) found = std::pair(row, layerRow);
  });
  return found;
}

bool isSafeImageFileName(std::string_view fileName) {
  return !fileName.empty() && fileName != "." && fileName != ".." && !hasUnsafeCharacters(fileName) &&
         fileName.size() <= kMaxFileNameBytes;
}

}  // namespace charstack

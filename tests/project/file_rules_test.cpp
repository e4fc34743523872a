// Which files the editor may replace or remove: real files of every kind in "img/", against what the
// editor's state knows of them.
#include <sys/stat.h>

#include "project/file_rules.hpp"
#include "project/project_io.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::testPng;

TEST(FileRules, OnlyFilesTheEditorReadOrWroteAndNobodyChangedMayBeReplacedOrRemoved) {
  testing::TempFolder dir;
  const ProjectFolder folder(dir.path());
  for (const char* f : {"Read1", "Changed2", "Never3", "Spoilt4", "Gone9"}) dir.write(std::string("img/") + f, testPng(2, 2, 1));
  dir.write("img/Lazy5", "no picture, found out only when read");
  dir.write("img/Folder6/x", "");
  std::filesystem::create_symlink("nothing", dir.path() / "img/Link7");
  ::mkfifo((dir.path() / "img/Pipe8").c_str(), 0644);
  dir.write("outside", testPng(2, 2, 2));
  std::filesystem::create_symlink(dir.path() / "outside", dir.path() / "img/Out10");
  EditorState state;
  for (const char* f : {"Read1", "Changed2", "Spoilt4", "Gone9", "Lazy5", "Out10"})
    state.knownImageFiles[f] = {openImageFile(dir.path() / "img" / f), *folder.stamp(std::string("img/") + f)};
  dir.write("img/Changed2", testPng(3, 2, 1));  // rewritten by a paint program since
  std::filesystem::remove(dir.path() / "img/Gone9");
  state.unreadableImageFiles = {"Spoilt4"};

  const std::pair<const char*, FileRule> kFiles[] = {
      {"Read1", FileRule::Ours},       // read by the editor, unchanged since
      {"Changed2", FileRule::Changed}, // read, then changed by another program
      {"Never3", FileRule::Foreign},   // never read: kept unless the user says so
      {"Spoilt4", FileRule::Never},    // found to be no picture
      {"Lazy5", FileRule::Never},      // opened, and found to be no picture when read now
      {"Folder6", FileRule::Never},    // no regular file
      {"Link7", FileRule::Never},      // a link to nothing
      {"Pipe8", FileRule::Never},
      {"Gone9", FileRule::Free},       // deleted since: a file may be written
      {"Out10", FileRule::Ours},       // a link the editor read through: the link is replaced, never its target
      {"Absent11", FileRule::Free},
  };
  for (const auto& [name, rule] : kFiles) {
    std::string reason;
    EXPECT_EQ(fileRule(imageFileFacts(folder.inspect(std::string("img/") + name), state, name), &reason), rule) << name;
    EXPECT_EQ(reason.empty(), rule != FileRule::Never) << name;
    EXPECT_EQ(mayReplaceOrRemove(rule), rule == FileRule::Ours || rule == FileRule::Free) << name;
  }

  // A file seen at a moment the editor trusts (its last read, a save's commit), and now.
  const FileStamp a{1, 2, 3, 4}, moved{1, 9, 3, 4}, grown{1, 2, 5, 4}, touched{1, 2, 3, 5};
  const std::tuple<std::optional<FileStamp>, std::optional<FileStamp>, FileRule> kStamps[] = {
      {std::nullopt, std::nullopt, FileRule::Free}, {a, a, FileRule::Ours},
      {a, std::nullopt, FileRule::Changed},          // put there since
      {std::nullopt, a, FileRule::Changed},          // deleted since
      {moved, a, FileRule::Changed}, {grown, a, FileRule::Changed}, {touched, a, FileRule::Changed},
  };
  for (const auto& [now, then, rule] : kStamps) EXPECT_EQ(sinceSeen(now, then), rule);
}

}  // namespace
}  // namespace charstack

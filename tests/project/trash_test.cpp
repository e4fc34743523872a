// Moving files to a trash kept in a temporary data folder (XDG_DATA_HOME), never the user's own.
#include "project/trash.hpp"

#include <gtest/gtest.h>

#include "support/fakes.hpp"

namespace charstack {
namespace {

// The moved files go to the trash as one folder with one note, their paths kept inside it; a cancel
// leaves the files not started where they are.
TEST(Trash, MovesTheFilesAsOneFolderReportsTheOnesThatStayedAndStopsWhenCancelled) {
  testing::TempFolder project, data;
  setenv("XDG_DATA_HOME", data.path().c_str(), 1);
  for (const char* name : {"a", "b", "c"}) project.write(std::string("img/") + name, name);
  size_t most = 0;
  TrashReport report = trashFiles(
      ProjectFolder(project.path()), {"img/a", "img/missing", "img/c", "img/a"},
      [&](size_t done) { most = std::max(most, done); }, false);
  EXPECT_EQ(report.moved, (std::vector<std::string>{"img/a", "img/c"}));
  const std::string stayed = "was not moved to the trash: ";
  EXPECT_EQ(report.problems, (std::vector<Problem>{{"img/missing", stayed + "No such file or directory"},
                                                   {"img/a", stayed + "File exists"}}));
  EXPECT_EQ(most, 4u);
  EXPECT_EQ(project.list("img"), std::vector<std::string>{"b"});
  EXPECT_EQ(project.list(""), std::vector<std::string>{"img"});
  EXPECT_EQ(data.read("Trash/files/" + report.bundle + "/img/c"), "c");  // from where it can come back
  const std::string note = data.read("Trash/info/" + report.bundle + ".trashinfo");
  EXPECT_NE(note.find("Path=" + (project.path() / report.bundle).string()), std::string::npos);

  std::vector<std::string> files;
  for (int i = 0; i < 60; ++i) project.write(files.emplace_back("img/f" + std::to_string(i)), "x");
  std::atomic<bool> cancelled{false};
  report = trashFiles(
      ProjectFolder(project.path()), files, [&](size_t done) { cancelled = done >= 10; }, cancelled);
  EXPECT_EQ(report.moved, std::vector<std::string>(files.begin(), files.begin() + 10));
  EXPECT_EQ(std::make_pair(report.problems.size(), report.notTried), std::make_pair(size_t{0}, size_t{50}));
  EXPECT_EQ(project.list("img").size(), 51u);
  EXPECT_EQ(data.list("Trash/files").size(), 2u);  // an entry of its own, named apart by the trash
  unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace charstack

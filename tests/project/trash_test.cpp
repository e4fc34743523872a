// Moving files to a trash kept in a temporary data folder (XDG_DATA_HOME), never the user's own.
#include <gtest/gtest.h>

#include <cstdlib>

#include "project/trash.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

struct Trash : ::testing::Test {
  Trash() {
    if (const char* home = std::getenv("XDG_DATA_HOME")) previous = home;
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
  }
  ~Trash() override { previous ? setenv("XDG_DATA_HOME", previous->c_str(), 1) : unsetenv("XDG_DATA_HOME"); }
  std::optional<std::string> previous;
  testing::TempFolder project, data;
};

TEST_F(Trash, MovesEachFileWithItsNoteAndReportsTheOnesThatStayed) {
  for (const char* name : {"a", "b", "c"}) project.write(std::string("img/") + name, name);
  std::atomic<size_t> most{0};
  const TrashReport report = trashFiles(
      ProjectFolder(project.path()), {"img/a", "img/missing", "img/c"},
      [&](size_t done) { most = std::max<size_t>(most, done); }, std::atomic<bool>{false});
  EXPECT_EQ(report.moved, (std::vector<std::string>{"img/a", "img/c"}));
  EXPECT_EQ(report.problems, (std::vector<Problem>{{"img/missing", "was not moved to the trash: No such file or directory"}}));
  EXPECT_EQ(report.notTried, 0u);
  EXPECT_EQ(most, 3u);
  EXPECT_EQ(project.list("img"), std::vector<std::string>{"b"});
  EXPECT_EQ(data.read("Trash/files/c"), "c");  // from where the user can bring it back
  EXPECT_NE(data.read("Trash/info/a.trashinfo").find("Path=" + (project.path() / "img/a").string()), std::string::npos);
}

TEST_F(Trash, ACancelLeavesTheFilesNotStartedWhereTheyAre) {
  std::vector<std::string> files;
  for (int i = 0; i < 60; ++i) project.write(files.emplace_back("img/f" + std::to_string(i)), "x");
  std::atomic<bool> cancelled{false};
  const TrashReport report =
      trashFiles(ProjectFolder(project.path()), files, [&](size_t done) { cancelled = cancelled || done >= 10; }, cancelled);
  EXPECT_GE(report.moved.size(), 10u);
  EXPECT_LE(report.moved.size(), 12u);  // the moves under way when it was cancelled finish
  EXPECT_TRUE(report.problems.empty());
  EXPECT_EQ(report.moved.size() + report.notTried, files.size());
  EXPECT_EQ(project.list("img").size(), report.notTried);
  EXPECT_EQ(data.list("Trash/files").size(), report.moved.size());
}

}  // namespace
}  // namespace charstack

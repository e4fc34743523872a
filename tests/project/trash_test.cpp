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

// The moved files go to the trash as one folder, their paths kept inside it, with one note.
TEST_F(Trash, MovesTheFilesAsOneFolderAndReportsTheOnesThatStayed) {
  for (const char* name : {"a", "b", "c"}) project.write(std::string("img/") + name, name);
  size_t most = 0;
  const TrashReport report = trashFiles(ProjectFolder(project.path()), {"img/a", "img/missing", "img/c", "img/a"},
                                        [&](size_t done) { most = std::max(most, done); }, std::atomic<bool>{false});
  EXPECT_EQ(report.moved, (std::vector<std::string>{"img/a", "img/c"}));
  EXPECT_EQ(report.problems, (std::vector<Problem>{{"img/missing", "was not moved to the trash: No such file or directory"},
                                                   {"img/a", "was not moved to the trash: File exists"}}));
  EXPECT_EQ(most, 4u);
  EXPECT_EQ(project.list("img"), std::vector<std::string>{"b"});
  EXPECT_EQ(project.list(""), std::vector<std::string>{"img"});
  ASSERT_EQ(data.list("Trash/files"), std::vector<std::string>{report.bundle});
  EXPECT_EQ(data.read("Trash/files/" + report.bundle + "/img/c"), "c");  // from where the user can bring it back
  EXPECT_NE(data.read("Trash/info/" + report.bundle + ".trashinfo").find("Path=" + (project.path() / report.bundle).string()),
            std::string::npos);
}

TEST_F(Trash, ACancelLeavesTheFilesNotStartedWhereTheyAre) {
  std::vector<std::string> files;
  for (int i = 0; i < 60; ++i) project.write(files.emplace_back("img/f" + std::to_string(i)), "x");
  std::atomic<bool> cancelled{false};
  const TrashReport report =
      trashFiles(ProjectFolder(project.path()), files, [&](size_t done) { cancelled = done >= 10; }, cancelled);
  EXPECT_EQ(report.moved, std::vector<std::string>(files.begin(), files.begin() + 10));
  EXPECT_TRUE(report.problems.empty());
  EXPECT_EQ(report.notTried, 50u);
  EXPECT_EQ(project.list("img").size(), 50u);
  EXPECT_EQ(data.list("Trash/files/" + report.bundle + "/img").size(), 10u);
}

}  // namespace
}  // namespace charstack

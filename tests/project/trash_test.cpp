// Moving files to a trash kept in a temporary data folder (XDG_DATA_HOME), never the user's own.
#include "project/trash.hpp"

#include <gtest/gtest.h>

#include <cerrno>

#include "support/fakes.hpp"

namespace charstack {
namespace {

// A trash in a temporary data folder for the length of a test.
struct TrashTest : ::testing::Test {
  void SetUp() override { setenv("XDG_DATA_HOME", data.path().c_str(), 1); }
  void TearDown() override { unsetenv("XDG_DATA_HOME"); }
  testing::TempFolder project, data;
};

// The moved files go to the trash as one folder with one note, their paths kept inside it; a cancel
// leaves the files not started where they are.
TEST_F(TrashTest, MovesTheFilesAsOneFolderReportsTheOnesThatStayedAndStopsWhenCancelled) {
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
  // The note tells where the entry came from, as a URL-escaped path.
  std::string where = (project.path() / report.bundle).string();
  for (size_t at; (at = where.find(' ')) != std::string::npos;) where.replace(at, 1, "%20");
  const std::string note = data.read("Trash/info/" + report.bundle + ".trashinfo");
  EXPECT_EQ(note.substr(0, note.find("DeletionDate=")), "[Trash Info]\nPath=" + where + "\n");

  std::vector<std::string> files;
  for (int i = 0; i < 60; ++i) project.write(files.emplace_back("img/f" + std::to_string(i)), "x");
  std::atomic<bool> cancelled{false};
  report = trashFiles(
      ProjectFolder(project.path()), files, [&](size_t done) { cancelled = done >= 10; }, cancelled);
  EXPECT_EQ(report.moved, std::vector<std::string>(files.begin(), files.begin() + 10));
  EXPECT_EQ(std::make_pair(report.problems.size(), report.notTried), std::make_pair(size_t{0}, size_t{50}));
  EXPECT_EQ(project.list("img").size(), 51u);
  EXPECT_EQ(data.list("Trash/files").size(), 2u);  // an entry of its own, named apart by the trash
  EXPECT_EQ(data.list("Trash/info").size(), 2u);
}

// A disk that runs full, at the note or at a rename into the folder: no file is moved, none is left
// in a folder of the project, no note is left in the trash, and every file says what failed and why.
// The note is written, flushed, before any file moves.
struct FullDisk : FileOps {
  const testing::TempFolder* project = nullptr;
  int renamesLeft = 1 << 30;  // then the disk is full
  bool failNote = false, noteFlushed = false;
  size_t filesAtNote = 0;
  Status createFile(const std::filesystem::path& path, std::string_view data, unsigned mode, FileStamp* stamp,
                    bool flush) override {
    filesAtNote = project->list("img").size();
    noteFlushed = flush;
    if (failNote) return Status::failure("No space left on device", ENOSPC);
    return FileOps::createFile(path, data, mode, stamp, flush);
  }
  Status rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
    if (--renamesLeft < 0) return Status::failure("No space left on device", ENOSPC);
    return FileOps::rename(from, to);
  }
};

TEST_F(TrashTest, AFullDiskMovesNothingAndNamesWhatFailed) {
  struct Case {
    bool failNote;
    int renames;
    std::string reason;
  };
  const std::string note = (data.path() / "Trash/info").string() + "/unused images ";
  for (const Case& c :
       {Case{true, 1 << 30, "the trash's note " + note},
        Case{false, 2, "the disk is full: img/c could not be moved into the folder unused images "}}) {
    for (const char* name : {"a", "b", "c", "d"}) project.write(std::string("img/") + name, name);
    FullDisk disk;
    disk.project = &project;
    disk.failNote = c.failNote;
    disk.renamesLeft = c.renames;
    const TrashReport report =
        trashFiles(ProjectFolder(project.path(), &disk), {"img/a", "img/b", "img/c", "img/d"}, {}, false);
    EXPECT_TRUE(disk.noteFlushed);
    EXPECT_EQ(disk.filesAtNote, 4u);
    EXPECT_TRUE(report.moved.empty());
    ASSERT_EQ(report.problems.size(), 4u) << c.reason;
    for (const Problem& p : report.problems) {
      EXPECT_EQ(p.reason.rfind("was not moved to the trash: " + c.reason, 0), 0u) << p.reason;
      EXPECT_NE(p.reason.find("No space left on device"), std::string::npos) << p.reason;
    }
    EXPECT_EQ(project.list("img"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(project.list(""), std::vector<std::string>{"img"});
    EXPECT_EQ(data.list("Trash/files"), std::vector<std::string>{});
    EXPECT_EQ(data.list("Trash/info"), std::vector<std::string>{});
  }
}

// What a clean-up killed mid-way leaves in the project is found for the next open; folders of other
// names, files and links are not.
TEST_F(TrashTest, FindsTheFoldersOfAStoppedCleanUp) {
  project.write("unused images 2024-05-01 10.22.33/img/a1", "a");
  project.write("unused images 2024-05-01 10.22.33/img/b2", "b");
  project.write("unused images 2024-05-01 10.22.33 (2)/img/c3", "c");
  project.write("unused images 2024-05-01 10.22.3/img/x", "x");
  project.write("unused images 2024-05-01 10.22.33 (2)x/img/x", "x");
  project.write("unused images 2024-05-01 10.22.34", "a file");
  std::filesystem::create_directory_symlink(project.path() / "img",
                                            project.path() / "unused images 2024-05-01 10.22.35");
  const std::vector<Problem> found = findCleanUpLeftovers(ProjectFolder(project.path()));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].file, "unused images 2024-05-01 10.22.33/");
  EXPECT_EQ(found[1].file, "unused images 2024-05-01 10.22.33 (2)/");
  EXPECT_NE(found[0].reason.find("holds 2 file(s)"), std::string::npos) << found[0].reason;
  EXPECT_NE(found[1].reason.find("holds 1 file(s)"), std::string::npos) << found[1].reason;
}

}  // namespace
}  // namespace charstack

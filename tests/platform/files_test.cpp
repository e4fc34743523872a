#include "platform/files.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::TempFolder;

TEST(ProjectFolder, ReadsWholeFilesAndNothingElse) {
  TempFolder tmp;
  ProjectFolder folder(tmp.path());
  std::string bytes("with\0zero\r\n", 11);
  bytes += std::string(200000, 'x');  // more than one read
  tmp.write("data", bytes);
  tmp.write("empty", "");
  tmp.write("sub/inner", "1");
  EXPECT_EQ(folder.readFile("data"), bytes);
  EXPECT_EQ(folder.readFile("empty"), std::string());
  EXPECT_EQ(folder.readFile("sub/inner"), "1");
  EXPECT_EQ(folder.readFile("missing"), std::nullopt);
  EXPECT_EQ(folder.readFile("sub"), std::nullopt);
  EXPECT_TRUE(folder.fileExists("data"));
  EXPECT_FALSE(folder.fileExists("missing"));
  EXPECT_FALSE(folder.fileExists("sub"));
}

TEST(ProjectFolder, AtomicWriteReplacesContentAndLeavesNoTemporaryFile) {
  TempFolder tmp;
  ProjectFolder folder(tmp.path());
  tmp.write("project", "old content that is longer than the new one");
  ASSERT_TRUE(folder.writeFileAtomically("project", "new").ok());
  EXPECT_EQ(tmp.read("project"), "new");
  ASSERT_TRUE(folder.writeFileAtomically("fresh", std::string("\0\xff", 2)).ok());
  EXPECT_EQ(tmp.read("fresh"), std::string("\0\xff", 2));
  ASSERT_TRUE(folder.writeFileAtomically("blank", "").ok());
  EXPECT_TRUE(tmp.exists("blank"));
  EXPECT_EQ(tmp.list(""), (std::vector<std::string>{"blank", "fresh", "project"}));
}

TEST(ProjectFolder, AtomicWriteWithALongNameUsesAShortTemporaryName) {
  TempFolder tmp;
  ProjectFolder folder(tmp.path());
  std::string name(250, 'n');  // "." + name + ".tmp-XXXXXX" would pass the file name limit
  ASSERT_TRUE(folder.writeFileAtomically(name, "long").ok());
  EXPECT_EQ(tmp.read(name), "long");
  EXPECT_EQ(tmp.list(""), std::vector<std::string>{name});
}

TEST(ProjectFolder, AtomicWriteFailuresSayWhyAndCleanUp) {
  TempFolder tmp;
  ProjectFolder folder(tmp.path());
  Status missing = folder.writeFileAtomically("nowhere/file", "x");
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.error.find("No such file or directory"), std::string::npos) << missing.error;

  // A folder in the way of the rename: the temporary file must not stay behind.
  ASSERT_TRUE(folder.createFolder("taken/inside").ok());
  Status blocked = folder.writeFileAtomically("taken", "x");
  EXPECT_FALSE(blocked.ok());
  EXPECT_FALSE(blocked.error.empty());
  EXPECT_EQ(tmp.list(""), std::vector<std::string>{"taken"});

  if (geteuid() != 0) {  // root writes through missing permissions
    tmp.write("locked/file", "keep");
    std::filesystem::permissions(tmp.path() / "locked", std::filesystem::perms::owner_read |
                                                            std::filesystem::perms::owner_exec);
    Status denied = folder.writeFileAtomically("locked/file", "new");
    EXPECT_NE(denied.error.find("Permission denied"), std::string::npos) << denied.error;
    EXPECT_EQ(tmp.read("locked/file"), "keep");
  }
}

TEST(ProjectFolder, RemoveAndCreateFolder) {
  TempFolder tmp;
  ProjectFolder folder(tmp.path());
  tmp.write("gone", "x");
  EXPECT_TRUE(folder.removeFile("gone").ok());
  EXPECT_FALSE(tmp.exists("gone"));
  EXPECT_TRUE(folder.removeFile("gone").ok());
  EXPECT_TRUE(folder.removeFile("never/was").ok());

  EXPECT_TRUE(folder.createFolder("a/b/c").ok());
  EXPECT_TRUE(std::filesystem::is_directory(tmp.path() / "a/b/c"));
  EXPECT_TRUE(folder.createFolder("a/b").ok());
  tmp.write("plain", "x");
  EXPECT_FALSE(folder.createFolder("plain").ok());
  EXPECT_FALSE(folder.createFolder("plain/below").ok());
}

}  // namespace
}  // namespace charstack

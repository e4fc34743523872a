// Files inside a project folder: whole reads, atomic writes, writes prepared ahead and committed in
// order, and their failures.
#include "platform/files.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/parallel.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::TempFolder;
using Names = std::vector<std::string>;

TEST(ProjectFolder, AtomicWriteReplacesContentLeavesNoTemporaryFileAndReadsBackWholeFiles) {
  TempFolder tmp;
  ProjectFolder folder(tmp.path());
  tmp.write("project", "old content that is longer than the new one");
  const std::string longName(250, 'n');  // "." + name + ".tmp-XXXXXX" would pass the file name limit
  const std::pair<std::string, std::string> writes[] = {
      {"project", "new"},
      {"blank", ""},
      {longName, "long"},
      {"binary", std::string("with\0zero\r\n\xff", 12) + std::string(200000, 'x')}};  // more than one read
  for (const auto& [name, bytes] : writes) {
    ASSERT_TRUE(folder.writeFileAtomically(name, bytes).ok()) << name;
    EXPECT_EQ(tmp.read(name), bytes);
    EXPECT_EQ(folder.readFile(name), bytes);
  }
  EXPECT_EQ(tmp.list(""), (Names{"binary", "blank", longName, "project"}));
  tmp.write("sub/inner", "1");
  EXPECT_EQ(folder.readFile("missing"), std::nullopt);
  EXPECT_EQ(folder.readFile("sub"), std::nullopt);
  EXPECT_TRUE(folder.fileExists("sub/inner"));
  EXPECT_FALSE(folder.fileExists("sub"));
}

TEST(ProjectFolder, WriteFailuresSayWhyKeepTheOldBytesAndCleanUp) {
  TempFolder tmp;
  ProjectFolder folder(tmp.path());
  Status missing = folder.writeFileAtomically("nowhere/file", "x");
  EXPECT_NE(missing.error.find("No such file or directory"), std::string::npos) << missing.error;

  // A folder in the way of the rename: the temporary file must not stay behind.
  ASSERT_TRUE(folder.createFolder("taken/inside").ok());
  EXPECT_FALSE(folder.writeFileAtomically("taken", "x").error.empty());
  EXPECT_EQ(tmp.list(""), Names{"taken"});

  if (geteuid() != 0) {  // root writes through missing permissions
    tmp.write("locked/file", "keep");
    std::filesystem::permissions(tmp.path() / "locked",
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    Status denied = folder.writeFileAtomically("locked/file", "new");
    EXPECT_NE(denied.error.find("Permission denied"), std::string::npos) << denied.error;
    EXPECT_EQ(tmp.read("locked/file"), "keep");
  }

  // Removing what is not there and creating what is there already are no failures.
  EXPECT_TRUE(folder.removeFile("plain").ok());
  EXPECT_TRUE(folder.removeFile("never/was").ok());
  EXPECT_TRUE(folder.createFolder("a/b/c").ok());
  EXPECT_TRUE(folder.createFolder("a/b").ok());
  tmp.write("plain", "x");
  EXPECT_FALSE(folder.createFolder("plain").ok());
  EXPECT_FALSE(folder.createFolder("plain/below").ok());
}

TEST(ProjectFolder, PreparedWriteChangesTheTargetOnlyAtCommitAndOtherwiseLeavesNothing) {
  TempFolder dir;
  dir.write("img/a", "old");
  ProjectFolder folder(dir.path());
  {
    ProjectFolder::PreparedWrite write = folder.prepareWrite("img/a", "new bytes");
    ASSERT_TRUE(write.status().ok());
    EXPECT_EQ(dir.read("img/a"), "old");
    ProjectFolder::PreparedWrite moved;
    {
      ProjectFolder::PreparedWrite discarded = folder.prepareWrite("img/b", "never");
      moved = std::move(discarded);
    }
    EXPECT_EQ(dir.list("img").size(), 3u);  // the moved-from write removed nothing
    ASSERT_TRUE(folder.commitWrite(write).ok());
    EXPECT_EQ(dir.read("img/a"), "new bytes");
    EXPECT_FALSE(folder.commitWrite(write).ok());  // a write is committed once
  }
  EXPECT_EQ(dir.list("img"), Names{"a"});
  EXPECT_TRUE(folder.syncFolder("img").ok());

  ProjectFolder::PreparedWrite failed = folder.prepareWrite("missing/c", "x");
  EXPECT_FALSE(failed.status().ok());
  Status s = folder.commitWrite(failed);
  EXPECT_EQ(s.error, "No such file or directory");
  EXPECT_FALSE(dir.exists("missing"));
}

TEST(OrderedPipeline, ConsumesInOrderAfterPrepareAndStaysWithinItsLead) {
  for (size_t threads : {1u, 4u}) {
    constexpr size_t kCount = 200, kAhead = 3;
    std::vector<std::atomic<int>> prepared(kCount);
    std::atomic<size_t> consumed{0};
    std::vector<size_t> order;
    orderedPipeline(
        kCount, threads, kAhead,
        [&](size_t i) {
          EXPECT_LT(i, consumed.load() + kAhead) << "started too far ahead";
          prepared[i] = 1;
        },
        [&](size_t i) {
          EXPECT_EQ(prepared[i].load(), 1) << i;
          order.push_back(i);
          consumed = i + 1;
        });
    ASSERT_EQ(order.size(), kCount) << threads;
    for (size_t i = 0; i < kCount; ++i) EXPECT_EQ(order[i], i);
  }
  // A consumer that throws stops the workers and the exception reaches the caller.
  auto consume = [](size_t i) {
    if (i == 7) throw std::runtime_error("x");
  };
  auto none = [](size_t) {};
  EXPECT_THROW(orderedPipeline(50, 4, 4, none, consume), std::runtime_error);
}

}  // namespace
}  // namespace charstack

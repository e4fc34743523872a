#include <gtest/gtest.h>

#include "project/project_io.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::character;
using testing::layer;
using testing::TempFolder;
using testing::testImage;
using testing::testPng;

const char* kWorkedExample =
    "Hero,100, 10, 20\n####\nArm,150,1, 5, 0\nArm,120,0, -3, 12\n$$$$\nSlime,100, 200, 40\n####\n$$$$\n";

struct Project {
  CharacterList list;
  EditorState state;
};

Project load(const TempFolder& dir) {
  LoadResult r = loadProject(ProjectFolder(dir.path()));
  Project p;
  p.list = std::move(r.list);
  p.state.unreadableImageFiles = std::move(r.unreadableImageFiles);
  p.state.dataFileUnreadable = r.dataFileUnreadable;
  return p;
}

SaveReport save(const TempFolder& dir, Project& p) { return saveProject(p.list, p.state, ProjectFolder(dir.path())); }

TEST(Save, WorkedExampleRoundTripsByteForByteAndPixelForPixel) {
  TempFolder dir;
  dir.write("data.txt", kWorkedExample);
  dir.write("img/Hero1", testPng(8, 6, 1));
  dir.write("img/Arm2", testPng(5, 5, 2));
  dir.write("img/Arm3", testPng(4, 7, 3));
  dir.write("img/Slime4", testPng(9, 3, 4));
  Project p = load(dir);
  SaveReport report = save(dir, p);
  EXPECT_TRUE(report.ok());
  EXPECT_TRUE(report.dataFileWritten);
  EXPECT_EQ(dir.read("data.txt"), kWorkedExample);
  EXPECT_EQ(dir.list("img"), (std::vector<std::string>{"Arm2", "Arm3", "Hero1", "Slime4"}));

  Project again = load(dir);
  ASSERT_EQ(again.list.size(), 2);
  EXPECT_EQ(buildDataText(again.list), kWorkedExample);
  EXPECT_TRUE(again.list.characters[0].layers[1].image->samePixels(*testImage(4, 7, 3)));
  EXPECT_TRUE(again.list.characters[1].image->samePixels(*testImage(9, 3, 4)));
}

TEST(Save, LineFormatsFullValueAndEmptyLayerBlocks) {
  TempFolder dir;
  Project p;
  Character c = character("新キャラ");
  c.value = 5000000000LL;  // written in full, read back clamped
  c.x = -2147483647 - 1;
  c.y = 2147483647;
  Layer l = layer("L");
  l.value = -1;
  l.visible = 1;
  l.x = 3;
  l.y = -4;
  c.layers.push_back(l);
  p.list.characters.push_back(c);
  p.list.characters.push_back(character("Empty"));
  ASSERT_TRUE(save(dir, p).ok());
  EXPECT_EQ(dir.read("data.txt"),
            "新キャラ,5000000000, -2147483648, 2147483647\n####\nL,-1,1, 3, -4\n$$$$\nEmpty,0, 0, 0\n####\n$$$$\n");
  EXPECT_EQ(load(dir).list.characters[0].value, 2147483647);
}

TEST(Save, RenameAndRenumberMoveFilesAndSavedNamesFollow) {
  TempFolder dir;
  Project p;
  p.list.characters.push_back(character("A", testImage(2, 2, 1)));
  p.list.characters.push_back(character("B", testImage(2, 2, 2)));
  ASSERT_TRUE(save(dir, p).ok());
  EXPECT_EQ(dir.list("img"), (std::vector<std::string>{"A1", "B2"}));
  EXPECT_EQ(p.list.characters[0].savedName, "A");

  // Renaming removes the file under the old name at the record's number.
  p.list.characters[0].name = "Z";
  ASSERT_TRUE(save(dir, p).ok());
  EXPECT_EQ(dir.list("img"), (std::vector<std::string>{"B2", "Z1"}));

  // A record inserted in front shifts the numbers; the files under the former numbers stay.
  p.list.characters.insert(p.list.characters.begin(), character("N", testImage(2, 2, 3)));
  ASSERT_TRUE(save(dir, p).ok());
  EXPECT_EQ(dir.list("img"), (std::vector<std::string>{"B2", "B3", "N1", "Z1", "Z2"}));
  Project again = load(dir);
  EXPECT_TRUE(again.list.characters[2].image->samePixels(*testImage(2, 2, 2)));
}

TEST(Save, PendingDeletionsGoFirstAndAreConsumed) {
  TempFolder dir;
  dir.write("img/Gone5", testPng(2, 2, 1));
  dir.write("img/Keep1", testPng(2, 2, 2));
  Project p;
  p.list.characters.push_back(character("Keep", testImage(2, 2, 2)));
  p.state.pendingImageDeletions = {"Gone5", "Missing9", "Keep1"};  // Keep1 is rewritten right after
  ASSERT_TRUE(save(dir, p).ok());
  EXPECT_TRUE(p.state.pendingImageDeletions.empty());
  EXPECT_EQ(dir.list("img"), std::vector<std::string>{"Keep1"});
}

TEST(Save, EmptyProjectDeletesPendingAndEmptiesDataFile) {
  TempFolder dir;
  dir.write("data.txt", "Old,1, 0, 0\n####\n$$$$\n");
  dir.write("img/Old1", testPng(2, 2, 1));
  Project p;
  p.state.pendingImageDeletions = {"Old1"};
  SaveReport r = save(dir, p);
  EXPECT_TRUE(r.ok());
  EXPECT_TRUE(dir.list("img").empty());
  // The removed characters must not come back at the next start.
  EXPECT_EQ(dir.read("data.txt"), "");
  EXPECT_TRUE(load(dir).list.empty());

  TempFolder fresh;
  Project none;
  EXPECT_TRUE(save(fresh, none).ok());
  EXPECT_FALSE(fresh.exists("data.txt"));  // no file for a project that never had one
  EXPECT_TRUE(fresh.exists("img"));
}

TEST(Save, RecordWithoutImageLeavesNoFileBehindForAnyone) {
  TempFolder dir;
  dir.write("img/New1", testPng(2, 2, 7));  // stale, from an earlier project
  dir.write("img/Old2", testPng(2, 2, 8));
  Project p;
  p.list.characters.push_back(character("New"));
  Character old = character("Old");
  old.savedName = "Old";
  old.layers.push_back(layer("L"));
  p.list.characters[0].layers.clear();
  p.list.characters.push_back(old);
  ASSERT_TRUE(save(dir, p).ok());
  EXPECT_TRUE(dir.list("img").empty());
  Project again = load(dir);
  EXPECT_FALSE(again.list.characters[0].image);
}

TEST(Save, SameNamesGetDifferentFilesButCollidingFileNamesRefuseTheSave) {
  TempFolder dir;
  Project p;
  p.list.characters.push_back(character("Twin", testImage(2, 2, 1)));
  p.list.characters.push_back(character("Twin", testImage(2, 2, 2)));
  ASSERT_TRUE(save(dir, p).ok());
  EXPECT_EQ(dir.list("img"), (std::vector<std::string>{"Twin1", "Twin2"}));

  // "A1" at number 1 and "A" at number 11 both give img/A11.
  TempFolder clash;
  clash.write("data.txt", "before\n");
  Project q;
  q.list.characters.push_back(character("A1", testImage(2, 2, 1)));
  for (int i = 0; i < 9; ++i) q.list.characters.push_back(character("x" + std::to_string(i)));
  q.list.characters.push_back(character("A", testImage(2, 2, 2)));
  q.state.pendingImageDeletions = {"x5"};
  SaveReport r = save(clash, q);
  EXPECT_TRUE(r.refused);
  EXPECT_FALSE(r.dataFileWritten);
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_EQ(r.problems[0].file, "img/A11");
  EXPECT_NE(r.problems[0].reason.find("\"A1\""), std::string::npos);
  EXPECT_NE(r.problems[0].reason.find("\"A\""), std::string::npos);
  EXPECT_EQ(clash.read("data.txt"), "before\n");
  EXPECT_FALSE(clash.exists("img"));
  EXPECT_EQ(q.state.pendingImageDeletions.size(), 1u);  // kept for the save that works
}

TEST(Save, NamesTheFormatCannotHoldRefuseTheWholeSave) {
  for (const char* bad : {"a,b", "two\nlines", "x####", "$$$$"}) {
    TempFolder dir;
    dir.write("data.txt", "before\n");
    Project p;
    p.list.characters.push_back(character("fine", testImage(2, 2, 1)));
    Character c = character("host");
    c.layers.push_back(layer(bad));
    p.list.characters.push_back(c);
    SaveReport r = save(dir, p);
    EXPECT_TRUE(r.refused) << bad;
    ASSERT_EQ(r.problems.size(), 1u) << bad;
    EXPECT_NE(r.problems[0].file.find("layer 1"), std::string::npos) << r.problems[0].file;
    EXPECT_EQ(dir.read("data.txt"), "before\n");
    EXPECT_FALSE(dir.exists("img/fine1"));
  }
}

TEST(Save, UnsafeNameKeepsItsLineButTouchesNoFile) {
  TempFolder dir;
  dir.write("data.txt", "../victim,1, 0, 0\n####\n$$$$\nok,1, 0, 0\n####\n$$$$\n");
  dir.write("victim1", "precious");
  dir.write("img/ok2", testPng(2, 2, 1));
  Project p = load(dir);
  p.list.characters[0].image = testImage(2, 2, 5);  // even with a picture, nothing is written for it
  p.state.pendingImageDeletions = {"../victim1", "a/b"};
  SaveReport r = save(dir, p);
  EXPECT_FALSE(r.ok());
  EXPECT_TRUE(r.dataFileWritten);
  EXPECT_EQ(r.problems.size(), 3u);
  EXPECT_EQ(dir.read("victim1"), "precious");
  EXPECT_EQ(dir.read("data.txt"), "../victim,1, 0, 0\n####\n$$$$\nok,1, 0, 0\n####\n$$$$\n");
  EXPECT_EQ(dir.list("img"), std::vector<std::string>{"ok2"});
}

TEST(Save, UnreadableImageFileIsNeverDeleted) {
  TempFolder dir;
  dir.write("data.txt", "A,1, 0, 0\n####\n$$$$\nB,1, 0, 0\n####\n$$$$\n");
  dir.write("img/A1", "not a picture, but someone's file");
  dir.write("img/B2", "also unreadable");
  Project p = load(dir);
  ASSERT_EQ(p.state.unreadableImageFiles.size(), 2u);
  ASSERT_TRUE(save(dir, p).ok());  // record without image: its unreadable file stays
  EXPECT_EQ(dir.read("img/A1"), "not a picture, but someone's file");

  p.list.characters[0].name = "Renamed";  // the old file is not removed either
  p.state.pendingImageDeletions = {"B2"};  // nor by a removal
  SaveReport r = save(dir, p);
  EXPECT_EQ(dir.read("img/A1"), "not a picture, but someone's file");
  EXPECT_EQ(dir.read("img/B2"), "also unreadable");
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_EQ(r.problems[0].file, "img/B2");

  // Not even a picture the user gives the record replaces the unreadable file.
  p.list.characters[1].image = testImage(3, 3, 3);
  EXPECT_FALSE(save(dir, p).ok());
  EXPECT_EQ(dir.read("img/B2"), "also unreadable");
}

TEST(Save, OldFileOfARenamedRecordIsNotRemovedWhenAnotherRecordNowWritesIt) {
  TempFolder dir;
  Project p;
  // Record 1 "A1" writes img/A11; record 11 was saved as "A" (img/A11) and is now renamed.
  p.list.characters.push_back(character("A1", testImage(2, 2, 1)));
  for (int i = 0; i < 9; ++i) p.list.characters.push_back(character("x" + std::to_string(i)));
  Character renamed = character("B", testImage(2, 2, 2));
  renamed.savedName = "A";
  p.list.characters.push_back(renamed);
  ASSERT_TRUE(save(dir, p).ok());
  Project again = load(dir);
  ASSERT_TRUE(again.list.characters[0].image);
  EXPECT_TRUE(again.list.characters[0].image->samePixels(*testImage(2, 2, 1)));
  EXPECT_TRUE(again.list.characters[10].image->samePixels(*testImage(2, 2, 2)));
}

TEST(Save, OldFilesStayUntilTheNewDataFileIsWritten) {
  TempFolder dir;
  Project p;
  p.list.characters.push_back(character("Hero", testImage(2, 2, 1)));
  p.list.characters.push_back(character("Bare"));
  ASSERT_TRUE(save(dir, p).ok());
  dir.write("img/Bare2", testPng(2, 2, 5));  // a stale picture the next save would remove

  p.list.characters[0].name = "Knight";
  std::filesystem::remove(dir.path() / "data.txt");
  dir.write("data.txt/blocker", "");  // a folder in its place: "data.txt" cannot be replaced now
  SaveReport failed = save(dir, p);
  EXPECT_FALSE(failed.dataFileWritten);
  ASSERT_EQ(failed.problems.size(), 1u);
  EXPECT_EQ(failed.problems[0].file, "data.txt");
  // The "data.txt" on disk still names Hero, so Hero's picture must still be there.
  EXPECT_EQ(dir.list("img"), (std::vector<std::string>{"Bare2", "Hero1", "Knight1"}));
  EXPECT_EQ(p.list.characters[0].savedName, "Hero");

  std::filesystem::remove_all(dir.path() / "data.txt");
  ASSERT_TRUE(save(dir, p).ok());
  EXPECT_EQ(dir.list("img"), std::vector<std::string>{"Knight1"});
  EXPECT_EQ(p.list.characters[0].savedName, "Knight");
}

TEST(Save, SavingTwiceWritesTheSameFiles) {
  TempFolder dir;
  dir.write("data.txt", kWorkedExample);
  dir.write("img/Hero1", testPng(8, 6, 1));
  Project p = load(dir);
  ASSERT_TRUE(save(dir, p).ok());
  std::string text = dir.read("data.txt");
  std::string png = dir.read("img/Hero1");
  ASSERT_TRUE(save(dir, p).ok());
  EXPECT_EQ(dir.read("data.txt"), text);
  EXPECT_EQ(dir.read("img/Hero1"), png);
  EXPECT_EQ(dir.list("img"), std::vector<std::string>{"Hero1"});
}

}  // namespace
}  // namespace charstack

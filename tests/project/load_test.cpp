#include <gtest/gtest.h>

#include "controller/init_layer.hpp"
#include "project/project_io.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::RecordingObserver;
using testing::TempFolder;
using testing::testImage;
using testing::testPng;

const char* kWorkedExample =
    "Hero,100, 10, 20\n"
    "####\n"
    "Arm,150,1, 5, 0\n"
    "Arm,120,0, -3, 12\n"
    "$$$$\n"
    "Slime,100, 200, 40\n"
    "####\n"
    "$$$$\n";

// A project folder holding the worked example with a distinct picture for every record.
void writeWorkedExample(const TempFolder& folder) {
  folder.write("data.txt", kWorkedExample);
  folder.write("img/Hero1", testPng(8, 6, 1));
  folder.write("img/Arm2", testPng(5, 5, 2));
  folder.write("img/Arm3", testPng(4, 7, 3));
  folder.write("img/Slime4", testPng(9, 3, 4));
}

TEST(Load, WorkedExampleGivesRecordsNumbersImagesAndMirrors) {
  TempFolder dir;
  writeWorkedExample(dir);
  CharacterList list;
  EditorState state;
  testing::FakeTimerService timers;
  RecordingObserver notices;
  InitLayer controller(list, state, ProjectFolder(dir.path()), timers, &notices);

  ASSERT_EQ(list.size(), 2);
  const Character& hero = list.characters[0];
  EXPECT_EQ(hero.name, "Hero");
  EXPECT_EQ(hero.savedName, "Hero");
  EXPECT_EQ(hero.value, 100);
  EXPECT_EQ(hero.x, 10);
  EXPECT_EQ(hero.y, 20);
  ASSERT_EQ(hero.layers.size(), 2u);
  EXPECT_EQ(hero.layers[0].name, "Arm");
  EXPECT_EQ(hero.layers[0].value, 150);
  EXPECT_EQ(hero.layers[0].visible, 1);
  EXPECT_EQ(hero.layers[0].x, 5);
  EXPECT_EQ(hero.layers[0].y, 0);
  EXPECT_EQ(hero.layers[1].value, 120);
  EXPECT_EQ(hero.layers[1].visible, 0);
  EXPECT_EQ(hero.layers[1].x, -3);
  EXPECT_EQ(hero.layers[1].y, 12);
  const Character& slime = list.characters[1];
  EXPECT_EQ(slime.name, "Slime");
  EXPECT_TRUE(slime.layers.empty());
  EXPECT_EQ(list.characterRecordNumber(1), 4);

  // Each record holds the picture of its own file: two layers with the same name get different files.
  ASSERT_TRUE(hero.image && hero.layers[0].image && hero.layers[1].image && slime.image);
  EXPECT_TRUE(hero.image->samePixels(*testImage(8, 6, 1)));
  EXPECT_TRUE(hero.layers[0].image->samePixels(*testImage(5, 5, 2)));
  EXPECT_TRUE(hero.layers[1].image->samePixels(*testImage(4, 7, 3)));
  EXPECT_TRUE(slime.image->samePixels(*testImage(9, 3, 4)));

  ASSERT_EQ(controller.MA1.size(), 2u);
  EXPECT_EQ(controller.MA1[0], characterRow(hero));
  EXPECT_EQ(*controller.MA1[1].name, "Slime");
  EXPECT_EQ(*controller.MA1[1].value, "100");
  EXPECT_FALSE(controller.MA1[1].visible);
  ASSERT_EQ(controller.MA2.size(), 2u);
  EXPECT_EQ(*controller.MA2[0].visible, "1");
  EXPECT_EQ(*controller.MA2[1].visible, "0");
  EXPECT_EQ(*controller.MA2[1].value, "120");
  EXPECT_EQ(controller.MA2[1].img, hero.layers[1].image);

  std::vector<std::string> expected = {"will MA1", "did MA1", "will MA2", "did MA2", "will MA2",
                                       "did MA2",  "will MA1", "did MA1"};
  EXPECT_EQ(notices.log, expected);
  EXPECT_EQ(state.selectedCharacterRow, 0);
  EXPECT_EQ(state.selectedLayerRow, 0);
  EXPECT_TRUE(state.pendingImageDeletions.empty());
  EXPECT_TRUE(controller.loadProblems().empty());
  EXPECT_FALSE(controller.hasUnsavedChanges());
  ASSERT_EQ(timers.entries.size(), 1u);
  EXPECT_EQ(timers.entries[0]->interval, static_cast<double>(0.01f));
}

TEST(Load, MissingOrLineFeedFreeFileGivesEmptyProject) {
  for (const char* content : {static_cast<const char*>(nullptr), "", "Hero,100, 10, 20"}) {
    TempFolder dir;
    if (content) dir.write("data.txt", content);
    LoadResult r = loadProject(ProjectFolder(dir.path()));
    EXPECT_TRUE(r.list.empty());
    EXPECT_EQ(r.problems.size(), content && *content ? 1u : 0u);  // text without records is reported
  }
}

TEST(Parse, LastPieceAfterFinalLineFeedIsNeverRead) {
  ParsedProject p = parseDataText("A,1, 0, 0\n####\n$$$$\nB,2, 3, 4");
  ASSERT_EQ(p.list.size(), 1);
  EXPECT_EQ(p.list.characters[0].name, "A");
}

TEST(Parse, MarkersAnywhereInLineAndBothMarkersOpenABlock) {
  ParsedProject p = parseDataText(
      "A,1, 0, 0\n"
      "x####y\n"        // opens
      "L1,5,1, 1, 1\n"
      "a$$$$b\n"        // closes
      "B,2, 0, 0\n"
      "$$$$ and ####\n" // both: opens
      "L2,6,1, 2, 2\n"
      "$$$$\n");
  ASSERT_EQ(p.list.size(), 2);
  ASSERT_EQ(p.list.characters[0].layers.size(), 1u);
  ASSERT_EQ(p.list.characters[1].layers.size(), 1u);
  EXPECT_EQ(p.list.characters[1].layers[0].name, "L2");
  EXPECT_EQ(p.list.characterRecordNumber(1), 3);  // marker lines take no number
}

TEST(Parse, FieldsByPositionNumbersAndVisibility) {
  ParsedProject p = parseDataText(
      "Name with spaces ,99999999999, -5x, 7\r\n"  // clamped value, trailing garbage ignored
      "####\n"
      "A,1,2, 3, 4,extra,fields\n"
      "B,1,-1, 0, 0\n"
      "C,1,abc, 0, 0\n"
      "D,-99999999999\n"  // too few fields: the rest reads as 0
      "$$$$\n"
      "E,7,1, 8\n"        // a layer-shaped line outside a block is a character line
      "\n"                // blank lines hold no record
      "####\n$$$$\n");
  ASSERT_EQ(p.list.size(), 2);
  const Character& c = p.list.characters[0];
  EXPECT_EQ(c.name, "Name with spaces ");
  EXPECT_EQ(c.value, 2147483647);
  EXPECT_EQ(c.x, -5);
  EXPECT_EQ(c.y, 7);
  ASSERT_EQ(c.layers.size(), 4u);
  EXPECT_EQ(c.layers[0].visible, 1);
  EXPECT_EQ(c.layers[0].x, 3);
  EXPECT_EQ(c.layers[0].y, 4);
  EXPECT_EQ(c.layers[1].visible, 1);
  EXPECT_EQ(c.layers[2].visible, 0);
  EXPECT_EQ(c.layers[3].value, -2147483648LL);
  EXPECT_EQ(c.layers[3].visible, 0);
  EXPECT_EQ(c.layers[3].x, 0);
  const Character& e = p.list.characters[1];
  EXPECT_EQ(e.value, 7);
  EXPECT_EQ(e.x, 1);  // the visible field became x
  EXPECT_EQ(e.y, 8);
  EXPECT_EQ(p.list.characterRecordNumber(1), 6);
}

TEST(Parse, LayersBeforeAnyCharacterAreSkippedAndTakeNoNumber) {
  ParsedProject p = parseDataText("####\nStray,1,1, 0, 0\n$$$$\nA,1, 0, 0\n####\nL,1,1, 0, 0\n$$$$\n");
  ASSERT_EQ(p.list.size(), 1);
  EXPECT_EQ(p.list.characters[0].name, "A");
  EXPECT_EQ(p.list.layerRecordNumber(0, 0), 2);
}

TEST(Load, InvalidUtf8IsKeptAndReported) {
  TempFolder dir;
  dir.write("data.txt", "H\xff" "ero,1, 0, 0\n####\n$$$$\n");
  LoadResult r = loadProject(ProjectFolder(dir.path()));
  ASSERT_EQ(r.list.size(), 1);
  EXPECT_EQ(r.list.characters[0].name, "H\xff" "ero");
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_EQ(r.problems[0].file, "data.txt");
}

TEST(Load, UndecodableImageIsRememberedAndReported) {
  TempFolder dir;
  dir.write("data.txt", "A,1, 0, 0\n####\nB,1,1, 0, 0\n$$$$\n");
  dir.write("img/A1", "this is not an image");
  dir.write("img/B2", testPng(3, 3, 9));
  LoadResult r = loadProject(ProjectFolder(dir.path()));
  ASSERT_EQ(r.list.size(), 1);
  EXPECT_FALSE(r.list.characters[0].image);
  EXPECT_TRUE(r.list.characters[0].layers[0].image);
  EXPECT_EQ(r.unreadableImageFiles, std::set<std::string>{"A1"});
  ASSERT_EQ(r.problems.size(), 1u);
  EXPECT_EQ(r.problems[0].file, "img/A1");
}

}  // namespace
}  // namespace charstack

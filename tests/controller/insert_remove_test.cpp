#include "controller/controller_fixture.hpp"

namespace charstack {
namespace {

using testing::ControllerTest;
using testing::kThreeCharacters;
using Strings = std::vector<std::string>;

TEST_F(ControllerTest, InsertCharacterIntoEmptyProject) {
  start();
  controller->insert1();
  ASSERT_EQ(list.size(), 1);
  EXPECT_EQ(list.characters[0].name, "新キャラ");
  EXPECT_EQ(list.characters[0].value, 100);
  EXPECT_FALSE(list.characters[0].savedName);
  ASSERT_EQ(controller->MA1.size(), 1u);
  RowDictionary expected;
  expected.name = "新キャラ";
  expected.value = "100";
  EXPECT_EQ(controller->MA1[0], expected);
  EXPECT_EQ(ac1.indexes, std::vector<int64_t>{999});
  EXPECT_EQ(notices.log, pairs("MA1", 1));

  notices.log.clear();
  controller->insert2();  // inserts into the new character, with one pair of notices
  EXPECT_EQ(notices.log, pairs("MA2", 1));
  EXPECT_EQ(list.characters[0].layers.size(), 1u);
  notices.log.clear();
  CharacterList emptyList;
  EditorState emptyState;
  testing::TempFolder emptyDir;
  InitLayer empty(emptyList, emptyState, ProjectFolder(emptyDir.path()), timers, &notices);
  empty.insert2();  // no characters: nothing at all
  EXPECT_TRUE(emptyList.empty());
  EXPECT_TRUE(empty.MA2.empty());
  EXPECT_TRUE(notices.log.empty());
}

TEST_F(ControllerTest, InsertionRowsFollowTheSelection) {
  open(kThreeCharacters, false);
  clickCharacter(-1);
  controller->insert1();  // appended
  controller->insert1();  // appended after it
  EXPECT_EQ(names(), (Strings{"Hero", "Mage", "Wolf", "新キャラ", "新キャラ"}));
  EXPECT_EQ(state.selectedCharacterRow, -1);

  clickCharacter(2);
  controller->insert1();
  controller->insert1();  // both at row 2: the second ends up first
  EXPECT_EQ(names(), (Strings{"Hero", "Mage", "新キャラ", "新キャラ", "Wolf", "新キャラ", "新キャラ"}));
  EXPECT_EQ(*controller->MA1[4].name, "Wolf");
  EXPECT_EQ(state.selectedCharacterRow, 2);

  clickCharacter(0);
  Character formerFirst = list.characters[0];
  controller->insert1();
  EXPECT_EQ(list.characters[1], formerFirst);  // name, savedName, image, layers untouched
  EXPECT_TRUE(list.characters[0].layers.empty());
  EXPECT_EQ(list.characters[0].x, 0);
  // The new record takes number 1 and everything after it moves up by one.
  EXPECT_EQ(list.characterRecordNumber(1), 2);
  EXPECT_EQ(list.layerRecordNumber(1, 0), 3);
}

TEST_F(ControllerTest, InsertLayerAtRowZeroShiftsTheFormerFirstLayer) {
  open(kThreeCharacters);
  clickCharacter(0);
  clickLayer(0);
  Layer formerFirst = list.characters[0].layers[0];
  notices.log.clear();
  controller->insert2();
  ASSERT_EQ(layerNames(0), (Strings{"新規レイヤー", "Arm", "Leg"}));
  const Layer& added = list.characters[0].layers[0];
  EXPECT_EQ(added.value, 150);
  EXPECT_EQ(added.visible, 0);
  EXPECT_FALSE(added.image);
  EXPECT_EQ(list.characters[0].layers[1], formerFirst);
  EXPECT_EQ(list.layerRecordNumber(0, 0), 2);
  EXPECT_EQ(list.layerRecordNumber(0, 1), 3);
  EXPECT_EQ(notices.log, pairs("MA2", 1));
  EXPECT_EQ(ac2.indexes, std::vector<int64_t>{999});
  EXPECT_FALSE(controller->MA2[0].visible);  // reads as invisible
  tick();
  EXPECT_EQ(list.characters[0].layers[0].visible, 0);
  EXPECT_FALSE(list.characters[0].layers[1].image == nullptr);  // the shifted layer kept its picture
}

TEST_F(ControllerTest, InsertLayerAfterCharacterInsertUsesTheTargetsOwnLayers) {
  open(kThreeCharacters);
  clickCharacter(1);  // Mage: MA2 lists Hat
  clickLayer(0);
  controller->insert1();  // new character at row 1; MA2 still lists Mage's Hat
  ASSERT_EQ(controller->MA2.size(), 1u);
  controller->insert2();
  // The layer goes to the new character, which had none; Mage keeps its layer.
  EXPECT_EQ(layerNames(1), Strings{"新規レイヤー"});
  EXPECT_EQ(layerNames(2), Strings{"Hat"});
  ASSERT_EQ(controller->MA2.size(), 1u);
  EXPECT_EQ(*controller->MA2[0].name, "新規レイヤー");
  // A tick cannot copy Mage's row into another character's layer.
  tick();
  EXPECT_EQ(layerNames(2), Strings{"Hat"});
}

TEST_F(ControllerTest, InsertLayerAfterCharacterRemovalKeepsExistingLayers) {
  open(kThreeCharacters);
  clickCharacter(0);
  clickLayer(1);
  controller->remove1();  // Hero goes; Mage is now at row 0, MA2 is empty
  EXPECT_TRUE(controller->MA2.empty());
  controller->insert2();
  EXPECT_EQ(layerNames(0), (Strings{"Hat", "新規レイヤー"}));
  EXPECT_EQ(controller->MA2.size(), 2u);
}

TEST_F(ControllerTest, RemoveSecondOfThreeCharacters) {
  open("A,1, 0, 0\n####\n$$$$\nB,1, 0, 0\n####\n$$$$\nC,1, 0, 0\n####\n$$$$\n", false);
  clickCharacter(1);
  notices.log.clear();
  controller->remove1();
  EXPECT_EQ(names(), (Strings{"A", "C"}));
  EXPECT_EQ(state.pendingImageDeletions, Strings{"B2"});
  Strings expected = pairs("MA1", 1);
  Strings ma2 = pairs("MA2", 1);
  expected.insert(expected.end(), ma2.begin(), ma2.end());
  EXPECT_EQ(notices.log, expected);
  EXPECT_EQ(ac1.indexes, std::vector<int64_t>{999});
  EXPECT_EQ(ac2.indexes, std::vector<int64_t>{999});
  controller->remove1();  // the record that followed
  EXPECT_EQ(names(), Strings{"A"});
  controller->remove1();  // the selection is past the end now: nothing
  EXPECT_EQ(names(), Strings{"A"});
  EXPECT_EQ(state.pendingImageDeletions, (Strings{"B2", "C2"}));
}

TEST_F(ControllerTest, RemoveLastCharacterQueuesItsNumberAndItsLayersFiles) {
  open(kThreeCharacters);
  clickCharacter(-1);
  controller->remove1();
  EXPECT_EQ(state.pendingImageDeletions, Strings{"Wolf6"});
  clickCharacter(0);
  controller->remove1();  // Hero with two layers: its layers' files go too
  EXPECT_EQ(state.pendingImageDeletions, (Strings{"Wolf6", "Hero1", "Arm2", "Leg3"}));
  EXPECT_EQ(list.characterRecordNumber(0), 1);  // Mage was 4
  ASSERT_TRUE(controller->saveBtn().ok());
  EXPECT_EQ(dir.list("img"), (Strings{"Hat2", "Hat5", "Mage1", "Mage4"}));
}

TEST_F(ControllerTest, RemoveLayerQueuesItsCurrentNumber) {
  open("Hero,1, 0, 0\n####\nA,1,1, 0, 0\nB,1,1, 0, 0\n$$$$\nMage,1, 0, 0\n####\nC,1,1, 0, 0\nD,1,1, 0, 0\n"
       "E,1,1, 0, 0\n$$$$\n", false);
  clickCharacter(1);
  clickLayer(2);
  controller->remove2();
  EXPECT_EQ(state.pendingImageDeletions, Strings{"E7"});
  EXPECT_EQ(layerNames(1), (Strings{"C", "D"}));
  clickLayer(-1);
  controller->remove2();
  controller->remove2();
  EXPECT_EQ(state.pendingImageDeletions, (Strings{"E7", "D6", "C5"}));
  EXPECT_TRUE(layerNames(1).empty());
  notices.log.clear();
  controller->remove2();  // empty layers table: nothing
  EXPECT_TRUE(notices.log.empty());
  EXPECT_EQ(list.size(), 2);
  controller->remove1();
  controller->remove2();  // after a character removal: nothing
  EXPECT_EQ(state.pendingImageDeletions.size(), 4u);
}

TEST_F(ControllerTest, NoRecordEverLosesOrSwapsItsImageThroughInsertAndRemove) {
  open(kThreeCharacters);
  std::vector<ImageRef> pictures;
  for (const Character& c : list.characters) pictures.push_back(c.image);
  clickCharacter(1);
  clickLayer(0);
  tick();
  tick();
  ImageRef hat = list.characters[1].layers[0].image;
  controller->insert1();  // selection now names the new character
  for (int i = 0; i < 3; ++i) tick();
  EXPECT_FALSE(list.characters[1].image);
  EXPECT_EQ(list.characters[2].image, pictures[1]);
  EXPECT_EQ(list.characters[2].layers[0].image, hat);
  controller->remove1();  // the new one goes; Mage is selected again
  for (int i = 0; i < 3; ++i) tick();
  EXPECT_EQ(list.characters[1].image, pictures[1]);
  EXPECT_EQ(list.characters[1].layers[0].image, hat);
  EXPECT_EQ(controller->IV1.image(), pictures[1]);
  controller->insert2();  // rebuilds MA2 from Mage, then inserts at layer row 0
  for (int i = 0; i < 3; ++i) tick();
  EXPECT_FALSE(list.characters[1].layers[0].image);
  EXPECT_EQ(list.characters[1].layers[1].image, hat);
  controller->remove2();
  for (int i = 0; i < 3; ++i) tick();
  EXPECT_EQ(list.characters[1].layers[0].image, hat);
  EXPECT_EQ(list.characters[0].image, pictures[0]);
  EXPECT_EQ(list.characters[2].image, pictures[2]);
}

}  // namespace
}  // namespace charstack

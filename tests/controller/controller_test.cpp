// The controller: loading into the table mirrors, clicks, the sync tick, cell edits, and insert and
// remove with the image files they queue for deletion (under the numbers they have when removed).
#include <sstream>

#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::ControllerTest;
using testing::kThreeCharacters;

struct Row {
  const char* data;
  const char* steps;      // c<row>/l<row>: click a character/layer row; i1 i2 r1 r2; t: tick; s: save
  const char* tree;       // the records afterwards, "*" for a picture
  const char* deletions;  // image files queued for deletion, in order (saved ones included)
  const char* notices;    // the change notices of the steps; none: not checked
  const char* images;     // "img/" afterwards; none: not checked
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.steps; }

const char* kFiveLayers = "Hero,1, 0, 0\n####\nA,1,1, 0, 0\nB,1,1, 0, 0\n$$$$\nMage,1, 0, 0\n####\nC,1,1, 0, 0\n"
                          "D,1,1, 0, 0\nE,1,1, 0, 0\n$$$$\n";
const Row kRows[] = {
    {"", "i2", "", "", "", nullptr},
    {"", "i1 i2", "新キャラ[新規レイヤー]", "", "<MA1><MA2>", nullptr},
    {kThreeCharacters, "c-1 i1 i1 c2 i1 i1 t",
     "Hero*[Arm*,Leg*] Mage*[Hat*] 新キャラ[] 新キャラ[] Wolf*[] 新キャラ[] 新キャラ[]", "", nullptr, nullptr},
    {kThreeCharacters, "c0 i1 t t", "新キャラ[] Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]", "", nullptr, nullptr},
    {kThreeCharacters, "c0 l0 i2 t", "Hero*[新規レイヤー,Arm*,Leg*] Mage*[Hat*] Wolf*[]", "", "<MA2><MA2><MA2><MA2>", nullptr},
    // The layers table still lists Mage's layers after a character was inserted above Mage.
    {kThreeCharacters, "c1 l0 i1 i2 t t", "Hero*[Arm*,Leg*] 新キャラ[新規レイヤー] Mage*[Hat*] Wolf*[]", "", nullptr, nullptr},
    {kThreeCharacters, "c0 l1 r1 i2 t", "Mage*[Hat*,新規レイヤー] Wolf*[]", "Hero1 Arm2 Leg3", nullptr, nullptr},
    {"A,1, 0, 0\nB,1, 0, 0\nC,1, 0, 0\n", "c1 r1 r1 r1", "A*[]", "B2 C2", "<MA2><MA1><MA2><MA1><MA2>", nullptr},
    {kThreeCharacters, "c-1 r1 c0 r1 s", "Mage*[Hat*]", "Wolf6 Hero1 Arm2 Leg3", nullptr, "Hat2 Hat5 Mage1 Mage4"},
    {kFiveLayers, "c1 l2 r2 l-1 r2 r2 r2 r1 r2", "Hero*[A*,B*]", "E7 D6 C5 Mage4", nullptr, nullptr},
    {kThreeCharacters, "c2 r2 t", "Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]", "", "<MA2>", nullptr},
};

std::string join(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
  return out;
}

struct InsertRemove : ControllerTest, ::testing::WithParamInterface<Row> {};

TEST_P(InsertRemove, Steps) {
  const Row& row = GetParam();
  open(row.data);
  notices.log.clear();
  std::vector<std::string> deleted;
  std::istringstream steps(row.steps);
  for (std::string s; steps >> s;) {
    if (s[0] == 'c') clickCharacter(std::stoll(s.substr(1)));
    if (s[0] == 'l') clickLayer(std::stoll(s.substr(1)));
    if (s == "i1" || s == "i2") s == "i1" ? controller->insert1() : controller->insert2();
    if (s == "r1" || s == "r2") s == "r1" ? controller->remove1() : controller->remove2();
    if (s == "t") tick();
    if (s == "s") deleted = state.pendingImageDeletions, controller->saveBtn();
  }
  deleted.insert(deleted.end(), state.pendingImageDeletions.begin(), state.pendingImageDeletions.end());
  EXPECT_EQ(tree(), row.tree);
  EXPECT_EQ(join(deleted), row.deletions);
  EXPECT_EQ(row.notices ? notices.log : "", row.notices ? row.notices : "");
  EXPECT_EQ(row.images ? join(dir.list("img")) : "", row.images ? row.images : "");
}

INSTANTIATE_TEST_SUITE_P(Rows, InsertRemove, ::testing::ValuesIn(kRows));

TEST_F(ControllerTest, LoadFillsTheMirrorsWithTheFirstCharacterSelected) {
  open(kThreeCharacters);
  EXPECT_EQ(notices.log, "<MA1><MA2><MA2><MA1><MA1>");
  EXPECT_EQ(controller->MA1.at(2), (RowDictionary{"Wolf", "50", std::nullopt, list.characters[2].image}));
  EXPECT_EQ(controller->MA2.at(1), (RowDictionary{"Leg", "120", "1", list.characters[0].layers[1].image}));
  EXPECT_EQ(controller->MA2.size(), 2u);
  EXPECT_TRUE(controller->IV2.image() == list.characters[0].layers[0].image && controller->IV1.image());
  EXPECT_TRUE(state.selectedCharacterRow == 0 && state.selectedLayerRow == 0 && !controller->hasUnsavedChanges());
}

TEST_F(ControllerTest, EmptyProjectClicksAndNewRecords) {
  open("");
  state.selectedCharacterRow = 5;
  clickCharacter(0);  // only remembers the previous row
  EXPECT_TRUE(state.previousCharacterRow == 5 && state.selectedCharacterRow == 5 && !state.moveCharacter);
  state.selectedCharacterRow = 0;
  controller->insert1();
  controller->insert2();
  EXPECT_EQ(buildDataText(list), "新キャラ,100, 0, 0\n####\n新規レイヤー,150,0, 0, 0\n$$$$\n");
  EXPECT_FALSE(list.characters[0].savedName || list.characters[0].layers[0].savedName);
  EXPECT_EQ(controller->MA1, (std::vector{RowDictionary{"新キャラ", "100", std::nullopt, nullptr}}));
  EXPECT_EQ(controller->MA2, (std::vector{RowDictionary{"新規レイヤー", "150", std::nullopt, nullptr}}));
}

TEST_F(ControllerTest, ClicksRebuildTheLayerMirrorAndStoreTheReportedRows) {
  open(kThreeCharacters);
  notices.log.clear();
  clickCharacter(0);
  EXPECT_EQ(notices.log, "<MA2><MA2><MA2>");  // emptied, then one row at a time
  EXPECT_TRUE(!state.layerSyncSuppressed && state.moveCharacter && !state.moveLayer && state.selectedLayerRow == -1);
  clickCharacter(2);  // Wolf has no layers
  EXPECT_TRUE(controller->MA2.empty() && state.layerSyncSuppressed && state.previousCharacterRow == 0);
  tv2.clicked = 1;  // the layers table's reported row is stored as it is
  tv1.click(1);
  EXPECT_EQ(state.selectedLayerRow, 1);
  EXPECT_EQ(*controller->MA2.at(0).name, "Hat");
  clickCharacter(-1);  // below the last row
  EXPECT_TRUE(state.selectedCharacterRow == -1 && controller->MA2.empty() && !controller->IV1.image());
  EXPECT_FALSE(controller->IV1.setImage(nullptr));  // no row for a picture
  clickLayer(-1);
  EXPECT_TRUE(state.selectedLayerRow == -1 && state.moveLayer && !state.moveCharacter);
}

TEST_F(ControllerTest, TickCopiesTheSelectedRowsAndWellsIntoTheModel) {
  open(kThreeCharacters);
  controller->MA1[0].value = "42abc";
  controller->MA1[0].name = "Hero2";
  controller->MA2[0].value = "";
  controller->MA1[1].value = "999";  // not selected: waits
  ImageRef dropped = testing::testImage(3, 3, 77);
  ASSERT_TRUE(controller->IV2.setImage(dropped) && controller->IV1.setImage(nullptr));
  const std::pair<std::optional<std::string>, uint8_t> visible[] = {
      {"2", 1}, {"1", 1}, {" 7", 1}, {"-1", 0}, {"x", 0}, {std::nullopt, 0}};
  for (const auto& [text, expected] : visible) {
    controller->MA2[0].visible = text;
    tick();
    EXPECT_EQ(list.characters[0].layers[0].visible, expected) << text.value_or("(none)");
  }
  const Character& hero = list.characters[0];
  EXPECT_EQ(std::tuple(hero.name, *hero.savedName, hero.value, hero.layers[0].value), std::tuple("Hero2", "Hero", 42, 0));
  EXPECT_TRUE(hero.layers[0].image == dropped && !hero.image && list.characters[1].value == 300);
  EXPECT_EQ(*controller->MA1[0].value, "42abc");  // the table keeps what was typed
  EXPECT_EQ(std::pair(hero.x, hero.layers[1].y), std::pair(10, 12));

  clickCharacter(1);  // Mage: the next layer copy is skipped
  controller->MA2[0].value = "777";
  tick();  // layer row -1: the skip is kept
  clickLayer(0);
  tick();
  EXPECT_EQ(list.characters[1].layers[0].value, 310);
  tick();
  EXPECT_EQ(list.characters[1].layers[0].value, 777);
  clickCharacter(-1);
  state.selectedLayerRow = 0;
  tick();  // no character: no layer either
  EXPECT_EQ(state.selectedLayerRow, -1);
}

TEST_F(ControllerTest, CellEditsRefuseNamesTheFilesCannotHold) {
  open(kThreeCharacters);
  const std::tuple<Table, int64_t, Field, std::string, bool> edits[] = {
      {Table::Characters, 0, Field::Name, "a,b", true},           {Table::Layers, 0, Field::Name, "x####", true},
      {Table::Layers, 0, Field::Name, "a/b", true},               {Table::Layers, 0, Field::Name, std::string(245, 'x'), true},
      {Table::Layers, 0, Field::Name, std::string(244, 'x'), false}, {Table::Characters, 0, Field::Name, "Héros 2", false},
      {Table::Layers, 1, Field::Visible, "0", false},             {Table::Characters, 0, Field::Visible, "0", true},
      {Table::Characters, 7, Field::Value, "1", true}};
  for (const auto& [table, row, field, text, refused] : edits)
    EXPECT_EQ(controller->editCell(table, row, field, text).has_value(), refused) << text;
  EXPECT_EQ(*controller->MA2[0].name, std::string(244, 'x'));
  tick();
  EXPECT_EQ(list.characters[0].name, "Héros 2");
}

}  // namespace
}  // namespace charstack

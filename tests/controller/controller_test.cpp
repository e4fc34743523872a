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
  const char* steps;      // c<row>/l<row>: click a character/layer row; i1 i2 r1 r2; s: save
  const char* tree;       // the records afterwards, "*" for a picture
  const char* deletions;  // image files queued for deletion, in order (saved ones included)
  const char* notices;    // what the tables were told of the steps (RecordingObserver); none: not checked
  const char* images;     // "img/" afterwards; none: not checked
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.steps; }

const char* kFiveLayers = "Hero,1, 0, 0\n####\nA,1,1, 0, 0\nB,1,1, 0, 0\n$$$$\nMage,1, 0, 0\n####\nC,1,1, 0, 0\n"
                          "D,1,1, 0, 0\nE,1,1, 0, 0\n$$$$\n";
const Row kRows[] = {
    {"", "i2", "", "", "", nullptr},
    {"", "i1 i2", "新キャラ[新規レイヤー]", "", "C+0x1 L! L+0x1", nullptr},
    {kThreeCharacters, "c-1 i1 i1 c2 i1 i1",
     "Hero*[Arm*,Leg*] Mage*[Hat*] 新キャラ[] 新キャラ[] Wolf*[] 新キャラ[] 新キャラ[]", "", nullptr, nullptr},
    {kThreeCharacters, "c0 i1", "新キャラ[] Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]", "", nullptr, nullptr},
    {kThreeCharacters, "c0 l0 i2", "Hero*[新規レイヤー,Arm*,Leg*] Mage*[Hat*] Wolf*[]", "", "L! L+0x1", nullptr},
    // The layers table still lists Mage's layers after a character was inserted above Mage.
    {kThreeCharacters, "c1 l0 i1 i2", "Hero*[Arm*,Leg*] 新キャラ[新規レイヤー] Mage*[Hat*] Wolf*[]", "", nullptr, nullptr},
    {kThreeCharacters, "c0 l1 r1 i2", "Mage*[Hat*,新規レイヤー] Wolf*[]", "Hero1 Arm2 Leg3", nullptr, nullptr},
    {"A,1, 0, 0\n####\n$$$$\nB,1, 0, 0\n####\n$$$$\nC,1, 0, 0\n####\n$$$$\n", "c1 r1 r1 r1", "A*[]", "B2 C2",
     "L! C-1x1 L! C-1x1 L!", nullptr},
    {kThreeCharacters, "c-1 r1 c0 r1 s", "Mage*[Hat*]", "Wolf6 Hero1 Arm2 Leg3", nullptr, "Hat2 Hat5 Mage1 Mage4"},
    {kFiveLayers, "c1 l2 r2 l-1 r2 r2 r2 r1 r2", "Hero*[A*,B*]", "E7 D6 C5 Mage4", nullptr, nullptr},
    {kThreeCharacters, "c2 r2", "Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]", "", "L!", nullptr},
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
    if (s == "s") deleted = state.pendingImageDeletions, controller->saveBtn();
  }
  deleted.insert(deleted.end(), state.pendingImageDeletions.begin(), state.pendingImageDeletions.end());
  EXPECT_EQ(tree(), row.tree);
  EXPECT_EQ(join(deleted), row.deletions);
  EXPECT_EQ(row.notices ? notices.log : "", row.notices ? row.notices : "");
  EXPECT_EQ(row.images ? join(dir.list("img")) : "", row.images ? row.images : "");
}

INSTANTIATE_TEST_SUITE_P(Rows, InsertRemove, ::testing::ValuesIn(kRows));

TEST_F(ControllerTest, LoadShowsTheFirstCharacterSelectedAndItsLayers) {
  open(kThreeCharacters);
  EXPECT_EQ(notices.log, "C! L!");
  EXPECT_EQ(controller->row(Table::Characters, 2), (RowDictionary{"Wolf", "50", std::nullopt, list.characters[2].image}));
  EXPECT_EQ(controller->row(Table::Layers, 1), (RowDictionary{"Leg", "120", "1", list.characters[0].layers[1].image}));
  EXPECT_EQ(controller->rowCount(Table::Layers), 2);
  EXPECT_TRUE(controller->wellPicture(Table::Layers) == list.characters[0].layers[0].image &&
              controller->wellPicture(Table::Characters));
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
  EXPECT_EQ(controller->row(Table::Layers, 0), (RowDictionary{"新規レイヤー", "150", "0", nullptr}));
}

TEST_F(ControllerTest, ClicksShowTheClickedCharactersLayersAndStoreTheReportedRows) {
  open(kThreeCharacters);
  notices.log.clear();
  clickCharacter(0);
  EXPECT_EQ(notices.log, "L!");
  EXPECT_TRUE(state.moveCharacter && !state.moveLayer && state.selectedLayerRow == -1);
  clickCharacter(2);  // Wolf has no layers
  EXPECT_TRUE(controller->rowCount(Table::Layers) == 0 && state.previousCharacterRow == 0);
  tv2.clicked = 1;  // the layers table's reported row is stored as it is
  tv1.click(1);
  EXPECT_EQ(state.selectedLayerRow, 1);
  EXPECT_EQ(controller->row(Table::Layers, 0).name, "Hat");
  state.selectedLayerRow = 0;
  clickCharacter(-1);  // below the last row: no character, and so no layer
  EXPECT_TRUE(state.selectedCharacterRow == -1 && state.selectedLayerRow == -1 && controller->rowCount(Table::Layers) == 0);
  EXPECT_FALSE(controller->wellPicture(Table::Characters) || controller->setPicture(Table::Characters, nullptr));
  clickLayer(-1);
  EXPECT_TRUE(state.selectedLayerRow == -1 && state.moveLayer && !state.moveCharacter);
}

// A committed cell changes the record of its row at once, selected or not, as one step that takes
// back only that field; what it cannot take is refused and nothing changes.
TEST_F(ControllerTest, CellEditsGoToTheirRowsRecordAtOnceOrAreRefused) {
  open(kThreeCharacters);
  struct Edit {
    Table table;
    int64_t row;
    Field field;
    std::string text;
    const char* result;  // the record's line afterwards; none: refused
  };
  const Edit edits[] = {
      {Table::Characters, 1, Field::Name, "Witch", "Witch,300, 0, 0"},  // not the selected row
      {Table::Characters, 0, Field::Name, "a,b", nullptr},
      {Table::Layers, 0, Field::Name, "x####", nullptr},
      {Table::Layers, 0, Field::Name, "a/b", nullptr},
      {Table::Layers, 0, Field::Name, std::string(245, 'x'), nullptr},
      {Table::Layers, 1, Field::Value, " 7 ", "Leg,7,1, -3, 12"},
      {Table::Layers, 1, Field::Value, "+999", "Leg,999,1, -3, 12"},
      {Table::Characters, 2, Field::Value, "0", "Wolf,0, 7, 7"},
      {Table::Characters, 2, Field::Value, "99999999999", nullptr},
      {Table::Characters, 2, Field::Value, "1e3", nullptr},
      {Table::Characters, 2, Field::Value, "0x10", nullptr},
      {Table::Characters, 2, Field::Value, "12abc", nullptr},
      {Table::Characters, 2, Field::Value, "1000", nullptr},
      {Table::Characters, 2, Field::Value, "-5", nullptr},
      {Table::Characters, 2, Field::Value, "", nullptr},
      {Table::Layers, 0, Field::Visible, "0", "Arm,150,0, 5, 0"},
      {Table::Characters, 0, Field::Visible, "0", nullptr},
      {Table::Characters, 7, Field::Value, "1", nullptr},
  };
  for (const Edit& e : edits) {
    SCOPED_TRACE(e.text);
    const std::string before = buildDataText(list);
    const int steps = controller->history().count();
    EXPECT_EQ(!controller->editCell(e.table, e.row, e.field, e.text), e.result != nullptr);
    if (!e.result) {
      EXPECT_TRUE(buildDataText(list) == before && controller->history().count() == steps);
      continue;
    }
    EXPECT_NE(buildDataText(list).find(std::string(e.result) + "\n"), std::string::npos);
    EXPECT_EQ(controller->history().count(), steps + 1);
  }
  EXPECT_EQ(controller->history().undoText().toStdString(), "Hide Layer");
  while (controller->history().canUndo()) controller->history().undo();
  EXPECT_EQ(buildDataText(list), kThreeCharacters);
}

}  // namespace
}  // namespace charstack

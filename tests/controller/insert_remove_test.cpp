// Insert and remove through the controller: where records go, which image files are queued for
// deletion (under the numbers they have when removed), and the change notices.
#include <sstream>

#include "controller/controller_fixture.hpp"

namespace charstack {
namespace {

using testing::kThreeCharacters;

struct Row {
  const char* data;
  const char* steps;      // c<row>/l<row>: click a character/layer row; i1 i2 r1 r2; t: tick; s: save
  const char* tree;       // the records afterwards, "*" for a picture
  const char* deletions;  // image files queued for deletion, in order (saved ones included)
  const char* notices;    // the change notices of the steps; none: not checked
  const char* images;     // "img/" after the steps; none: not checked
};

const char* kTwoWithLayers =
    "Hero,1, 0, 0\n####\nA,1,1, 0, 0\nB,1,1, 0, 0\n$$$$\nMage,1, 0, 0\n####\nC,1,1, 0, 0\nD,1,1, 0, 0\nE,1,1, 0, 0\n$$$$\n";

const Row kRows[] = {
    {"", "i2", "", "", "", nullptr},
    {"", "i1 i2", "新キャラ[新規レイヤー]", "", "MA1 MA2", nullptr},
    {kThreeCharacters, "c-1 i1 i1 c2 i1 i1 t",
     "Hero*[Arm*,Leg*] Mage*[Hat*] 新キャラ[] 新キャラ[] Wolf*[] 新キャラ[] 新キャラ[]", "", nullptr, nullptr},
    {kThreeCharacters, "c0 i1 t t", "新キャラ[] Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]", "", nullptr, nullptr},
    {kThreeCharacters, "c0 l0 i2 t", "Hero*[新規レイヤー,Arm*,Leg*] Mage*[Hat*] Wolf*[]", "", "MA2 MA2 MA2 MA2", nullptr},
    // The layers table still lists Mage's layers after a character was inserted above Mage.
    {kThreeCharacters, "c1 l0 i1 i2 t t", "Hero*[Arm*,Leg*] 新キャラ[新規レイヤー] Mage*[Hat*] Wolf*[]", "", nullptr, nullptr},
    {kThreeCharacters, "c0 l1 r1 i2 t", "Mage*[Hat*,新規レイヤー] Wolf*[]", "Hero1 Arm2 Leg3", nullptr, nullptr},
    {"A,1, 0, 0\nB,1, 0, 0\nC,1, 0, 0\n", "c1 r1 r1 r1", "A*[]", "B2 C2", "MA2 MA1 MA2 MA1 MA2", nullptr},
    {kThreeCharacters, "c-1 r1 c0 r1 s", "Mage*[Hat*]", "Wolf6 Hero1 Arm2 Leg3", nullptr, "Hat2 Hat5 Mage1 Mage4"},
    {kTwoWithLayers, "c1 l2 r2 l-1 r2 r2 r2 r1 r2", "Hero*[A*,B*]", "E7 D6 C5 Mage4", nullptr, nullptr},
    {kThreeCharacters, "c2 r2 t", "Hero*[Arm*,Leg*] Mage*[Hat*] Wolf*[]", "", "MA2", nullptr},
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.steps; }

std::string join(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
  return out;
}

struct InsertRemove : testing::ControllerTest, ::testing::WithParamInterface<Row> {};

TEST_P(InsertRemove, Steps) {
  const Row& row = GetParam();
  open(row.data);
  notices.log.clear();
  std::vector<std::string> deleted;
  std::istringstream steps(row.steps);
  for (std::string s; steps >> s;) {
    if (s[0] == 'c') clickCharacter(std::stoll(s.substr(1)));
    if (s[0] == 'l') clickLayer(std::stoll(s.substr(1)));
    if (s == "i1") controller->insert1();
    if (s == "i2") controller->insert2();
    if (s == "r1") controller->remove1();
    if (s == "r2") controller->remove2();
    if (s == "t") tick();
    if (s == "s") {
      deleted.insert(deleted.end(), state.pendingImageDeletions.begin(), state.pendingImageDeletions.end());
      ASSERT_TRUE(controller->saveBtn().ok());
    }
  }
  deleted.insert(deleted.end(), state.pendingImageDeletions.begin(), state.pendingImageDeletions.end());
  EXPECT_EQ(tree(), row.tree);
  EXPECT_EQ(join(deleted), row.deletions);
  EXPECT_EQ(row.notices ? notices.pairs() : "", row.notices ? row.notices : "");
  EXPECT_EQ(row.images ? join(dir.list("img")) : "", row.images ? row.images : "");
}

INSTANTIATE_TEST_SUITE_P(Rows, InsertRemove, ::testing::ValuesIn(kRows));

TEST_F(InsertRemove, NewRecordsAndTheirRows) {
  start();
  controller->insert1();
  controller->insert2();
  EXPECT_EQ(buildDataText(list), "新キャラ,100, 0, 0\n####\n新規レイヤー,150,0, 0, 0\n$$$$\n");
  EXPECT_FALSE(list.characters[0].savedName || list.characters[0].layers[0].savedName);
  EXPECT_EQ(controller->MA1, (std::vector{RowDictionary{"新キャラ", "100", std::nullopt, nullptr}}));
  EXPECT_EQ(controller->MA2, (std::vector{RowDictionary{"新規レイヤー", "150", std::nullopt, nullptr}}));
}

}  // namespace
}  // namespace charstack

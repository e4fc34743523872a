// Records as bytes for the clipboard and drags between windows: every field and picture comes back,
// and bytes that are not whole records of the editor's format are refused.
#include "project/transfer.hpp"

#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::testImage;

TEST(Transfer, RecordsComeBackWholeAndDamagedBytesAreRefused) {
  RecordSet records;
  records.characters = {testing::character("Hero😀", 1500, testImage(3, 2, 1)), testing::character("Wolf")};
  Character& hero = records.characters[0];
  hero.x = INT32_MIN, hero.y = 7, hero.savedName = "Hero1";
  hero.layers = {testing::layer("Arm", -5, testImage(2, 2, 2)), testing::layer("", 0)};
  hero.layers[1].visible = 0, hero.layers[1].x = INT32_MAX;
  const std::string bytes = serializeRecords(records).value();
  const std::optional<RecordSet> back = parseRecords(bytes);
  ASSERT_TRUE(back && back->layers.empty());
  EXPECT_TRUE(testing::sameModel(CharacterList{back->characters}, CharacterList{records.characters}));
  EXPECT_FALSE(back->characters[0].savedName);  // new records: no file is theirs
  const std::optional<RecordSet> layers = parseRecords(serializeRecords(RecordSet{{}, hero.layers}).value());
  ASSERT_TRUE(layers && layers->characters.empty());
  Character got, sent;
  got.layers = layers->layers, sent.layers = hero.layers;
  EXPECT_TRUE(testing::sameModel(CharacterList{{got}}, CharacterList{{sent}}));

  for (size_t n = 0; n < bytes.size(); ++n)
    EXPECT_FALSE(parseRecords(bytes.substr(0, n))) << "cut short at " << n;
  auto changed = [&](std::string_view from, std::string_view to) {
    std::string damaged = bytes;
    return damaged.replace(damaged.find(from), from.size(), to);
  };
  const std::string damages[] = {changed("records 1 2", "records 2 2"),
                                 changed("records 1 2", "records 1 3"),
                                 changed("Arm", "A,m"),
                                 changed("L -5 1", "L -5 2"),
                                 changed("L -5 1", "L 99999999999 1"),  // no depth "data.txt" can hold
                                 changed("C 1500", "C -2147483649"),
                                 changed("L 0 0 2147483647", "L 0 0 2147483648"),  // an x of 33 bits
                                 changed("C 1500 ", "C 1500x"),  // "12x3" is no two numbers
                                 changed("IDAT", "IDAx"),
                                 changed("C 0 0 0 0", "L 0 0 0 0"),
                                 bytes + "L 0 1 0 0 0 0\n",
                                 changed("Wolf", "Wol/")};
  for (const std::string& damaged : damages) EXPECT_FALSE(parseRecords(damaged)) << damaged.substr(0, 40);
}

}  // namespace
}  // namespace charstack

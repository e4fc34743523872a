// The rules of "data.txt": what a text reads as, and the text that saving writes for it.
#include <gtest/gtest.h>

#include "project/project_io.hpp"

namespace charstack {
namespace {

const char* kWorkedExample =
    "Hero,100, 10, 20\n####\nArm,150,1, 5, 0\nArm,120,0, -3, 12\n$$$$\nSlime,100, 200, 40\n####\n$$$$\n";

TEST(DataText, ReadsAndWritesBack) {
  const std::pair<std::string, std::string> rows[] = {
      {kWorkedExample, kWorkedExample},
      {"", ""},
      {"Hero,100, 10, 20", ""},  // no line feed at all: an empty project
      {"A,1, 0, 0\n####\n$$$$\nB,2, 3, 4", "A,1, 0, 0\n####\n$$$$\n"},  // the piece after the last line feed
      // Markers count anywhere in a line; a line with both opens a block. Marker lines hold no record.
      {"A,1, 0, 0\nx####y\nL1,5,1, 1, 1\na$$$$b\nB,2, 0, 0\n$$$$ and ####\nL2,6,1, 2, 2\n$$$$\n",
       "A,1, 0, 0\n####\nL1,5,1, 1, 1\n$$$$\nB,2, 0, 0\n####\nL2,6,1, 2, 2\n$$$$\n"},
      // Fields by position: extra ones ignored, missing ones 0, any other number than 0 is visible; a
      // layer-shaped line outside a block is a character; blank lines hold nothing.
      {"Name with spaces ,1, -5x, 7\r\n####\nA,1,2, 3, 4,extra\nB,1,-1, 0, 0\nC,1,abc, 0, 0\nD\n$$$$\nE,7,1, 8\n\n",
       "Name with spaces ,1, -5, 7\n####\nA,1,1, 3, 4\nB,1,1, 0, 0\nC,1,0, 0, 0\nD,0,0, 0, 0\n$$$$\n"
       "E,7, 1, 8\n####\n$$$$\n"},
      // Layers before any character belong to none and are dropped.
      {"####\nStray,1,1, 0, 0\n$$$$\nA,1, 0, 0\n####\nL,1,1, 0, 0\n$$$$\n", "A,1, 0, 0\n####\nL,1,1, 0, 0\n$$$$\n"},
      // Numbers: white space, one sign and digits up to the first other character, saturating at 32 bits.
      {"a, -12abc,+7,\t\v\f 5\nb,+-3,- 3,-\nc,99999999999,2147483648,-2147483649\n"
       "d,00000000000000000000012,-99999999999999999999, 2147483647\n",
       "a,-12, 7, 5\n####\n$$$$\nb,0, 0, 0\n####\n$$$$\nc,2147483647, 2147483647, -2147483648\n####\n$$$$\n"
       "d,12, -2147483648, 2147483647\n####\n$$$$\n"},
  };
  for (const auto& [in, out] : rows) {
    CharacterList list = parseDataText(in).list;
    EXPECT_EQ(buildDataText(list), out) << in;
    forEachRecord(list, [&](const auto& r, auto...) { EXPECT_EQ(r.savedName, r.name) << in; });
  }
}

}  // namespace
}  // namespace charstack

// A controller on a real temporary project folder, with fake tables and timers.
#pragma once

#include <gtest/gtest.h>

#include "controller/init_layer.hpp"
#include "support/fakes.hpp"

namespace charstack::testing {

struct ControllerTest : ::testing::Test {
  // Writes data.txt with a distinct picture for every record (seeded by its number) and starts.
  void open(const std::string& dataText) {
    dir.write("data.txt", dataText);
    const CharacterList parsed = parseDataText(dataText).list;
    forEachRecord(parsed, [&](const auto& r, int64_t number, auto...) {
      dir.write("img/" + imageFileName(r.name, number), testPng(4, 4, uint32_t(number)));
    });
    controller = std::make_unique<InitLayer>(list, state, ProjectFolder(dir.path()), timers, &notices);
    controller->TV1 = &tv1, controller->TV2 = &tv2, controller->AC1 = &ac, controller->AC2 = &ac;
    controller->awakeFromNib();
  }
  void tick() { timers.fireAll(); }
  void clickCharacter(int64_t row) {  // while the layers table reports no clicked row
    tv2.clicked = -1;
    tv1.click(row);
  }
  void clickLayer(int64_t row) { tv2.click(row); }
  // "Hero*[Arm*,Leg] Wolf[]": names in order, "*" for a picture.
  std::string tree() const {
    std::string out;
    forEachRecord(list, [&](const auto& r, int64_t, int64_t k, int64_t m) {
      out += (m < 0 ? (k > 0 ? "] " : "") : (m > 0 ? "," : "")) + r.name + (r.image ? "*" : "") + (m < 0 ? "[" : "");
    });
    return out.empty() ? out : out + "]";
  }

  TempFolder dir;
  CharacterList list;
  EditorState state;
  FakeTimerService timers;
  RecordingObserver notices;
  FakeTableView tv1, tv2;
  FakeArrayController ac;
  std::unique_ptr<InitLayer> controller;
};

// Hero with two layers, Mage with one, Wolf without: records 1-3, 4-5, 6.
inline const char* kThreeCharacters =
    "Hero,100, 10, 20\n####\nArm,150,1, 5, 0\nLeg,120,1, -3, 12\n$$$$\nMage,300, 0, 0\n####\nHat,310,1, 1, 1\n$$$$\n"
    "Wolf,50, 7, 7\n####\n$$$$\n";

}  // namespace charstack::testing

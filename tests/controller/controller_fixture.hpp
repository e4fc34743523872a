// A controller on a real temporary project folder, with fake tables and timers.
#pragma once

#include <gtest/gtest.h>

#include "controller/init_layer.hpp"
#include "support/fakes.hpp"

namespace charstack::testing {

class ControllerTest : public ::testing::Test {
 protected:
  // Writes data.txt (and, when pictures is set, a distinct picture for every record) and starts the
  // controller on the folder.
  void open(const std::string& dataText, bool pictures = true) {
    dir.write("data.txt", dataText);
    if (pictures) {
      ParsedProject parsed = parseDataText(dataText);
      int64_t number = 0;
      for (const Character& c : parsed.list.characters) {
        ++number;
        dir.write("img/" + imageFileName(c.name, number), testPng(4, 4, static_cast<uint32_t>(number)));
        for (const Layer& l : c.layers) {
          ++number;
          dir.write("img/" + imageFileName(l.name, number), testPng(4, 4, static_cast<uint32_t>(number)));
        }
      }
    }
    start();
  }
  void start() {
    controller = std::make_unique<InitLayer>(list, state, ProjectFolder(dir.path()), timers, &notices);
    controller->TV1 = &tv1;
    controller->TV2 = &tv2;
    controller->AC1 = &ac1;
    controller->AC2 = &ac2;
    controller->awakeFromNib();
    notices.log.clear();
  }
  void tick() { timers.fireAll(); }
  // A click on a character row while the layers table reports no clicked row.
  void clickCharacter(int64_t row) {
    tv2.clicked = -1;
    tv1.click(row);
  }
  void clickLayer(int64_t row) { tv2.click(row); }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const Character& c : list.characters) out.push_back(c.name);
    return out;
  }
  std::vector<std::string> layerNames(size_t row) const {
    std::vector<std::string> out;
    for (const Layer& l : list.characters.at(row).layers) out.push_back(l.name);
    return out;
  }
  std::vector<std::string> pairs(const std::string& key, int n) const {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
      out.push_back("will " + key);
      out.push_back("did " + key);
    }
    return out;
  }

  TempFolder dir;
  CharacterList list;
  EditorState state;
  FakeTimerService timers;
  RecordingObserver notices;
  FakeTableView tv1, tv2;
  FakeArrayController ac1, ac2;
  std::unique_ptr<InitLayer> controller;
};

// Hero with two layers, Mage with one, Wolf without: records 1-3, 4-5, 6.
inline const char* kThreeCharacters =
    "Hero,100, 10, 20\n####\nArm,150,1, 5, 0\nLeg,120,1, -3, 12\n$$$$\n"
    "Mage,300, 0, 0\n####\nHat,310,1, 1, 1\n$$$$\n"
    "Wolf,50, 7, 7\n####\n$$$$\n";

}  // namespace charstack::testing

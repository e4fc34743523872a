#include "support/fakes.hpp"

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/project_lock.hpp"
#include "project/journal.hpp"

namespace charstack::testing {

namespace fs = std::filesystem;

TempFolder::TempFolder(const fs::path& base) {
  std::string name = (base / "charstack-test-XXXXXX").string();
  if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
  path_ = name;
}

void TempFolder::write(std::string_view relative, std::string_view bytes) const {
  fs::path p = path_ / relative;
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
}

std::string TempFolder::read(std::string_view relative) const {
  std::ostringstream s;
  s << std::ifstream(path_ / relative, std::ios::binary).rdbuf();
  return s.str();
}

std::vector<std::string> TempFolder::list(std::string_view relative) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(path_ / relative, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

ImageRef testImage(int width, int height, uint32_t seed) {
  std::vector<uint32_t> px;
  uint32_t s = seed * 2654435761u + 12345u;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      s = s * 1664525u + 1013904223u;
      uint32_t a = (x == 0 || y == 0) ? 0u : ((s >> 24) | 0x40u);
      px.push_back(a << 24 | (uint32_t(x * 37 + seed) & 0xff) << 16 | (uint32_t(y * 53 + seed * 7) & 0xff) << 8 | ((s >> 8) & 0xff));
    }
  return makeImage(width, height, px);
}

std::string testPng(int width, int height, uint32_t seed) { return encodePng(*testImage(width, height, seed)).value(); }

Character character(std::string name, int64_t value, ImageRef image) {
  Character c;
  c.name = std::move(name), c.value = value, c.image = std::move(image);
  return c;
}

Layer layer(std::string name, int64_t value, ImageRef image) {
  Layer l;
  l.name = std::move(name), l.value = value, l.visible = 1, l.image = std::move(image);
  return l;
}

std::map<std::string, std::string> filesOf(const TempFolder& dir, int* temporaries) {
  std::map<std::string, std::string> files;
  for (const std::string sub : {"", "img/"})
    for (const std::string& name : dir.list(sub)) {
      if (name == kLockFileName) continue;  // the editors' lock, never a part of the project
      if (temporaries && (isTemporaryFileName(name) || name == kJournalFileName))
        ++*temporaries;
      else if (sub + name != "img")
        files[sub + name] = dir.read(sub + name);
    }
  return files;
}

bool sameModel(const CharacterList& a, const CharacterList& b) {
  if (buildDataText(a) != buildDataText(b)) return false;
  std::vector<ImageRef> pictures[2];
  forEachRecord(a, [&](const auto& r, auto...) { pictures[0].push_back(r.image); });
  forEachRecord(b, [&](const auto& r, auto...) { pictures[1].push_back(r.image); });
  for (size_t i = 0; i < pictures[0].size(); ++i)
    if (pictures[0][i] ? !pictures[1][i] || !pictures[1][i]->samePixels(*pictures[0][i]) : bool(pictures[1][i]))
      return false;
  return true;
}

SaveReport saveInto(CharacterList& list, const TempFolder& dir) {
  EditorState state;
  return saveProject(list, state, ProjectFolder(dir.path()));
}

void expectSameModel(const CharacterList& expected, const CharacterList& actual) {
  EXPECT_EQ(buildDataText(actual), buildDataText(expected));
  EXPECT_TRUE(sameModel(expected, actual)) << "the pictures differ";
}

void expectLoadsAs(const TempFolder& dir, const CharacterList& expected) {
  LoadResult loaded = loadProject(ProjectFolder(dir.path()));
  for (const Problem& p : loaded.problems) ADD_FAILURE() << "loading: " << p.file << ": " << p.reason;
  expectSameModel(expected, loaded.list);
}

void ControllerTest::open(const std::string& dataText) {
  dir.write("data.txt", dataText);
  const CharacterList parsed = parseDataText(dataText).list;
  forEachRecord(parsed, [&](const auto& r, int64_t number, auto...) {
    dir.write("img/" + imageFileName(r.name, number), testPng(4, 4, uint32_t(number)));
  });
  controller = std::make_unique<Editor>(list, state, ProjectFolder(dir.path()), &notices);
  controller->selection().attachTables(&tv1, &tv2);
}

std::string ControllerTest::tree() const {
  std::string out;
  forEachRecord(list, [&](const auto& r, int64_t, int64_t k, int64_t m) {
    bool hidden = false;
    if constexpr (std::is_same_v<std::decay_t<decltype(r)>, Layer>) hidden = !r.visible;
    out += (m < 0 ? (k > 0 ? "] " : "") : (m > 0 ? "," : "")) + r.name + (r.image ? "*" : "") +
           (hidden ? "-" : "") + (m < 0 ? "[" : "");
  });
  return out.empty() ? out : out + "]";
}

}  // namespace charstack::testing

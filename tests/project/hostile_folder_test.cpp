// Hand-made and hostile project folders: whatever stands where the editor looks, loading never
// blocks, and nothing the editor could not read is deleted, replaced or emptied.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <algorithm>
#include <functional>

#include "controller/editor.hpp"
#include "platform/project_lock.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::TempFolder;
using testing::testImage;
using testing::testPng;

std::string path(const TempFolder& dir, const std::string& relative) { return (dir.path() / relative).string(); }

// What stands at a path, for before/after comparisons: its type, a link's target, a file's bytes.
std::string entry(const TempFolder& dir, const std::string& relative) {
  struct stat st;
  if (::lstat(path(dir, relative).c_str(), &st) != 0) return "absent";
  if (S_ISLNK(st.st_mode)) return "link to " + std::filesystem::read_symlink(path(dir, relative)).string();
  if (S_ISREG(st.st_mode))
    return "file " + std::to_string(st.st_mode & 0777) + " " +
           (st.st_size < (1 << 20) ? dir.read(relative) : std::to_string(st.st_size) + " bytes");
  return "type " + std::to_string(st.st_mode & S_IFMT);
}

// Runs body in a child process with a time limit, as the user "nobody" when asked and the tests run as
// root, so that files with mode 000 really cannot be read and a load that blocks fails instead of
// hanging. body returns what went wrong; empty when all is well.
std::string inChild(const TempFolder& dir, bool asNobody, const std::function<std::string()>& body) {
  const bool drop = asNobody && ::geteuid() == 0;
  if (drop) std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  int fds[2];
  if (::pipe(fds) != 0) return "no pipe";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    ::alarm(60);
    if (drop && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    const std::string failures = body();
    if (::write(fds[1], failures.data(), failures.size()) < 0) ::_exit(4);
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    out += "the child ended with status " + std::to_string(status) + " (a load that blocked?)";
  return out;
}

// A controller on the folder, as the program starts one.
struct OpenEditor {
  explicit OpenEditor(const TempFolder& dir) : controller(list, state, ProjectFolder(dir.path())) {}
  bool reported(const std::string& file) {
    const auto& p = controller.store().loadProblems();
    return std::any_of(p.begin(), p.end(), [&](const Problem& x) { return x.file == file; });
  }
  CharacterList list;
  EditorState state;
  charstack::Editor controller;
};

bool mentions(const SaveReport& report, const std::string& file) {
  return std::any_of(report.problems.begin(), report.problems.end(), [&](const Problem& p) { return p.file == file; });
}

#define CHECK(condition) \
  if (!(condition)) failures += std::string(#condition) + " (line " + std::to_string(__LINE__) + "); "

struct Hostile {
  const char* what;
  bool asNobody;
  std::function<void(const TempFolder&, const std::string&)> make;
};

const std::vector<Hostile> kHostile = {
    {"a FIFO", false, [](const TempFolder& d, const std::string& f) { ::mkfifo(path(d, f).c_str(), 0666); }},
    {"a link to /dev/zero", false,
     [](const TempFolder& d, const std::string& f) { std::filesystem::create_symlink("/dev/zero", path(d, f)); }},
    {"a link to nothing", false,
     [](const TempFolder& d, const std::string& f) { std::filesystem::create_symlink("gone", path(d, f)); }},
    {"a folder", false, [](const TempFolder& d, const std::string& f) { std::filesystem::create_directories(path(d, f) + "/x"); }},
    {"a file its user may not read", true,
     [](const TempFolder& d, const std::string& f) {
       d.write(f, testPng(2, 2, 9));
       ::chmod(path(d, f).c_str(), 0);
     }},
    {"an undecodable file", false, [](const TempFolder& d, const std::string& f) { d.write(f, "someone's notes"); }},
};

void openToAll(const TempFolder& dir) {
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
    if (!e.is_symlink() && (e.is_directory() || e.is_regular_file())) ::chmod(e.path().c_str(), e.is_directory() ? 0777 : 0666);
}

TEST(HostileFolder, AnImageFileTheEditorCannotReadIsNeverDeletedOrReplaced) {
  for (const Hostile& h : kHostile) {
    SCOPED_TRACE(h.what);
    TempFolder dir;
    dir.write("data.txt", "Hero,100, 0, 0\n####\n$$$$\nMage,100, 0, 0\n####\n$$$$\n");
    dir.write("img/Mage2", testPng(3, 3, 2));
    openToAll(dir);
    h.make(dir, "img/Hero1");
    const std::string before = entry(dir, "img/Hero1");
    EXPECT_EQ(inChild(dir, h.asNobody, [&] {
      std::string failures;
      OpenEditor e(dir);
      CHECK(e.list.size() == 2 && !e.list.characters[0].image && e.list.characters[1].image);
      CHECK(e.reported("img/Hero1"));
      SaveReport saved = e.controller.store().save();  // Hero has no picture: its file would be stale
      CHECK(saved.dataFileWritten);
      // Another record named Hero takes number 1 and gets a picture: its file is not written.
      e.state.selectedCharacterRow = 0;
      e.controller.insertCharacter();
      e.controller.editCell(Table::Characters, 0, Field::Name, "Hero");
      e.controller.setPicture(Table::Characters, testImage(4, 4, 4));
      saved = e.controller.store().save();
      CHECK(!saved.ok() && mentions(saved, "img/Hero1") && saved.dataFileWritten);
      CHECK(ProjectFolder(dir.path()).readFile("img/Mage3").has_value());
      e.controller.removeCharacter();  // and its removal does not delete it either
      saved = e.controller.store().save();
      CHECK(saved.dataFileWritten);
      return failures;
    }), "");
    EXPECT_EQ(entry(dir, "img/Hero1"), before);
  }
}

TEST(HostileFolder, ADataFileTheEditorCannotReadIsNeverReplaced) {
  struct Case {
    Hostile make;
    bool withoutRecords;  // text without records: replaced only on confirmation, kept as data.txt.bak
  };
  const std::vector<Case> cases = {
      {kHostile[0], false},
      {kHostile[3], false},
      {kHostile[4], false},
      {{"1 GB of NUL bytes", false, [](const TempFolder& d, const std::string& f) {
          d.write(f, "");
          std::filesystem::resize_file(path(d, f), uint64_t{1} << 30);
        }}, false},
      {{"one line without a line feed", false, [](const TempFolder& d, const std::string& f) { d.write(f, "Hero,100, 0, 0"); }},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.make.what);
    TempFolder dir;
    dir.write("img/Hero1", testPng(2, 2, 1));
    dir.write("data.txt.bak", "an older copy");
    openToAll(dir);
    c.make.make(dir, "data.txt");
    const std::string before = entry(dir, "data.txt");
    EXPECT_EQ(inChild(dir, c.make.asNobody, [&] {
      std::string failures;
      OpenEditor e(dir);
      CHECK(e.list.empty() && e.reported("data.txt"));
      CHECK(!e.controller.store().save().dataFileWritten);  // nothing added: nothing to replace it with
      e.controller.insertCharacter();
      SaveReport saved = e.controller.store().save();
      CHECK(!saved.ok() && !saved.dataFileWritten && mentions(saved, "data.txt"));
      CHECK(saved.needsConfirmation == c.withoutRecords);
      if (c.withoutRecords) {
        SaveOptions confirmed;
        confirmed.replaceDataFileWithoutRecords = true;
        saved = e.controller.store().save(confirmed);
        CHECK(saved.ok() && saved.backupFile == "data.txt.bak2");
      }
      return failures;
    }), "");
    EXPECT_EQ(dir.read("data.txt.bak"), "an older copy");
    if (c.withoutRecords) {
      EXPECT_EQ(dir.read("data.txt.bak2"), "Hero,100, 0, 0");
      EXPECT_EQ(dir.read("data.txt"), "New Character,100, 0, 0\n####\n$$$$\n");
    } else {
      EXPECT_EQ(entry(dir, "data.txt"), before);
    }
  }
}

TEST(HostileFolder, NamesKeepTheirBytesAndAByteOrderMarkIsSkipped) {
  TempFolder dir;
  const std::string text = "kn\xffight,100, 0, 0\n####\nhelm\xc3,150,1, 0, 0\n$$$$\n";
  dir.write("data.txt", "\xEF\xBB\xBF" + text);
  dir.write("img/kn\xffight1", testPng(3, 3, 1));
  dir.write("img/helm\xc3" "2", testPng(3, 3, 2));
  OpenEditor e(dir);
  ASSERT_EQ(e.list.size(), 1);
  EXPECT_EQ(e.list.characters[0].name, "kn\xffight");
  EXPECT_TRUE(e.list.characters[0].image && e.list.characters[0].layers.at(0).image);
  EXPECT_TRUE(e.controller.store().save().ok());
  EXPECT_EQ(dir.read("data.txt"), text);
  EXPECT_EQ(dir.read("img/kn\xffight1"), testPng(3, 3, 1));
  EXPECT_EQ(dir.read("img/helm\xc3" "2"), testPng(3, 3, 2));
}

TEST(HostileFolder, AStartRemovesOnlyItsOwnLeftoverTemporaryFiles) {
  TempFolder dir;
  // A record whose file looks like another program's temporary file keeps it.
  dir.write("data.txt", ".x.tmp-abcde,1, 0, 0\n####\n$$$$\n");
  dir.write("img/.x.tmp-abcde1", testPng(3, 3, 1));
  // Only those of this project's saves (its token in the name): not another project's, reached
  // through a link, nor those of a version without tokens.
  dir.write(".charstack-lock", "tok4test");  // the project's token, made by its first lock
  const std::string own = ".charstack-tok4test-";
  const std::vector<std::string> leftovers = {own + "a1B2c3d4e5.tmp", "img/" + own + "ZZ9x0qWERT.tmp",
                                              "img/" + own + "Stage12345.tmp/Hero1"};
  const std::vector<std::string> others = {".data.txt.tmp-a1B2c3", "img/.charstack-short.tmp",
                                           "img/.charstack-a1B2c3d4e5.tmp.x", ".charstack-0123456789.tmp/x",
                                           ".charstack-a1B2c3d4e5.tmp", "img/.charstack-another1-ZZ9x0qWERT.tmp"};
  for (const std::string& f : leftovers) dir.write(f, "x");
  for (const std::string& f : others) dir.write(f, "mine");
  std::filesystem::create_symlink("data.txt", path(dir, ".charstack-linklinkli.tmp"));
  OpenEditor e(dir);
  for (const std::string& f : leftovers) EXPECT_EQ(entry(dir, f), "absent") << f;
  EXPECT_EQ(entry(dir, "img/" + own + "Stage12345.tmp"), "absent");
  for (const std::string& f : others) EXPECT_EQ(dir.read(f), "mine") << f;
  EXPECT_EQ(entry(dir, ".charstack-linklinkli.tmp"), "link to data.txt");
  EXPECT_EQ(dir.read("img/.x.tmp-abcde1"), testPng(3, 3, 1));
  EXPECT_TRUE(e.list.characters.at(0).image);
}

// A lock file nobody can lock: the window is told why, no open removes what a save may be staging,
// and a save goes on only when the user chose to work without the lock.
TEST(HostileFolder, ALockFileThatCannotBeLockedIsToldAndGuardsTheStagedFiles) {
  const std::pair<const char*, std::function<void(const TempFolder&)>> kLocks[] = {
      {"a folder", [](const TempFolder& d) { std::filesystem::create_directory(d.path() / kLockFileName); }},
      {"a link", [](const TempFolder& d) { std::filesystem::create_symlink("nowhere", d.path() / kLockFileName); }},
      {"a pipe", [](const TempFolder& d) { ::mkfifo(path(d, kLockFileName).c_str(), 0644); }},
  };
  for (const auto& [what, make] : kLocks) {
    SCOPED_TRACE(what);
    TempFolder dir;
    dir.write("data.txt", "A,1, 0, 0\n####\n$$$$\n");
    make(dir);
    // What another window's save is staging right now.
    const std::string staged = "img/.charstack-" + ProjectFolder(dir.path()).token() + "-a1B2c3d4e5.tmp";
    dir.write(staged, "being saved");
    OpenEditor e(dir);
    EXPECT_EQ(e.controller.store().ownership(), ProjectLock::Ownership::NoLockFile);
    EXPECT_NE(e.controller.store().lockProblem().find(kLockFileName), std::string::npos) << e.controller.store().lockProblem();
    EXPECT_EQ(dir.read(staged), "being saved");
    EXPECT_FALSE(e.controller.store().save().ok());
    e.controller.store().setWithoutLock(true);
    EXPECT_TRUE(e.controller.store().save().ok());
    EXPECT_EQ(dir.read(staged), "being saved");
  }
}

// A PNG that only claims its size: the header of a width x height picture, one byte of pixel data.
std::string pngHeaderOnly(uint32_t width, uint32_t height) {
  std::string png("\x89PNG\r\n\x1a\n", 8);
  auto be = [](std::string& s, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>(v >> shift);
  };
  auto chunk = [&](std::string body) {
    be(png, static_cast<uint32_t>(body.size() - 4));
    png += body;
    be(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
  };
  std::string header = "IHDR";
  be(header, width);
  be(header, height);
  chunk(header + std::string("\x08\x06\x00\x00\x00", 5));
  chunk("IDAT" + std::string("\x78\x01\x03\x00", 4));
  chunk("IEND");
  return png;
}

TEST(HostileFolder, BigPicturesOpenAndTooBigOrAnimatedOnesAreReported) {
  TempFolder dir;
  QImage big(8192, 8192, QImage::Format_ARGB32);
  big.fill(0x80336699);
  QByteArray bigPng;
  QBuffer buffer(&bigPng);
  ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && big.save(&buffer, "PNG"));
  big = QImage();
  // Two frames of one pixel each.
  const std::string gif = std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff", 19) +
                          std::string("\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00", 15) +
                          std::string("\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00", 15) + ";";
  dir.write("data.txt", "Big,0, 0, 0\n####\nHuge,0,1, 0, 0\nAnim,0,1, 0, 0\n$$$$\n");
  dir.write("img/Big1", bigPng.toStdString());
  dir.write("img/Huge2", pngHeaderOnly(20000, 20000));
  dir.write("img/Anim3", gif);
  OpenEditor e(dir);
  const Character& c = e.list.characters.at(0);
  ASSERT_TRUE(c.image);
  EXPECT_EQ(c.image->pixelWidth(), 8192);
  EXPECT_FALSE(c.layers.at(0).image);
  EXPECT_TRUE(c.layers.at(1).image);
  std::vector<Problem> problems = e.controller.store().loadProblems();
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].file, "img/Anim3");
  EXPECT_NE(problems[0].reason.find("2 frames"), std::string::npos) << problems[0].reason;
  EXPECT_EQ(problems[1].file, "img/Huge2");
  EXPECT_NE(problems[1].reason.find("too large to open: 20000x20000"), std::string::npos) << problems[1].reason;
}

}  // namespace
}  // namespace charstack

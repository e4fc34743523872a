// Saving when the disk refuses or the saver dies: stopped after any file operation, or with any one
// of them failing, a save leaves the project exactly as it was or exactly as saved, once the next
// open has finished what a committed save left. Real full and read-only file systems report their
// reasons and keep every byte; a real process killed at random moments of a big save loses nothing.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "project/journal.hpp"
#include "project/project_io.hpp"
#include "project/records.hpp"
#include "support/fakes.hpp"

namespace charstack {
namespace {

using testing::character;
using testing::filesOf;
using testing::layer;
using testing::testImage;
using Files = std::map<std::string, std::string>;

// What goes wrong at one file operation of a save.
enum class Fault {
  Stop,           // the process dies after operation k: the later ones change nothing
  NoSpace,        // operation k fails as on a full disk
  Gone,           // operation k, a rename, fails with ENOENT (a name the file system dropped)
  Refused,        // ... with EINVAL (a name the file system refuses)
  OtherDevice,    // ... with EXDEV
  StagedRemoved,  // before operation k, a rename, another process removes the file it renames
  PaintProgram,   // after operation k, a paint program saves one of the files the save replaces
};
const char* const kFaultNames[] = {"stopped after", "no space at", "ENOENT at", "EINVAL at", "EXDEV at",
                                   "staged file removed before", "paint program after"};

struct FaultyOps : FileOps {
  Fault fault = Fault::Stop;
  int at = INT_MAX;
  std::atomic<int> count{0};
  std::atomic<bool> hit{false};          // the fault happened
  std::function<void()> paintProgram;    // what the paint program does
  // Told of each operation done (from any thread, one at a time): 'c' a file made (its data, whether
  // flushed), 'r' 'l' a rename or link (the new name), 'm' a folder made, 'f' a folder synced, 's' the
  // file system synced, 'd' a file removed.
  std::function<void(char, const std::filesystem::path&, std::string_view, bool)> seen;
  std::mutex seenOne;
  // Whether operation n (counted here) is skipped (with result) or goes on.
  bool skip(bool rename, const std::filesystem::path& from, Status& result, int& n) {
    n = ++count;
    if (fault == Fault::Stop) return n > at && (result = Status::success(), hit = true);
    if (n != at) return false;
    switch (fault) {
      case Fault::NoSpace:
        return hit = true, result = Status::failure("No space left on device", ENOSPC), true;
      case Fault::Gone:
      case Fault::Refused:
      case Fault::OtherDevice: {
        if (!rename) return false;
        const int code = fault == Fault::Gone ? ENOENT : fault == Fault::Refused ? EINVAL : EXDEV;
        return hit = true, result = Status::failure(std::strerror(code), code), true;
      }
      case Fault::StagedRemoved:
        if (rename) hit = true, std::filesystem::remove(from);
        return false;
      default:
        return false;
    }
  }
  template <typename F>
  Status run(char op, const std::filesystem::path& from, F&& real, const std::filesystem::path& to = {},
             std::string_view data = {}, bool flush = true) {
    Status r;
    int n = 0;
    if (skip(op == 'r', from, r, n)) return r;
    r = real();
    if (seen) {
      std::lock_guard<std::mutex> one(seenOne);
      seen(op, to.empty() ? from : to, data, flush);
    }
    // Operations of the staging run on several threads: only the one that was operation `at` acts.
    if (fault == Fault::PaintProgram && n == at && paintProgram) hit = true, std::exchange(paintProgram, nullptr)();
    return r;
  }
  Status createFile(const std::filesystem::path& p, std::string_view d, unsigned m, FileStamp* s, bool f) override {
    return run('c', p, [&] { return FileOps::createFile(p, d, m, s, f); }, p, d, f);
  }
  Status syncFileSystem(const std::filesystem::path& p) override {
    return run('s', p, [&] { return FileOps::syncFileSystem(p); });
  }
  Status rename(const std::filesystem::path& a, const std::filesystem::path& b) override {
    return run('r', a, [&] { return FileOps::rename(a, b); }, b);
  }
  Status link(const std::filesystem::path& a, const std::filesystem::path& b) override {
    return run('l', a, [&] { return FileOps::link(a, b); }, b);
  }
  Status remove(const std::filesystem::path& p) override { return run('d', p, [&] { return FileOps::remove(p); }); }
  Status syncFolder(const std::filesystem::path& p) override {
    return run('f', p, [&] { return FileOps::syncFolder(p); });
  }
  Status createFolder(const std::filesystem::path& p) override {
    return run('m', p, [&] { return FileOps::createFolder(p); });
  }
};

// The image files a removal queues: the record's own, and its layers' when it is a character.
void queueRemoval(CharacterList& list, EditorState& state, size_t row) {
  forEachRecord(list, [&](const auto& r, int64_t number, int64_t k, int64_t) {
    if (size_t(k) == row) state.pendingImageDeletions.push_back(imageFileName(r.name, number));
  });
  list.characters.erase(list.characters.begin() + long(row));
}

// `characters` characters, each with layers of the repeated names body, arm, fx...
CharacterList repeatedNames(int characters, int layers, uint32_t seed, int size = 4) {
  const char* const names[] = {"body", "arm", "fx", "leg", "hat"};
  CharacterList list;
  for (int k = 0; k < characters; ++k) {
    Character c = character("hero", 100 + k, testImage(size, size, seed++));
    for (int m = 0; m < layers; ++m) c.layers.push_back(layer(names[m % 5], 150 + m, testImage(size, size, seed++)));
    list.characters.push_back(std::move(c));
  }
  return list;
}

struct Scenario {
  const char* what;
  CharacterList old;
  std::function<void(CharacterList&, EditorState&)> edit;
};

std::vector<Scenario> scenarios() {
  CharacterList heroWolf{{character("Hero", 1, testImage(5, 4, 1)), character("Wolf", 2, testImage(4, 5, 3))}};
  heroWolf.characters[0].layers = {layer("Arm", 3, testImage(3, 3, 2))};
  return {
      {"a renumbering save with repeated names", repeatedNames(3, 3, 1),
       [](CharacterList& l, EditorState&) {
         l.characters.insert(l.characters.begin(), repeatedNames(1, 3, 50).characters[0]);
       }},
      {"a removal", repeatedNames(3, 2, 1), [](CharacterList& l, EditorState& s) { queueRemoval(l, s, 1); }},
      {"a rename onto an existing file", heroWolf,
       [](CharacterList& l, EditorState& s) {
         s.pendingImageDeletions = {"Arm2"};
         l.characters[0].layers.clear();
         l.characters[1].name = "Arm";  // now record 2: "img/Arm2", the removed layer's file
       }},
      {"an unchanged save", heroWolf, [](CharacterList&, EditorState&) {}},
  };
}

// The project opened again after a save that did not finish, by another spelling of its path: as
// named, through a link, moved to another name, or copied elsewhere (the journal names nothing by
// the path the save was given).
LoadResult reopen(const testing::TempFolder& dir, int spelling) {
  const std::filesystem::path path = dir.path();
  switch (spelling % 4) {
    case 1: {
      const std::filesystem::path alias = path.string() + "-alias";
      std::filesystem::create_directory_symlink(path, alias);
      LoadResult r = openProject(ProjectFolder(alias));
      std::filesystem::remove(alias);
      return r;
    }
    case 2: {
      const std::filesystem::path moved = path.string() + "-moved";
      std::filesystem::rename(path, moved);
      LoadResult r = openProject(ProjectFolder(moved));
      std::filesystem::rename(moved, path);
      return r;
    }
    case 3: {
      // A copy has new inodes: what the recovery proves, it proves by the content.
      const std::filesystem::path copy = path.string() + "-copy";
      std::filesystem::copy(path, copy, std::filesystem::copy_options::recursive);
      std::filesystem::remove_all(path);
      std::filesystem::rename(copy, path);
      return openProject(ProjectFolder(path));
    }
    default:
      return openProject(ProjectFolder(path));
  }
}

// Every file operation of four kinds of save, stopped after it or failing in each way a disk, a file
// system or another program makes it fail. Whatever happens, a save that says "Saved" left exactly the
// new project; the next open, by any spelling, finds the old project or the new one, or refuses to go
// on (read-only, its journal kept) when a file it needs was taken away; and a paint program's file is
// never overwritten.
TEST(SaveFaults, AnyFaultAtAnyOperationLeavesTheOldOrTheNewProject) {
  int tried = 0, losses = 0, falseSaved = 0, stopped = 0, keptBeside = 0;
  const std::string paint = testing::testPng(3, 3, 777);
  for (const Scenario& scenario : scenarios()) {
    SCOPED_TRACE(scenario.what);
    for (int f = 0; f <= int(Fault::PaintProgram); ++f) {
      const Fault fault = Fault(f);
      for (int k = fault == Fault::Stop ? 0 : 1;; ++k) {
        SCOPED_TRACE(std::string(kFaultNames[f]) + " operation " + std::to_string(k));
        testing::TempFolder dir;
        CharacterList old = scenario.old;
        ASSERT_TRUE(testing::saveInto(old, dir).ok());
        LoadResult loaded = loadProject(ProjectFolder(dir.path()));
        CharacterList list = loaded.list;
        EditorState state = stateAfterLoad(loaded);
        scenario.edit(list, state);
        const CharacterList wanted = list;
        // The paint program saves (atomically) a file the save replaces, and one it removes.
        std::string painted, paintedGone;
        for (const auto& [path, bytes] : filesOf(dir)) {
          if (path.rfind("img/", 0) != 0) continue;
          bool used = false;
          forEachRecord(wanted, [&](const auto& r, int64_t n, auto...) {
            if ("img/" + imageFileName(r.name, n) != path) return;
            used = true;
            if (r.image && painted.empty()) painted = path;
          });
          if (!used && paintedGone.empty()) paintedGone = path;
        }

        FaultyOps ops;
        ops.fault = fault, ops.at = k;
        // A file of the user's under the name a kept file's saved version would take first.
        const std::string besideTaken = painted + " (saved by the editor).png";
        if (!painted.empty()) dir.write(besideTaken, "mine");
        if (!painted.empty())
          ops.paintProgram = [&] {
            for (const std::string& file : {painted, paintedGone})
              if (!file.empty()) ProjectFolder(dir.path()).writeFileAtomically(file, paint);
          };
        const SaveReport report = saveProject(list, state, ProjectFolder(dir.path(), &ops));
        if (!ops.hit && (fault == Fault::Stop ? ops.count <= k : ops.count < k)) break;  // no operation k
        if (!ops.hit) continue;  // operation k was not of the kind this fault needs
        ++tried;

        const bool paintedLate = fault == Fault::PaintProgram && !painted.empty();
        const LoadResult reopened = reopen(dir, k);
        const bool isOld = testing::sameModel(reopened.list, old), isNew = testing::sameModel(reopened.list, wanted);
        const bool paintKept =
            (painted.empty() || dir.read(besideTaken) == "mine") &&
            (!paintedLate || (dir.read(painted) == paint && (paintedGone.empty() || dir.read(paintedGone) == paint)));
        stopped += reopened.recoveryStopped;
        for (const Problem& p : report.problems) keptBeside += p.reason.find("the saved version is") != std::string::npos;
        // With a paint program's file, the records are the old or the new ones, and that file is its.
        const std::string text = buildDataText(reopened.list);
        const bool records = text == buildDataText(old) || text == buildDataText(wanted);
        // A save that says it is done left the new project, and nothing else.
        if (report.ok() && !(paintedLate ? text == buildDataText(wanted) : isNew))
          ++falseSaved, ADD_FAILURE() << "a save reported as done did not happen";
        // The next open finds the old or the new project; a paint program's file stays; only a
        // staged file taken away may stop the recovery, and then it names why.
        const bool whole = isOld || isNew || reopened.recoveryStopped || (paintedLate && records);
        if (!whole || !paintKept) {
          ++losses, ADD_FAILURE() << "a record or a picture was lost";
          for (const Problem& p : report.problems) std::printf("  save: %s: %s\n", p.file.c_str(), p.reason.c_str());
          for (const Problem& p : reopened.problems) std::printf("  open: %s: %s\n", p.file.c_str(), p.reason.c_str());
        }
        EXPECT_TRUE(!reopened.recoveryStopped || fault == Fault::StagedRemoved);
        // Without its journal, a save changes nothing.
        for (const Problem& p : report.problems)
          EXPECT_TRUE(p.file != kJournalFileName || p.reason.rfind("could not be written", 0) != 0 || isOld);
        EXPECT_TRUE(!reopened.recoveryStopped || !reopened.problems.empty());
        int temporaries = 0;
        filesOf(dir, &temporaries);
        EXPECT_TRUE(temporaries == 0 || reopened.recoveryStopped);
        if (HasFailure()) break;
      }
    }
  }
  std::printf("[ figures  ] %d fault points tried: %d saves lost a record or a picture, %d said \"Saved\" falsely, "
              "%d recoveries stopped read-only, %d paint-program files kept beside the saved version\n",
              tried, losses, falseSaved, stopped, keptBeside);
  EXPECT_EQ(losses + falseSaved, 0);
}

// Every file a journal names, and its name in its folder, is durable before the journal is written;
// the renames are durable before the first removal. A file flushed late would leave the journal
// naming a file that a power cut emptied.
TEST(SaveFaults, WhatTheJournalNamesIsDurableBeforeIt) {
  std::set<std::string> unflushed, unsynced;  // files written, folders with names made, not yet durable
  std::vector<std::string> failures;
  bool committed = false, stepped = false;  // the journal is in place; its first step was taken
  auto key = [](const std::filesystem::path& p) { return std::filesystem::weakly_canonical(p).string(); };
  auto expectDurable = [&](const std::string& before) {
    for (const std::string& f : unflushed) failures.push_back(f + " not flushed before " + before);
    for (const std::string& f : unsynced) failures.push_back(f + " not synced before " + before);
  };
  FaultyOps ops;
  ops.seen = [&](char op, const std::filesystem::path& p, std::string_view data, bool flush) {
    const bool journal = p.filename() == kJournalFileName;
    if (op == 'c' && data.substr(0, 17) == "charstack journal") expectDurable("the journal");
    if (committed && !journal && (op == 'd' || (op == 'r' && !stepped))) expectDurable("a step of the journal");
    stepped = stepped || (committed && op == 'r');
    committed = committed || (op == 'r' && journal);
    if (op == 'c' && !flush) unflushed.insert(key(p));
    if (op == 'c' || op == 'r' || op == 'l' || op == 'm') unsynced.insert(key(p.parent_path()));
    if (op == 's') unflushed.clear(), unsynced.clear();
    if (op == 'f') unsynced.erase(key(p));
  };
  std::vector<Scenario> all = scenarios();  // and a save that encodes a single picture
  all.push_back({"one new picture", repeatedNames(1, 0, 1), [](CharacterList& l, EditorState&) {
                   l.characters[0].image = testImage(4, 4, 99);
                 }});
  for (Scenario& scenario : all) {
    SCOPED_TRACE(scenario.what);
    testing::TempFolder dir;
    ASSERT_TRUE(testing::saveInto(scenario.old, dir).ok());
    LoadResult loaded = loadProject(ProjectFolder(dir.path()));
    EditorState state = stateAfterLoad(loaded);
    scenario.edit(loaded.list, state);
    committed = stepped = false, unflushed.clear(), unsynced.clear();
    EXPECT_TRUE(saveProject(loaded.list, state, ProjectFolder(dir.path(), &ops)).ok());
    EXPECT_EQ(failures, std::vector<std::string>{});
  }
}

// A journal cut short anywhere, or naming anything a save could not have written, is no journal:
// nothing of it is carried out.
TEST(SaveFaults, AJournalCutShortOrDamagedIsRefusedWhole) {
  Journal journal;
  journal.folderDevice = 2049, journal.folderInode = 77;
  journal.staging = temporaryFileName("tok");
  journal.puts = {{"Hero 1", {120, 0xabcdef}, std::nullopt}, {"Arm2", {80, 42}, FileStamp{2049, 78, 80, 123456789}}};
  journal.stagedData = temporaryFileName("tok");
  journal.dataContent = {33, 7};
  journal.dataWas = FileStamp{2049, 79, 30, 5};
  journal.removals = {{"Old3", {2049, 80, 10, 1}}, {"Old4", {2049, 81, 11, 2}}};
  const std::string text = journalText(journal);
  ASSERT_TRUE(parseJournal(text));
  EXPECT_EQ(journalText(*parseJournal(text)), text);
  for (size_t n = 0; n < text.size(); ++n) EXPECT_FALSE(parseJournal(text.substr(0, n))) << "cut short at " << n;
  auto damaged = [&](const std::string& from, const std::string& to) {
    std::string t = text;
    return t.replace(t.find(from), from.size(), to);
  };
  Journal noPuts = journal;
  noPuts.puts.clear();
  const std::string damages[] = {damaged("put Hero%201", "put ../data.txt"), damaged("remove Old3", "remove a/b"),
                                 damaged("data " + journal.stagedData, "data ../" + journal.stagedData),
                                 damaged("stage " + journal.staging, "stage Hero1"), journalText(noPuts),
                                 damaged("Arm2 80 ", "Arm2 -80 ")};
  for (const std::string& d : damages) EXPECT_FALSE(parseJournal(d)) << d;
}

// Another program changes "data.txt" while the pictures are written: the save stops at its commit.
TEST(SaveFaults, AChangeDuringTheSaveIsFoundAtTheCommit) {
  FaultyOps ops;  // the other program writes after the first operation of the save
  ops.fault = Fault::PaintProgram, ops.at = 1;
  testing::TempFolder dir;
  CharacterList list = repeatedNames(2, 2, 1);
  ASSERT_TRUE(testing::saveInto(list, dir).ok());
  LoadResult loaded = loadProject(ProjectFolder(dir.path()));
  EditorState state = stateAfterLoad(loaded);
  loaded.list.characters[0].image = testImage(6, 6, 9);
  auto before = filesOf(dir);
  ops.paintProgram = [&] { dir.write("data.txt", before["data.txt"] = "Other,1, 0, 0\n####\n$$$$\n"); };
  SaveReport report = saveProject(loaded.list, state, ProjectFolder(dir.path(), &ops));
  EXPECT_EQ(report.changedOnDisk, std::vector<std::string>{"data.txt"});
  EXPECT_FALSE(report.ok() || report.dataFileWritten);
  EXPECT_EQ(filesOf(dir), before);
  // With the user's leave, it goes through.
  SaveOptions options;
  options.replaceAnyway = {"data.txt"};
  SaveReport again = saveProject(loaded.list, state, ProjectFolder(dir.path()), options);
  for (const Problem& p : again.problems) ADD_FAILURE() << p.file << ": " << p.reason;
  testing::expectLoadsAs(dir, loaded.list);
}

constexpr int kNoNamespace = 77;

bool enterPrivateMountTable() {
  const std::string uid = std::to_string(::geteuid()), gid = std::to_string(::getegid());
  const bool root = ::geteuid() == 0;
  if (::unshare(root ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
  for (const auto& [file, text] : std::vector<std::pair<std::string, std::string>>{
           {"setgroups", "deny"}, {"uid_map", uid + " " + uid + " 1"}, {"gid_map", gid + " " + gid + " 1"}})
    if (!root && !(std::ofstream("/proc/self/" + file) << text << std::flush)) return false;
  return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Runs body in a child process with its own mount table; the child prints its failures.
void inOwnMountTable(const std::function<void()>& body) {
  std::fflush(stdout);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (!enterPrivateMountTable()) _exit(kNoNamespace);
    body();
    std::fflush(stdout);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_TRUE(::waitpid(child, &status, 0) == child && WIFEXITED(status)) << "the test's child process crashed";
  if (WEXITSTATUS(status) == kNoNamespace) GTEST_SKIP() << "no private mount table here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child process reported the failures above";
}

// A real tiny tmpfs filled to the last byte, then a read-only bind mount: the save says why, and every
// file keeps its bytes; with room again it goes through.
TEST(SaveFaults, FullAndReadOnlyDisksKeepEveryByte) {
  testing::TempFolder dir;
  inOwnMountTable([&] {
    ASSERT_EQ(::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=256k"), 0);
    CharacterList old = repeatedNames(2, 2, 1, 8);
    ASSERT_TRUE(testing::saveInto(old, dir).ok());
    LoadResult loaded = loadProject(ProjectFolder(dir.path()));
    EditorState state = stateAfterLoad(loaded);
    CharacterList list = loaded.list;
    list.characters[0].name = "Knight";
    forEachRecord(list, [](auto& r, int64_t n, auto...) { r.image = testImage(8, 8, uint32_t(30 + n)), ++r.value; });
    const Files oldFiles = filesOf(dir);

    int fd = ::open((dir.path() / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    for (size_t n = 4096; n > 0; n /= 2)  // take every byte that is left
      while (::write(fd, std::string(n, 'f').data(), n) == ssize_t(n)) continue;
    ::close(fd);
    for (const char* reason : {"No space left on device", "Read-only file system"}) {
      if (std::string(reason) == "Read-only file system") {
        std::filesystem::remove(dir.path() / "filler");
        ASSERT_EQ(::mount(nullptr, dir.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=256k"), 0);
      }
      SaveReport report = saveProject(list, state, ProjectFolder(dir.path()));
      EXPECT_TRUE(report.refused && !report.dataFileWritten);
      EXPECT_TRUE(!report.problems.empty() && report.problems[0].reason.find(reason) != std::string::npos) << reason;
      Files now = filesOf(dir);
      now.erase("filler");
      EXPECT_EQ(now, oldFiles);
      EXPECT_EQ(list.characters[0].savedName, "hero");
    }
    ASSERT_EQ(::mount(nullptr, dir.path().c_str(), nullptr, MS_REMOUNT, "size=256k"), 0);
    EXPECT_TRUE(saveProject(list, state, ProjectFolder(dir.path())).ok());
    testing::expectLoadsAs(dir, list);
  });
}

// kill -9 at random moments of a save that renumbers 500 characters with 10 layers each. In memory
// when the machine has a tmpfs: a kill leaves the same files there, thousands of times faster.
TEST(SaveFaults, KilledAtRandomMomentsABigRenumberingSaveLosesNoPicture) {
  const std::filesystem::path base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path();
  testing::TempFolder pristine(base), dir(base);
  const CharacterList old = repeatedNames(500, 10, 1, 6);
  CharacterList saved = old;
  ASSERT_TRUE(testing::saveInto(saved, pristine).ok());
  CharacterList wanted = old;
  wanted.characters.insert(wanted.characters.begin(), repeatedNames(1, 10, 90000, 6).characters[0]);
  // Saves replace files and never write into one, so links to the pristine copy restore the old project.
  const Files before = filesOf(pristine);
  auto restoreOld = [&] {
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directories(dir.path() / "img");
    for (const auto& [path, bytes] : before)
      std::filesystem::create_hard_link(pristine.path() / path, dir.path() / path);
  };
  // The editor in a child process: opens the project, inserts the character, says so, saves.
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  auto saveInChild = [&] {
    pid_t child = fork();
    if (child == 0) {
      LoadResult loaded = openProject(ProjectFolder(dir.path()));
      EditorState state = stateAfterLoad(loaded);
      loaded.list.characters.insert(loaded.list.characters.begin(), wanted.characters[0]);
      if (::write(ready[1], "s", 1) != 1) _exit(2);
      _exit(saveProject(loaded.list, state, ProjectFolder(dir.path())).ok() ? 0 : 1);
    }
    char c;
    return ::read(ready[0], &c, 1) == 1 ? child : -1;
  };
  auto reap = [](pid_t child) {
    int status = 0;
    return waitpid(child, &status, 0) == child && (!WIFEXITED(status) || WEXITSTATUS(status) == 0);
  };
  restoreOld();
  pid_t first = saveInChild();
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(first > 0 && reap(first));
  const double saveMicros =
      double(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count());

  std::mt19937 rng(4711);
  int olds = 0, news = 0, finished = 0, lost = 0;
  // Under AddressSanitizer each save takes several times as long: fewer kills there look for memory
  // faults on the same paths, the plain build makes all of them.
#if defined(__SANITIZE_ADDRESS__)
  const int kills = 6;
#else
  const int kills = 30;
#endif
  for (int run = 0; run < kills; ++run) {
    SCOPED_TRACE("kill " + std::to_string(run));
    restoreOld();
    pid_t child = saveInChild();
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<long>(0, long(saveMicros))(rng)));
    kill(child, SIGKILL);
    ASSERT_TRUE(reap(child)) << "the save itself failed";
    finished += std::filesystem::exists(dir.path() / kJournalFileName);
    const LoadResult reopened = openProject(ProjectFolder(dir.path()));
    const bool isOld = testing::sameModel(reopened.list, old), isNew = testing::sameModel(reopened.list, wanted);
    olds += isOld, news += isNew;
    if (!isOld && !isNew) {
      // Count the pictures that are not where either save put them.
      std::vector<ImageRef> got, a, b;
      forEachRecord(reopened.list, [&](const auto& r, auto...) { got.push_back(r.image); });
      forEachRecord(wanted, [&](const auto& r, auto...) { b.push_back(r.image); });
      for (size_t i = 0; i < got.size() && i < b.size(); ++i) lost += !got[i] || !got[i]->samePixels(*b[i]);
      ADD_FAILURE() << "the project is neither the old nor the new one";
    }
    EXPECT_TRUE(reopened.problems.empty());
    if (HasFailure()) break;
  }
  std::printf("[ figures  ] %d kills of a %.2f s save: %d left the old project, %d the new one (%d finished by the "
              "next open), %d pictures lost\n",
              kills, saveMicros / 1e6, olds, news, finished, lost);
  EXPECT_GT(olds + finished, 0);
  ::close(ready[0]), ::close(ready[1]);
}

}  // namespace
}  // namespace charstack

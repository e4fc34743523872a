// libFuzzer target for the journal that every open carries out: whatever the bytes, reading must not
// crash, and a journal it accepts names only what a save writes (its own staging folder, whose files
// go onto image file names, its own temporary "data.txt" inside the project, image files removed) and
// reads back the same when written again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "model/names.hpp"
#include "project/journal.hpp"
#include "platform/files.hpp"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "journal_fuzz: %s\n", what);
  std::abort();
}

bool same(const charstack::Journal& a, const charstack::Journal& b) {
  if (a.folderDevice != b.folderDevice || a.folderInode != b.folderInode || a.staging != b.staging || a.puts.size() != b.puts.size() || a.removals.size() != b.removals.size() ||
      a.stagedData != b.stagedData || !(a.dataContent == b.dataContent) || a.dataWas != b.dataWas)
    return false;
  for (size_t i = 0; i < a.puts.size(); ++i)
    if (a.puts[i].target != b.puts[i].target || !(a.puts[i].content == b.puts[i].content) || a.puts[i].was != b.puts[i].was)
      return false;
  for (size_t i = 0; i < a.removals.size(); ++i)
    if (a.removals[i].fileName != b.removals[i].fileName || !(a.removals[i].stamp == b.removals[i].stamp)) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::optional<charstack::Journal> journal =
      charstack::parseJournal(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!journal) return 0;
  if (!journal->puts.empty() && !charstack::isTemporaryFileName(journal->staging))
    fail("pictures put from something that is no staging folder of a save");
  for (const charstack::Journal::Put& p : journal->puts)
    if (!charstack::isSafeImageFileName(p.target)) fail("a picture put onto something that is no image file name");
  if (!journal->stagedData.empty()) {
    const std::filesystem::path staged(journal->stagedData);
    if (staged.is_absolute() || !charstack::isTemporaryFileName(staged.filename().string()))
      fail("a data file that is not a temporary file of a save inside the project");
    for (const auto& part : staged)
      if (part == "..") fail("a data file that leads out of the project");
  }
  for (const charstack::Journal::Removal& r : journal->removals)
    if (!charstack::isSafeImageFileName(r.fileName)) fail("a removal of something that is no image file name");
  const std::optional<charstack::Journal> again = charstack::parseJournal(charstack::journalText(*journal));
  if (!again || !same(*journal, *again)) fail("a journal written again reads back otherwise");
  return 0;
}

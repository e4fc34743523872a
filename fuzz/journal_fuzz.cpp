// libFuzzer target for the journal that every open carries out: whatever the bytes, reading must not
// crash, and a journal it accepts names only what a save writes (its own temporary files renamed onto
// image file names, its own temporary "data.txt", image files removed) and reads back the same when
// written again.
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
  if (a.renames.size() != b.renames.size() || a.removals.size() != b.removals.size() || a.stagedData != b.stagedData)
    return false;
  for (size_t i = 0; i < a.renames.size(); ++i)
    if (a.renames[i].staged != b.renames[i].staged || a.renames[i].target != b.renames[i].target) return false;
  for (size_t i = 0; i < a.removals.size(); ++i)
    if (a.removals[i].fileName != b.removals[i].fileName || !(a.removals[i].stamp == b.removals[i].stamp)) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::optional<charstack::Journal> journal =
      charstack::parseJournal(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!journal) return 0;
  for (const charstack::Journal::Rename& r : journal->renames)
    if (!charstack::isTemporaryFileName(r.staged) || !charstack::isSafeImageFileName(r.target))
      fail("a rename of something a save does not write");
  if (!journal->stagedData.empty() &&
      !charstack::isTemporaryFileName(std::filesystem::path(journal->stagedData).filename().string()))
    fail("a data file that is not a temporary file of a save");
  for (const charstack::Journal::Removal& r : journal->removals)
    if (!charstack::isSafeImageFileName(r.fileName)) fail("a removal of something that is no image file name");
  const std::optional<charstack::Journal> again = charstack::parseJournal(charstack::journalText(*journal));
  if (!again || !same(*journal, *again)) fail("a journal written again reads back otherwise");
  return 0;
}

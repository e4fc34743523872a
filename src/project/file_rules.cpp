#include "project/file_rules.hpp"

namespace charstack {

FileRule fileRule(const FileFacts& facts, std::string* reason) {
  if (!facts.now.exists) return FileRule::Free;
  const std::string& why = !facts.now.regular ? facts.now.reason : facts.unreadable;
  if (!why.empty()) {
    if (reason) *reason = why;
    return FileRule::Never;
  }
  if (!facts.seen) return FileRule::Foreign;
  return *facts.seen == facts.now.stamp ? FileRule::Ours : FileRule::Changed;
}

FileFacts imageFileFacts(const FileInfo& now, const EditorState& state, const std::string& fileName) {
  FileFacts facts{now, std::nullopt, {}};
  auto known = state.knownImageFiles.find(fileName);
  if (known != state.knownImageFiles.end()) facts.seen = known->second.stamp;
  if (!now.exists || !now.regular) return facts;
  if (state.unreadableImageFiles.count(fileName))
    facts.unreadable = "could not be read as a picture";
  else if (known != state.knownImageFiles.end() && known->second.image)
    facts.unreadable = known->second.image->readProblem();
  return facts;
}

FileRule sinceSeen(const std::optional<FileStamp>& now, const std::optional<FileStamp>& then) {
  if (now != then) return FileRule::Changed;
  return now ? FileRule::Ours : FileRule::Free;
}

}  // namespace charstack

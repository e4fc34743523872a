#!/usr/bin/env python3
"""A mutation pass over the code that keeps the user's files safe.

Each mutation is a small plausible fault: (name, file, exact old text, new text). One at a time, the
script puts it into the source, rebuilds the test program, runs the tests that concern that file
(the quick ones first, the slow ones only when the quick ones did not notice) and takes the fault
out again. A mutation is killed when a test fails (or hangs past the time limit), survived when all
pass.

  scripts/mutate.py                 every mutation
  scripts/mutate.py --only S1,J4    some of them
  scripts/mutate.py --from J1       from one of them on
  scripts/mutate.py --first E1,C1   those first
  scripts/mutate.py --check         only checks that every old text is found exactly once
  scripts/mutate.py --build DIR     the build folder (default build-dev, configured with
                                    -DCHARSTACK_TESTS=ON)
"""
import argparse
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The tests each source file is checked with: quick ones, then slow ones for what the quick ones miss.
SAVING = "Save.*:SaveFaults.WhatTheJournal*:SaveFaults.AJournal*:SaveFaults.AChange*:HostileFolder.*:FileRules.*:Disk.*:Rows/Actions.*:ControllerTest.*:UnusedImages*:Trash*"
SLOW_SAVING = "SaveFaults.AnyFault*:Model.*"
CONTROLLER = "Rows/Actions.*:ControllerTest.*:Disk.*:Transfer.*"
TESTS = {
    "src/project/save.cpp": (SAVING, SLOW_SAVING),
    "src/project/journal.cpp": (SAVING, SLOW_SAVING),
    "src/platform/folder_watch.cpp": ("FolderWatch.*", ""),
    "src/controller/disk_link.cpp": (CONTROLLER, "Model.*"),
    "src/controller/commands.cpp": (CONTROLLER, "Model.*"),
    "src/controller/project_store.cpp": (CONTROLLER, "Model.*"),
    "src/controller/document.cpp": (CONTROLLER, "Model.*"),
    "src/project/load.cpp": (CONTROLLER + ":Save.*:HostileFolder.*", "Model.*"),
    "src/project/transfer.cpp": ("Transfer.*:Rows/Actions.*", ""),
}

SAVE, JOURNAL, WATCH, DISK, COMMANDS = (
    "src/project/save.cpp", "src/project/journal.cpp", "src/platform/folder_watch.cpp",
    "src/controller/disk_link.cpp", "src/controller/commands.cpp")

MUTATIONS = [
    # ---- the save's plan, staging and commit ----
    ("S1 a queued deletion removes a file another program rewrote", SAVE,
     "if (fileRule(imageFileFacts(info, state, fileName)) == FileRule::Ours) plan.removals",
     "if (fileRule(imageFileFacts(info, state, fileName)) != FileRule::Never) plan.removals"),
    ("S2 staged pictures not flushed before the journal", SAVE,
     "Status s = many ? ops.syncFileSystem(folder.anchored(staging)) : ops.syncFolder(folder.anchored(staging));",
     "Status s = Status::success();"),
    ("S3 a single staged picture written without fsync", SAVE,
     "ops.createFile(path, *png, w.mode, &w.stamp, !many)", "ops.createFile(path, *png, w.mode, &w.stamp, !many && false)"),
    ("S4 a picture-less record's file never read is removed unasked", SAVE,
     "if (rule != FileRule::Ours && !options.replaceAnyway.count(imagePath(fileName)))",
     "if (rule == FileRule::Changed && !options.replaceAnyway.count(imagePath(fileName)))"),
    ("S5 a saved picture-less record takes a file another program put there", SAVE,
     "} else if ((*r.savedName && !renamed) || queued.count(fileName) || state.knownImageFiles.count(fileName)) {",
     "} else if (queued.count(fileName) || state.knownImageFiles.count(fileName)) {"),
    ("S6 a picture whose file was deleted believed still written", SAVE,
     "known->second.image == image &&\n                           plan.present.count(fileName);",
     "known->second.image == image;"),
    ("S7 a changed or never-read file replaced unasked", SAVE,
     "      if (!options.replaceAnyway.count(path)) report.changedOnDisk.push_back(path);\n", "      (void)options;\n"),
    ("S8 no last look before the commit", SAVE,
     "if (mayReplaceOrRemove(sinceSeen(now, expected))) continue;", "continue;"),
    ("S9 a changed data.txt replaced unasked", SAVE,
     "if (!mayReplaceOrRemove(sinceSeen(folder.stamp(kDataFileName), state.dataFileStamp)) &&",
     "if (false &&"),
    ("S10 a file kept beside believed the editor's", SAVE,
     "      state.knownImageFiles.erase(w.fileName);  // another program's file: the next save asks\n", ""),
    ("S11 pending deletions kept after a save", SAVE, "  state.pendingImageDeletions = {};\n", ""),
    ("S12 the result check skipped for written pictures", SAVE,
     "if (!now || now->size != w.content.size) wrong.push_back(imagePath(w.fileName));", "(void)now;"),
    ("S13 img/ not synced after staging", SAVE,
     "    if (s.ok()) s = ops.syncFolder(folder.anchored(kImageFolder));\n", ""),
    ("S14 the staged data.txt's folder not synced", SAVE,
     "if (Status s = ops.syncFolder(plan.dataTarget.parent_path()); !s.ok())",
     "if (Status s = Status::success(); !s.ok())"),
    ("S15 staged files left behind when the commit is refused", SAVE,
     "    discard(folder, saving);\n    return report;", "    return report;"),
    ("S16 foreign text of data.txt not kept as a backup", SAVE,
     "  if (state.dataFileForeign && info.exists && plan.writeData) plan.backUp = true;\n", ""),
    ("S17 a renamed record's old file removed though another record now writes it", SAVE,
     "if (!isNewName(old)) planRemoval(old, state, folder, plan);", "planRemoval(old, state, folder, plan);"),
    ("S18 a queued deletion of a file a record now uses", SAVE,
     "    else if (!pictured.count(name))\n      planRemoval(name, state, folder, plan);",
     "    else\n      planRemoval(name, state, folder, plan);"),
    ("S19 a failed journal write goes on", SAVE,
     "if (!writeJournal(folder, journal, report.problems)) return false;",
     "writeJournal(folder, journal, report.problems);"),
    ("S20 the listing of img/ always trusted", SAVE,
     "const bool asLeft = folderStamp && state.imageFolderStamp == folderStamp;", "const bool asLeft = folderStamp || true;"),
    ("S21 an unreadable file replaced", SAVE,
     "    case FileRule::Never:\n      state.unreadableImageFiles.insert(fileName);\n      report.problems.push_back({path, notWrittenText(unreadable)});\n      return std::nullopt;\n",
     "    case FileRule::Never:\n      (void)notWrittenText;\n      [[fallthrough]];\n"),
    ("S22 the linked picture's stamp not checked", SAVE,
     "if (linked && known != state.knownImageFiles.end() && *linked == known->second.stamp && content) {",
     "if ((void)known, linked && content) {"),
    # ---- the journal ----
    ("J1 a removal carried out on a file rewritten during the save", JOURNAL,
     "if (!run.sameFolder || sinceSeen(stampAt(path), r.stamp) != FileRule::Ours) continue;",
     "if (!run.sameFolder) continue;"),
    ("J2 a journal without its end accepted", JOURNAL,
     "text.substr(text.size() - kEnd.size() - 1, kEnd.size()) != kEnd ||", ""),
    ("J3 a journal without its last line feed accepted", JOURNAL, " || text.back() != '\\n')\n    return std::nullopt;",
     ")\n    return std::nullopt;"),
    ("J4 a file changed after the commit replaced", JOURNAL,
     "const bool changed = run.sameFolder ? !mayReplaceOrRemove(sinceSeen(stampAt(target), was)) : !was;",
     "const bool changed = ((void)was, false);"),
    ("J5 a missing staged file not proven", JOURNAL,
     "    if (!run.staged[i] && !holds(folder.anchored(imagePath(put.target)), put.content))",
     "    if (false)"),
    ("J6 renames not synced before the removals", JOURNAL,
     "if (Status s = run.folder.ops().syncFolder(run.folder.anchored(f));", "if (Status s = Status::success();"),
    ("J7 removals after failed renames", JOURNAL, "if (putAllInPlace(run)) removeAndFinish(run);",
     "putAllInPlace(run), removeAndFinish(run);"),
    ("J8 the journal's name not synced", JOURNAL, "if (Status sync = ops.syncFolder(folder.anchored(\"\"));",
     "if (Status sync = Status::success();"),
    ("J9 a copied folder's stamps trusted", JOURNAL,
     "                   static_cast<uint64_t>(self.st_ino) == journal.folderInode;", "                   true;"),
    ("J10 a staging folder without pictures accepted", JOURNAL,
     "if (!folder || (!journal.staging.empty() && journal.puts.empty())) return std::nullopt;",
     "if (!folder) return std::nullopt;"),
    ("J11 the size not looked at before the content", JOURNAL,
     "if (!now || now->size != content.size) return false;", "if (!now) return false;"),
    ("J12 a put after the staging folder changed accepted anywhere", JOURNAL,
     "} else if (f[0] == \"put\" && f.size() == 5 && !journal.staging.empty() && isSafeImageFileName(*name)) {",
     "} else if (f[0] == \"put\" && f.size() == 5 && !journal.staging.empty()) {"),
    ("J13 the data target's folder not compared", JOURNAL,
     "if (!inside || parentOf(*inside) != parentOf(journal.stagedData))", "if (!inside)"),
    ("J14 a kept-beside name may take an existing file", JOURNAL,
     "for (int n = 2; folder.inspect(name).exists || ownStamp(folder.anchored(name)); ++n)",
     "for (int n = 2; (void)folder, false; ++n)"),
    # ---- the watch of the folders ----
    ("W1 files renamed into img/ not told", WATCH, "IN_MOVED_FROM | IN_MOVED_TO |", "IN_MOVED_FROM |"),
    ("W2 mode changes not told", WATCH, "IN_ATTRIB | IN_DELETE_SELF", "IN_DELETE_SELF"),
    ("W3 events of img/ dropped", WATCH, "if (folder == impl_->folders.end()) continue;",
     "if (folder == impl_->folders.end() || folder->second == 1) continue;"),
    ("W4 removals not told", WATCH, "IN_CREATE | IN_DELETE |", "IN_CREATE |"),
    ("W5 every event told for the first folder", WATCH, "if (w >= 0) impl_->folders.emplace(w, i);",
     "if (w >= 0) impl_->folders.emplace(w, 0);"),
    ("W6 an overflow not told", WATCH, "          events.push_back({0, {}, true});\n", ""),
    ("W7 one read per notice", WATCH, "for (ssize_t n; (n = ::read(impl_->fd, buffer, sizeof buffer)) > 0;) {",
     "if (ssize_t n = ::read(impl_->fd, buffer, sizeof buffer); n > 0) {"),
    # ---- what the editor does with a look at the disk ----
    ("D1 a look begun before a save applied after it", DISK,
     "  if (result.saveCount != store_.saveCount()) return changes;\n", ""),
    ("D2 a deleted picture's file still believed there", DISK,
     "      state_.knownImageFiles.erase(f.name);\n      if (!shown) continue;", "      if (!shown) continue;"),
    ("D3 files rewritten in place not seen", DISK, "if (want.unknown ? !file.stamp : file.stamp == want.last) return;",
     "if (want.unknown ? !file.stamp : file.stamp.has_value() == want.last.has_value()) return;"),
    ("D4 a conflict taken silently", DISK, "      if (shown == before) {", "      if (true) {"),
    ("D5 the user's picture kept in a conflict not made the file's", DISK,
     "    state_.knownImageFiles[name] = {change.picture, change.stamp};\n", ""),
    ("D6 a file no record uses stays the editor's", DISK,
     "      state_.knownImageFiles.erase(f.name);\n      continue;\n    }\n    const ImageRef shown",
     "      continue;\n    }\n    const ImageRef shown"),
    ("D7 a different picture under a record's name made the editor's", DISK,
     "if (shown->samePixels(*f.decoded.image)) state_.knownImageFiles[f.name] = {shown, change.stamp};",
     "state_.knownImageFiles[f.name] = {shown, change.stamp};"),
    ("D8 a file become unreadable not noted", DISK, "    else state_.unreadableImageFiles.insert(f.name);\n", ""),
    ("D9 a changed data.txt not told", DISK,
     "result.dataFileChanged = result.dataFile && !(result.dataFile == request.dataFile);",
     "result.dataFileChanged = false;"),
    # ---- the steps of the history ----
    ("C1 nudges of two records merged", COMMANDS, "!next->mergeable_ || !(next->at_ == at_) ||", "!next->mergeable_ ||"),
    ("C2 an undone insert queues deletions", COMMANDS, "    takeOut(saved);", "    takeOut(true);"),
    ("C3 an undone removal takes back deletions after a save", COMMANDS,
     "if (edits_.saveCount() == saveCount_ && pending.size() >= queued_.size() &&",
     "if (pending.size() >= queued_.size() &&"),
    ("C4 a removal queues no deletion", COMMANDS, "  if (queueFiles) {", "  if ((void)queueFiles, false) {"),
    ("C5 a picture taken from a file changed since believed the file's", COMMANDS,
     "const bool unchanged = edits_.stampOf(fileName_) == newDisk_.stamp;", "const bool unchanged = true;"),
    ("C6 an undone take still believed in its file", COMMANDS,
     "  edits_.setDiskPicture(fileName_, std::nullopt);\n  restore(false);", "  restore(false);"),
    ("C7 an undone edit keeps the new value", COMMANDS,
     "void PropertyCommand::undo() {\n  edits_.document().setProperty(at_, property_, old_);",
     "void PropertyCommand::undo() {"),
    ("C8 a reorder undone by the same order", COMMANDS,
     "inverse_[static_cast<size_t>(order_[i])] = static_cast<int64_t>(i);",
     "inverse_[i] = order_[i];"),
    # ---- the other faults of the audit ----
    ("E1 Show/Hide not an unsaved change", "src/controller/project_store.cpp",
     "if (!same(a.layers[m], b.layers[m]) || a.layers[m].visible != b.layers[m].visible) return true;",
     "if (!same(a.layers[m], b.layers[m])) return true;"),
    ("E2 the late picture check clears a picture set meanwhile", "src/project/load.cpp",
     "if (disk != known.end() && r.image == disk->second.image) r.image = nullptr",
     "if (disk != known.end()) r.image = nullptr"),
    ("E3 a pasted layer x beyond 32 bits truncated", "src/project/transfer.cpp",
     "|| !fitsInt32(n[2]) || !fitsInt32(n[3])) return false;", "|| !fitsInt32(n[3])) return false;"),
    ("E4 \"12x3\" read as numbers", "src/project/transfer.cpp",
     "      if (!line.empty() && line.front() != ' ') return false;\n", ""),
    ("E5 an insert at the shown character's row leaves the layers table", "src/controller/document.cpp",
     "if (layerTableRow_ >= p) layerTableRow_ += count;", "if (layerTableRow_ > p) layerTableRow_ += count;"),
]


def run(command, timeout, log):
    started = time.time()
    try:
        done = subprocess.run(command, cwd=ROOT, stdout=log, stderr=subprocess.STDOUT, timeout=timeout,
                              env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        return done.returncode, time.time() - started
    except subprocess.TimeoutExpired:
        return "timeout", time.time() - started


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", default="", help="names (their first word) to run, comma-separated")
    parser.add_argument("--from", dest="start", default="", help="the name (its first word) to start from")
    parser.add_argument("--first", default="", help="names to run before the others, comma-separated")
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--build", default="build-dev")
    parser.add_argument("--test-timeout", type=int, default=900)
    args = parser.parse_args()
    only = set(filter(None, args.only.split(",")))
    chosen = [m for m in MUTATIONS if not only or m[0].split()[0] in only]
    if args.first:  # these first, then the rest in their order
        names = args.first.split(",")
        chosen.sort(key=lambda m: names.index(m[0].split()[0]) if m[0].split()[0] in names else len(names))
    if args.start:
        chosen = chosen[[m[0].split()[0] for m in chosen].index(args.start):]
    bad = 0
    for name, path, old, new in chosen:
        count = open(os.path.join(ROOT, path)).read().count(old)
        if count != 1:
            print(f"{name}: the old text is found {count} times in {path}")
            bad += 1
    if bad or args.check:
        print(f"{len(chosen)} mutations, {bad} not applicable")
        return 1 if bad else 0

    binary = os.path.join(args.build, "tests", "charstack_tests")
    build = ["nice", "-n", "5", "cmake", "--build", args.build, "-j2", "--target", "charstack_tests"]
    results = []
    log = open(os.path.join(ROOT, args.build, "mutate.log"), "w")
    for i, (name, path, old, new) in enumerate(chosen, 1):
        source = os.path.join(ROOT, path)
        original = open(source).read()
        print(f"[{i}/{len(chosen)}] {name} ...", end="", flush=True)
        log.write(f"\n===== {name} ({path})\n")
        log.flush()
        try:
            open(source, "w").write(original.replace(old, new, 1))
            code, seconds = run(build, 1800, log)
            if code != 0:
                verdict = "NO-BUILD"
            else:
                verdict = "SURVIVED"
                for tests in TESTS[path]:
                    if not tests:
                        continue
                    code, more = run(["nice", "-n", "5", binary, "--gtest_filter=" + tests], args.test_timeout, log)
                    seconds += more
                    if code != 0:
                        verdict = "KILLED" if code != "timeout" else "KILLED (timeout)"
                        break
        finally:
            open(source, "w").write(original)
        results.append((name, verdict))
        print(f" {verdict} ({seconds:.0f} s)", flush=True)
    killed = sum(v.startswith("KILLED") for _, v in results)
    built = sum(v != "NO-BUILD" for _, v in results)
    print(f"\n{len(results)} mutations, {built} built, {killed} killed, {built - killed} survived")
    for name, verdict in results:
        if verdict == "SURVIVED":
            print("  survived:", name)
    # The sources are as they were; the next build puts the program back as it is.
    run(build, 1800, log)
    return 0


if __name__ == "__main__":
    sys.exit(main())

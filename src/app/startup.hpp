// How the program starts: its command line, the project folder it opens, the recently opened
// projects, and the window-less export for build scripts.
#pragma once

#include <QStringList>
#include <filesystem>
#include <optional>

#include "canvas/export.hpp"

namespace charstack {

// What the command line asks for.
struct Invocation {
  enum class Kind { Window, Export, Help, Version, Usage };
  Kind kind = Kind::Window;
  QString text;                                  // the help or version text, or what is wrong
  std::optional<std::filesystem::path> project;  // the folder named on the command line
  std::filesystem::path exportFolder;            // for Export
  ExportOptions exportOptions;                   // for Export: scale, trim, numbers, sheet
};

// True when the arguments ask for something that needs no window (--export and its options, --help,
// --version), so that the program can start without a display.
bool needsNoWindow(int argc, char** argv);

// Reads the arguments (the program's name first; Qt's own options already taken out).
Invocation parseCommandLine(const QStringList& arguments);

// The exit statuses of the window-less commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the project could not be read, or a file could not be written
inline constexpr int kExitUsage = 2;

// Exports every character of the project (the named one, or the start-up folder) into the export
// folder, printing one line per file to standard output and every problem to standard error.
int runExport(const Invocation& invocation);

// Recently opened project folders, most recent first, kept in the settings. Folders that are gone
// are left out.
QStringList recentProjects();
void rememberProject(const std::filesystem::path& folder);
void forgetRecentProjects();
inline constexpr int kMaxRecentProjects = 10;

// The folder the program opens when none is named: the executable's folder when it holds a project
// ("data.txt" or "img/") or is writable (a portable copy); otherwise the most recent project. None
// when neither applies: the user is asked.
std::optional<std::filesystem::path> startupFolder(const std::filesystem::path& executableFolder,
                                                   const QStringList& recent);

}  // namespace charstack

// The editor program: one window on a project folder. With --export, --help or --version it works
// without a window (and without a display) and exits.
#include <QApplication>
#include <QCoreApplication>
#include <cstdio>

#include "app/desktop.hpp"
#include "app/main_window.hpp"
#include "ui/project_folder_dialog.hpp"
#include "app/startup.hpp"
#include "model/model.hpp"
#include "platform/files.hpp"

namespace {

void nameTheApplication() {
  QCoreApplication::setApplicationName(QStringLiteral("charstack"));
  QCoreApplication::setOrganizationName(QStringLiteral("charstack"));
  QCoreApplication::setApplicationVersion(QStringLiteral(CHARSTACK_VERSION));
}

// Help, version and wrong usage: the same in both kinds of start.
int answerWithoutWindow(const charstack::Invocation& invocation) {
  using Kind = charstack::Invocation::Kind;
  const QByteArray text = invocation.text.toLocal8Bit();
  switch (invocation.kind) {
    case Kind::Help:
    case Kind::Version:
      std::fprintf(stdout, "%s\n", text.constData());
      return charstack::kExitOk;
    case Kind::Usage:
      std::fprintf(stderr, "%s\n", text.constData());
      return charstack::kExitUsage;
    case Kind::Export:
      return charstack::runExport(invocation);
    case Kind::Window:
      break;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (charstack::needsNoWindow(argc, argv)) {
    // No widget application: this must run in build scripts, where there is no display.
    QCoreApplication app(argc, argv);
    nameTheApplication();
    charstack::Translations translations;
    const charstack::Invocation invocation = charstack::parseCommandLine(QCoreApplication::arguments());
    const int status = answerWithoutWindow(invocation);
    if (status >= 0) return status;
    std::fprintf(stderr, "charstack: this command needs a window\n");
    return charstack::kExitUsage;
  }

  QApplication app(argc, argv);
  nameTheApplication();
  charstack::Translations translations;
  charstack::introduceToDesktop();
  const charstack::Invocation invocation = charstack::parseCommandLine(QApplication::arguments());
  if (const int status = answerWithoutWindow(invocation); status >= 0) return status;

  // A folder named on the command line wins; otherwise the start-up rule, and the user when it
  // finds none.
  std::optional<std::filesystem::path> folder = invocation.project;
  if (!folder)
    folder =
        charstack::startupFolder(charstack::ProjectFolder::executableFolder(), charstack::recentProjects());
  if (!folder) folder = charstack::askForProjectFolder(nullptr, false, {});
  if (!folder) return charstack::kExitOk;

  // The records and the editor state of the window, which outlive it.
  charstack::CharacterList list;
  charstack::EditorState state;
  charstack::MainWindow window(list, state, *folder);
  window.rememberSettings();
  window.show();
  return app.exec();
}

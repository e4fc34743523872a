// The editor program: one window on the project folder beside the executable, or on the folder named
// on the command line. --help and --version answer without a window (and without a display).
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <memory>
#include <string_view>

#include "app/app_delegate.hpp"
#include "app/desktop.hpp"
#include "app/main_window.hpp"
#include "model/model.hpp"
#include "platform/files.hpp"

namespace {

bool needsWindow(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    for (std::string_view option : {"-h", "-?", "--help", "--help-all", "-v", "--version"})
      if (argv[i] == option) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::unique_ptr<QCoreApplication> app = needsWindow(argc, argv)
                                              ? std::make_unique<QApplication>(argc, argv)
                                              : std::make_unique<QCoreApplication>(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("charstack"));
  QCoreApplication::setApplicationVersion(QStringLiteral(CHARSTACK_VERSION));
  charstack::Translations translations;

  QCommandLineParser parser;
  parser.setApplicationDescription(QCoreApplication::translate("main", "Composes game characters out of stacked images."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("project"),
                               QCoreApplication::translate("main", "The project folder to open (by default the "
                                                                   "folder that holds the program)."),
                               QStringLiteral("[project]"));
  parser.process(*app);  // answers --help and --version, and wrong usage, and exits then
  charstack::introduceToDesktop();

  std::filesystem::path folder = charstack::ProjectFolder::executableFolder();
  if (!parser.positionalArguments().isEmpty())
    folder = QFile::encodeName(parser.positionalArguments().constFirst()).toStdString();

  charstack::AppDelegate delegate;
  charstack::MainWindow window(charstack::sharedCharacterList(), charstack::sharedEditorState(), folder);
  window.show();
  delegate.applicationDidFinishLaunching();
  QObject::connect(app.get(), &QCoreApplication::aboutToQuit, [&delegate] { delegate.applicationWillTerminate(); });
  return app->exec();
}

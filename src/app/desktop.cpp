#include "app/desktop.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QLibraryInfo>

namespace charstack {

Translations::Translations(const QLocale& locale) {
  // Built into the program; a locale without a translation finds no file and keeps the English texts.
  if (editor_.load(locale, QStringLiteral("charstack"), QStringLiteral("_"), QStringLiteral(":/i18n")))
    QCoreApplication::installTranslator(&editor_);
  // Qt's own buttons and dialogs, from Debian's qt6-translations-l10n when it is installed.
  if (qt_.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(&qt_);
}

Translations::~Translations() {
  QCoreApplication::removeTranslator(&qt_);
  QCoreApplication::removeTranslator(&editor_);
}

void introduceToDesktop() {
  QGuiApplication::setDesktopFileName(QStringLiteral(CHARSTACK_APP_ID));
  QIcon icon;
  for (const char* size : {"32", "64", "256"})
    icon.addFile(QStringLiteral(":/icons/%1/" CHARSTACK_APP_ID ".png").arg(QLatin1String(size)));
  QGuiApplication::setWindowIcon(icon);
}

}  // namespace charstack

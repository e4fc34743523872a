// What makes the program a citizen of the user's desktop: its language and its name and icon.
#pragma once

#include <QLocale>
#include <QTranslator>

namespace charstack {

// While it lives, texts are in the language of locale: Japanese for a Japanese locale (the editor's
// own texts and those of Qt's dialogs), English otherwise. The program makes one with the system's
// locale right after its application object.
class Translations {
 public:
  explicit Translations(const QLocale& locale = QLocale());
  ~Translations();
  Translations(const Translations&) = delete;
  Translations& operator=(const Translations&) = delete;

 private:
  QTranslator editor_;
  QTranslator qt_;
};

// Names the program's .desktop file and sets the icon of its windows.
void introduceToDesktop();

}  // namespace charstack

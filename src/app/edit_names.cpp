// The names of the steps of the undo history. The controller names its edits in English; the window
// shows them through QCoreApplication::translate("Edit", name). This list lets lupdate find them: a
// new kind of edit in the controller needs its name here too.
#include <QtGlobal>

namespace charstack {

[[maybe_unused]] static const char* const kEditNames[] = {
    QT_TRANSLATE_NOOP("Edit", "Insert Character"),          QT_TRANSLATE_NOOP("Edit", "Insert Layer"),
    QT_TRANSLATE_NOOP("Edit", "Remove Character"),          QT_TRANSLATE_NOOP("Edit", "Remove Layer"),
    QT_TRANSLATE_NOOP("Edit", "Rename Character"),          QT_TRANSLATE_NOOP("Edit", "Rename Layer"),
    QT_TRANSLATE_NOOP("Edit", "Change Depth of Character"), QT_TRANSLATE_NOOP("Edit", "Change Depth of Layer"),
    QT_TRANSLATE_NOOP("Edit", "Show Layer"),                QT_TRANSLATE_NOOP("Edit", "Hide Layer"),
    QT_TRANSLATE_NOOP("Edit", "Set Picture of Character"),  QT_TRANSLATE_NOOP("Edit", "Set Picture of Layer"),
    QT_TRANSLATE_NOOP("Edit", "Clear Picture of Character"), QT_TRANSLATE_NOOP("Edit", "Clear Picture of Layer"),
    QT_TRANSLATE_NOOP("Edit", "Move Character"),            QT_TRANSLATE_NOOP("Edit", "Move Layer"),
};

}  // namespace charstack

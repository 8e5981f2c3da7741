#pragma once
// Qt's own texts (the file dialogs, Yes and No, the edit menus) in Chinese, like every caption of
// the program, whatever the desktop's language.

class QCoreApplication;
class QTranslator;

namespace quorlin {

// Installs Qt's Chinese catalogue into the application, which owns it; nullptr when this system
// has none, and Qt's texts stay in English.
QTranslator* InstallQtTranslations(QCoreApplication& app);

}  // namespace quorlin

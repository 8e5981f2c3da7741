#include "ui/DesktopLanguage.h"

#include <QApplication>

#include "ui/QtTranslations.h"
#include "support/Messages.h"

namespace quorlin {

void SpeakDesktopLanguage(QApplication& app)
{
    InstallQtTranslations(app);
    Speak(TLanguage::Chinese, CatalogFolder());
    RestoreProgramLocale();
}

}  // namespace quorlin

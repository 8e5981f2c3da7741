#pragma once
// The desktop program speaks Chinese, like every caption of its windows, whatever language the
// desktop's locale asks for: Qt's own texts and ours.

class QApplication;

namespace quorlin {

// Call once the application object exists: it set the whole locale from the environment as it
// started, and this puts back "." in numbers.
void SpeakDesktopLanguage(QApplication& app);

}  // namespace quorlin

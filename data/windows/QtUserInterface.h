#pragma once

#include <QFont>
#include <QWidget>

#include "data/windows/UserInterface.h"

namespace quorlin {

class TQtUserInterface : public TUserInterface {
public:
    // Dialogs are owned by (centred on) the given window, if any.
    explicit TQtUserInterface(QWidget* owner = nullptr) : FOwner(owner) {}
    void SetOwner(QWidget* owner) { FOwner = owner; }

    int MessageBox(const std::string& text, const std::string& caption, int flags) override;
    void ShowError(const std::string& text) override;
    std::optional<std::string> OpenFileName(const std::string& title, const std::vector<TFileFilter>& filters) override;
    std::optional<std::string> SaveFileName(const std::string& title, const std::vector<TFileFilter>& filters,
                                            const std::string& defaultSuffix) override;
    void OpenWithDesktop(const std::string& path) override;
    void SetBusy(bool busy) override;

private:
    // While a dialog asks the user something, the wait cursor gives way to the normal one.
    class TAsking;
    QWidget* FOwner;
    int FBusy = 0;
};

// The font the windows ask for as "宋体" (13 pixels), with the CJK fonts this platform has as
// stand-ins, so that Chinese text renders.
QFont ChineseFont();

// "Description (*.a *.b)" entries for a Qt file dialog, whose own dialog matches them in any
// letter case.
QString QtFilterText(const std::vector<TFileFilter>& filters);

}  // namespace quorlin

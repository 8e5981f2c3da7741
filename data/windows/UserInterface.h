#pragma once
// Everything the windows ask of the user outside their own controls: message boxes, the file
// dialogs, the desktop's opener for files. The program uses the Qt implementation; tests put
// a scripted one in its place.

#include <optional>
#include <string>
#include <vector>

namespace quorlin {

// Message box buttons and icon, and the answers, with the values the system has always used.
enum : int {
    MB_OK = 0x00,
    MB_OKCANCEL = 0x01,
    MB_YESNO = 0x04,
    MB_ICONQUESTION = 0x20,
    IDOK = 1,
    IDCANCEL = 2,
    IDYES = 6,
    IDNO = 7,
};

struct TFileFilter {
    std::string Description;           // "Txt Files(*.Txt)"
    std::vector<std::string> Patterns;  // matched ignoring letter case: {"*.txt"}
};

class TUserInterface {
public:
    virtual ~TUserInterface() = default;
    // A modal message box; returns the button pressed (IDOK, IDYES, IDNO).
    virtual int MessageBox(const std::string& text, const std::string& caption, int flags) = 0;
    // The default display of an error that ended a command.
    virtual void ShowError(const std::string& text) = 0;
    // The open-file dialog: the chosen path, or nothing when cancelled.
    virtual std::optional<std::string> OpenFileName(const std::string& title, const std::vector<TFileFilter>& filters) = 0;
    // The save-file dialog, asking nothing about existing files; defaultSuffix ("txt") is
    // added to a name typed without one.
    virtual std::optional<std::string> SaveFileName(const std::string& title, const std::vector<TFileFilter>& filters,
                                                    const std::string& defaultSuffix) = 0;
    // Hands a file to the desktop's default program for it, without waiting.
    virtual void OpenWithDesktop(const std::string& path) = 0;
    // Says that the program is at work (a wait cursor) or done; questions asked meanwhile show
    // the normal cursor.
    virtual void SetBusy(bool busy) { (void)busy; }
};

// The program is busy for the lifetime of this object: a post, an import, a computation.
class TBusy {
public:
    explicit TBusy(TUserInterface& ui) : FUi(ui) { FUi.SetBusy(true); }
    ~TBusy() { FUi.SetBusy(false); }
    TBusy(const TBusy&) = delete;
    TBusy& operator=(const TBusy&) = delete;

private:
    TUserInterface& FUi;
};

}  // namespace quorlin

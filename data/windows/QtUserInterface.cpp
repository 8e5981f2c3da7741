#include "data/windows/QtUserInterface.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QScreen>

#include <algorithm>
#include <QUrl>

namespace quorlin {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

constexpr QChar BreakHere(0x200B);  // zero-width space: a place a line may break, showing nothing

// A long text without blanks, such as a forecast equation of twenty factors, can only be wrapped
// where a line may break: before each sign that starts a term. Not inside a number's exponent
// (1.5e-05) and not right after "=", so that a term keeps its sign.
QString WithBreaksBeforeTerms(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.size() / 4);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if ((c == u'+' || c == u'-') && i > 0) {
            const QChar before = text[i - 1];
            const bool exponent = (before == u'e' || before == u'E') && i > 1 && text[i - 2].isDigit();
            if (!exponent && before != u'=' && before != u'+' && before != u'-' && !before.isSpace()) out += BreakHere;
        }
        out += c;
    }
    return out;
}

// Qt's message box never grows wider than this on a screen of the given width (its own rule),
// and fixes its size from it: a label wider than what the box leaves it would be cut at the
// right, so the label wraps within it instead.
int WidestBox(int screenWidth) { return screenWidth <= 1024 ? screenWidth * 4 / 5 : std::min({screenWidth * 4 / 5, screenWidth - 480, 1000}); }

// A message shows its whole text, wrapped if it must be, and the user can select and copy it.
// The box keeps the message as its text; the label in its place shows where lines may break,
// as wide as a line of it or most of the screen, and what is copied from it is cleaned of the
// marks.
void ShowWholeText(QMessageBox& box, const QString& text)
{
    box.setText(text);
    auto* own = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (!own || !box.layout()) return;
    auto* shown = new QLabel(WithBreaksBeforeTerms(text), &box);
    shown->setObjectName(QStringLiteral("WholeText"));
    shown->setTextFormat(Qt::PlainText);
    shown->setWordWrap(true);
    shown->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    const QRect screen = (box.screen() ? box.screen() : QGuiApplication::primaryScreen())->geometry();
    constexpr int iconAndMargins = 120;
    const int line = shown->fontMetrics().horizontalAdvance(text) + 2;
    shown->setMinimumWidth(std::min(line, WidestBox(screen.width()) - iconAndMargins));
    delete box.layout()->replaceWidget(own, shown);  // the item that held Qt's label is ours to free
    own->hide();
    QClipboard* clipboard = QGuiApplication::clipboard();
    QObject::connect(clipboard, &QClipboard::dataChanged, &box, [clipboard] {
        QString copied = clipboard->text();
        if (copied.contains(BreakHere)) clipboard->setText(copied.remove(BreakHere));
    });
}

}  // namespace

QFont ChineseFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Zen Hei"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(13);
    return font;
}

QString QtFilterText(const std::vector<TFileFilter>& filters)
{
    QStringList entries;
    for (const auto& f : filters) {
        // Qt reads the patterns from the last parentheses of an entry, which a description may
        // already hold.
        QString entry = Q(f.Description);
        if (!entry.endsWith(u')')) {
            QStringList patterns;
            for (const auto& p : f.Patterns) patterns << Q(p);
            entry += QStringLiteral(" (") + patterns.join(u' ') + QStringLiteral(")");
        }
        entries << entry;
    }
    return entries.join(QStringLiteral(";;"));
}

class TQtUserInterface::TAsking {
public:
    explicit TAsking(const TQtUserInterface& ui) : FBusy(ui.FBusy > 0)
    {
        if (FBusy) QApplication::restoreOverrideCursor();
    }
    ~TAsking()
    {
        if (FBusy) QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    TAsking(const TAsking&) = delete;
    TAsking& operator=(const TAsking&) = delete;

private:
    bool FBusy;
};

void TQtUserInterface::SetBusy(bool busy)
{
    if (busy && FBusy++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
    if (!busy && FBusy > 0 && --FBusy == 0) QApplication::restoreOverrideCursor();
}

int TQtUserInterface::MessageBox(const std::string& text, const std::string& caption, int flags)
{
    const TAsking asking(*this);
    QMessageBox box(FOwner);
    box.setWindowTitle(Q(caption));
    box.setIcon((flags & MB_ICONQUESTION) ? QMessageBox::Question : QMessageBox::NoIcon);
    const int buttons = flags & 0x0F;
    if (buttons == MB_YESNO)
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    else if (buttons == MB_OKCANCEL)
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    else
        box.setStandardButtons(QMessageBox::Ok);
    // Last: setting the icon or the buttons lays the box out again, with its own label.
    ShowWholeText(box, Q(text));
    const int pressed = box.exec();
    if (buttons == MB_YESNO) return pressed == QMessageBox::Yes ? IDYES : IDNO;
    if (buttons == MB_OKCANCEL) return pressed == QMessageBox::Ok ? IDOK : IDCANCEL;
    return IDOK;
}

void TQtUserInterface::ShowError(const std::string& text)
{
    const TAsking asking(*this);
    QMessageBox box(FOwner);
    box.setWindowTitle(QStringLiteral("Quorlin"));
    box.setIcon(QMessageBox::Critical);
    box.setStandardButtons(QMessageBox::Ok);
    ShowWholeText(box, Q(text));
    box.exec();
}

std::optional<std::string> TQtUserInterface::OpenFileName(const std::string& title,
                                                          const std::vector<TFileFilter>& filters)
{
    QFileDialog dialog(FOwner, Q(title), QString(), QtFilterText(filters));
    // Qt's own dialog, which matches the patterns in any letter case (Linux names are not
    // case-blind, and a native dialog may not be either).
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

std::optional<std::string> TQtUserInterface::SaveFileName(const std::string& title,
                                                          const std::vector<TFileFilter>& filters,
                                                          const std::string& defaultSuffix)
{
    QFileDialog dialog(FOwner, Q(title), QString(), QtFilterText(filters));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(Q(defaultSuffix));
    // The command asks before replacing a file; the dialog does not.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

void TQtUserInterface::OpenWithDesktop(const std::string& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(Q(path)));
}

}  // namespace quorlin

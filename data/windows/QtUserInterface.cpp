#include "QtUserInterface.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QApplication>
#include <QMessageBox>
#include <QUrl>

namespace quorlin {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// "*.txt" -> "*.[tT][xX][tT]"
QString AnyCase(const std::string& pattern)
{
    QString out;
    for (QChar c : Q(pattern)) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            out += QStringLiteral("[") + c.toLower() + c.toUpper() + QStringLiteral("]");
        else
            out += c;
    }
    return out;
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
        QStringList patterns;
        for (const auto& p : f.Patterns) patterns << AnyCase(p);
        // Qt reads the patterns from the last parentheses of an entry.
        entries << Q(f.Description) + QStringLiteral(" (") + patterns.join(' ') + QStringLiteral(")");
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
    box.setText(Q(text));
    box.setIcon((flags & MB_ICONQUESTION) ? QMessageBox::Question : QMessageBox::NoIcon);
    if ((flags & 0x0F) == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    if ((flags & 0x0F) == MB_OKCANCEL) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok ? IDOK : IDCANCEL;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

void TQtUserInterface::ShowError(const std::string& text)
{
    const TAsking asking(*this);
    QMessageBox box(FOwner);
    box.setWindowTitle(QStringLiteral("Quorlin"));
    box.setText(Q(text));
    box.setIcon(QMessageBox::Critical);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

std::optional<std::string> TQtUserInterface::OpenFileName(const std::string& title,
                                                          const std::vector<TFileFilter>& filters)
{
    QFileDialog dialog(FOwner, Q(title), QString(), QtFilterText(filters));
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

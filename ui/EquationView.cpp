#include "ui/EquationView.h"

#include <QLabel>
#include <QResizeEvent>
#include <QScrollBar>

#include <algorithm>

namespace quorlin {

namespace {

// Lines shown before the equation scrolls.
constexpr int MostLines = 4;

// Where "*name" ends a term: followed by the next term's sign or by the end of the text.
std::size_t TermEnd(const std::string& text, const std::string& factor, std::size_t from)
{
    const std::string mark = "*" + factor;
    for (std::size_t at = text.find(mark, from); at != std::string::npos; at = text.find(mark, at + 1)) {
        const std::size_t end = at + mark.size();
        if (end == text.size() || text[end] == '+' || text[end] == '-') return end;
    }
    return std::string::npos;
}

}  // namespace

QString TermsApart(const std::string& text, const std::vector<std::string>& factors)
{
    // The constant follows "Y=" and may have a sign of its own; the first term's sign ends it.
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) return QString::fromStdString(text);
    const std::size_t firstTerm = text.find_first_of("+-", equals + 2);
    if (firstTerm == std::string::npos) return QString::fromStdString(text);
    std::string spaced = text.substr(0, firstTerm);
    std::size_t from = firstTerm;
    for (const std::string& factor : factors) {
        const std::size_t end = TermEnd(text, factor, from);
        if (end == std::string::npos) continue;  // a coefficient the text rounds to nothing
        spaced += ' ' + text.substr(from, end - from);
        from = end;
    }
    if (from < text.size()) spaced += ' ' + text.substr(from);
    return QString::fromStdString(spaced);
}

TEquationView::TEquationView(QWidget* parent) : QScrollArea(parent), FLabel(new QLabel)
{
    FLabel->setObjectName("EquationText");
    FLabel->setWordWrap(true);
    FLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    FLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWidget(FLabel);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void TEquationView::SetText(const QString& text)
{
    FLabel->setText(text);
    setFixedHeight(FittingHeight(viewport()->width()));
}

QString TEquationView::Text() const { return FLabel->text(); }

int TEquationView::FittingHeight(int width) const
{
    const int line = FLabel->fontMetrics().lineSpacing();
    const int margins = FLabel->contentsMargins().top() + FLabel->contentsMargins().bottom();
    const int needed = FLabel->text().isEmpty() ? line : FLabel->heightForWidth(std::max(width, 1));
    return std::clamp(needed, line, MostLines * line) + margins + 2 * frameWidth();
}

QSize TEquationView::sizeHint() const { return {FLabel->sizeHint().width(), FittingHeight(viewport()->width())}; }

QSize TEquationView::minimumSizeHint() const { return {100, FittingHeight(viewport()->width())}; }

void TEquationView::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    // A narrower window needs more lines: the height follows the width, never the other way.
    if (event->size().width() != event->oldSize().width()) setFixedHeight(FittingHeight(viewport()->width()));
}

}  // namespace quorlin

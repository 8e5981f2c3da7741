#pragma once
// The equation as the compute command writes it, wrapped between its terms so that one of forty
// factors reads in a few lines of any window width. As tall as its lines up to a few; a longer
// one scrolls, so that it never pushes the rest of the window off the screen.

#include <QScrollArea>
#include <string>
#include <vector>

class QLabel;

namespace quorlin {

// The text with a blank before each "+0.123*NAME" term and before the first one after the
// constant, so that a line breaks there and never inside a number. factors are those of the
// equation in its order: "*" and a name end a term.
QString TermsApart(const std::string& text, const std::vector<std::string>& factors);

class TEquationView : public QScrollArea {
    Q_OBJECT
public:
    explicit TEquationView(QWidget* parent = nullptr);

    void SetText(const QString& text);
    QString Text() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int FittingHeight(int width) const;

    QLabel* FLabel;
};

}  // namespace quorlin

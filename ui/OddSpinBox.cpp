#include "ui/OddSpinBox.h"

#include <algorithm>

namespace quorlin {

TOddSpinBox::TOddSpinBox(QWidget* parent) : QSpinBox(parent)
{
    setRange(1, 99);
    setSingleStep(2);
    // Every count the box holds is computed at once, typed or stepped: a typed even count is not
    // yet a count (the validator holds it back) until it is committed and raised to the odd one.
    setKeyboardTracking(true);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

void TOddSpinBox::SetLargest(int most)
{
    const int odd = std::max(1, most % 2 == 0 ? most - 1 : most);
    setMaximum(odd);
}

QValidator::State TOddSpinBox::validate(QString& text, int& pos) const
{
    const QValidator::State state = QSpinBox::validate(text, pos);
    if (state != QValidator::Acceptable) return state;
    return valueFromText(text) % 2 == 0 ? QValidator::Intermediate : state;
}

void TOddSpinBox::fixup(QString& text) const
{
    QSpinBox::fixup(text);
    bool ok = false;
    const int typed = locale().toInt(text.trimmed(), &ok);
    if (!ok) return;
    int odd = typed % 2 == 0 ? typed + 1 : typed;
    if (odd > maximum()) odd -= 2;
    text = textFromValue(std::clamp(odd, minimum(), maximum()));
}

}  // namespace quorlin

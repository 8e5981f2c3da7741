#pragma once
// A spin box for the records left out in each fold of the cross-validation: a window centred on
// the record forecast, so only odd counts. Its arrows step from odd to odd; a typed even count is
// not taken as it stands but raised to the next odd one when the entry is committed.

#include <QSpinBox>

namespace quorlin {

class TOddSpinBox : public QSpinBox {
    Q_OBJECT
public:
    explicit TOddSpinBox(QWidget* parent = nullptr);

    // The largest count offered: the largest odd number up to most (at least 1).
    void SetLargest(int most);

protected:
    QValidator::State validate(QString& text, int& pos) const override;
    void fixup(QString& text) const override;
};

}  // namespace quorlin

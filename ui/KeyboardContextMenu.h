#pragma once
// The context menu from the keyboard: the Menu key and Shift+F10 ask a widget for its context
// menu at its current item, as a right click does at the pointer.

#include <QObject>

class QAbstractItemView;

namespace quorlin {

class TKeyboardContextMenu : public QObject {
public:
    // Watches the view; owned by it.
    static void Install(QAbstractItemView* view);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit TKeyboardContextMenu(QAbstractItemView* view);
    QAbstractItemView* FView;
};

}  // namespace quorlin

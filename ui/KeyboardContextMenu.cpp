#include "ui/KeyboardContextMenu.h"

#include <QAbstractItemView>
#include <QKeyEvent>

namespace quorlin {

namespace {

bool AsksForContextMenu(const QKeyEvent& key)
{
    const Qt::KeyboardModifiers others = key.modifiers() & ~Qt::KeypadModifier;
    return (key.key() == Qt::Key_Menu && others == Qt::NoModifier) ||
           (key.key() == Qt::Key_F10 && others == Qt::ShiftModifier);
}

}  // namespace

TKeyboardContextMenu::TKeyboardContextMenu(QAbstractItemView* view) : QObject(view), FView(view) {}

void TKeyboardContextMenu::Install(QAbstractItemView* view)
{
    view->installEventFilter(new TKeyboardContextMenu(view));
}

bool TKeyboardContextMenu::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != FView || event->type() != QEvent::KeyPress || !AsksForContextMenu(*static_cast<QKeyEvent*>(event)))
        return QObject::eventFilter(watched, event);
    // At the current item, or the top left corner of an empty list: where the eye is.
    const QRect item = FView->visualRect(FView->currentIndex());
    const QPoint at = item.isValid() ? item.bottomLeft() : QPoint(0, 0);
    emit FView->customContextMenuRequested(at);
    return true;
}

}  // namespace quorlin

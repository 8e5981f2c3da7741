#include "data/windows/DlgTables.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>


namespace quorlin {

namespace {

// A list in which the arrow keys select as a click does. While nothing is selected, the first
// press selects the table shown as current (the list makes the first one current when it takes
// the focus) instead of moving past it; so with one table listed, Down selects it and OK can be
// pressed.
class TSelectingList : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const bool step = event->key() == Qt::Key_Up || event->key() == Qt::Key_Down;
        if (step && event->modifiers() == Qt::NoModifier && selectedItems().isEmpty() && currentItem()) {
            currentItem()->setSelected(true);
            event->accept();
            return;
        }
        QListWidget::keyPressEvent(event);
        if (!Moves(event->key()) || event->modifiers() != Qt::NoModifier) return;
        if (QListWidgetItem* item = currentItem(); item && !item->isSelected()) item->setSelected(true);
    }

private:
    static bool Moves(int key)
    {
        return key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Home || key == Qt::Key_End ||
               key == Qt::Key_PageUp || key == Qt::Key_PageDown;
    }
};

// The folder button looks as a flat tool button does, yet, being the first thing to use in the
// dialog, takes the focus from Tab and is pressed by Enter as a push button is.
class TFolderButton : public QToolButton {
public:
    using QToolButton::QToolButton;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
            click();
            event->accept();
            return;
        }
        QToolButton::keyPressEvent(event);
    }
};

}  // namespace

std::vector<TFileFilter> AccessFileFilters()
{
    return {{"Access 数据库", {"*.mdb", "*.accdb"}}, {"Access Files(*.mdb)", {"*.mdb"}}};
}

TTablesDlg::TTablesDlg(QWidget* owner, TCustomerData& data, TUserInterface& ui)
    : QDialog(owner), FData(data), FUi(ui)
{
    setObjectName("TablesDlg");
    setWindowTitle(QStringLiteral("选择数据表"));
    setFixedSize(412, 257);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    Label1 = new QLabel(QStringLiteral("数据库文件"), this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(8, 12, 73, 13);

    EditFile = new QLineEdit(this);
    EditFile->setObjectName("EditFile");
    EditFile->setGeometry(80, 8, 209, 21);
    EditFile->setEnabled(false);

    OpenBtn = new TFolderButton(this);
    OpenBtn->setObjectName("OpenBtn");
    OpenBtn->setGeometry(288, 8, 23, 22);
    OpenBtn->setAutoRaise(true);
    OpenBtn->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    OpenBtn->setIconSize(QSize(16, 16));
    OpenBtn->setToolTip(QStringLiteral("选取文件"));
    OpenBtn->setFocusPolicy(Qt::StrongFocus);
    // Ctrl+O as everywhere, and Alt+O as a mnemonic would give it, had the button a caption.
    for (const QKeyCombination keys : {Qt::CTRL | Qt::Key_O, Qt::ALT | Qt::Key_O}) {
        auto* shortcut = new QShortcut(QKeySequence(keys), this);
        connect(shortcut, &QShortcut::activated, OpenBtn, &QToolButton::click);
    }

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setGeometry(8, 40, 305, 209);
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);

    Label2 = new QLabel(QStringLiteral("数据库中的表,  请选择一项:"), this);
    Label2->setObjectName("Label2");
    Label2->setGeometry(24, 48, 177, 13);

    ListTables = new TSelectingList(this);
    ListTables->setObjectName("ListTables");
    ListTables->setGeometry(24, 72, 273, 169);
    ListTables->setSelectionMode(QAbstractItemView::SingleSelection);
    ListTables->setSortingEnabled(false);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setGeometry(324, 80, 75, 25);
    OKBtn->setDefault(true);
    OKBtn->setEnabled(false);

    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName("CancelBtn");
    CancelBtn->setGeometry(324, 118, 75, 25);

    // The path cannot be typed into, so the folder button stands in its place in the order.
    setTabOrder(OKBtn, CancelBtn);
    setTabOrder(CancelBtn, OpenBtn);
    setTabOrder(OpenBtn, EditFile);
    setTabOrder(EditFile, ListTables);
    OpenBtn->setFocus();

    connect(OpenBtn, &QToolButton::clicked, this, [this] { OpenBtnClick(); });
    connect(EditFile, &QLineEdit::textChanged, this, [this] { EditFileChange(); });
    connect(ListTables, &QListWidget::itemSelectionChanged, this, [this] { ListTablesClick(); });
    connect(OKBtn, &QPushButton::clicked, this, [this] {
        OKBtnClick();
        accept();
    });
    connect(CancelBtn, &QPushButton::clicked, this, [this] {
        CancelBtnClick();
        reject();
    });
    // Esc and the close box end the dialog as Cancel does.
    connect(this, &QDialog::rejected, this, [this] {
        FileName.clear();
        TableName.clear();
    });
}

void TTablesDlg::showEvent(QShowEvent* event)
{
    FileName.clear();
    TableName.clear();
    QDialog::showEvent(event);
}

void TTablesDlg::OpenBtnClick()
{
    const auto chosen = FUi.OpenFileName("打开", AccessFileFilters());
    if (!chosen) return;
    ChooseFile(*chosen);
    // Next the user picks a table, with the arrow keys as well as with the mouse.
    if (ListTables->count() > 0) ListTables->setFocus();
}

// Setting the text the edit already shows is no change and triggers nothing.
void TTablesDlg::ChooseFile(const std::string& path) { EditFile->setText(QString::fromStdString(path)); }

void TTablesDlg::EditFileChange()
{
    ListTables->clear();
    const std::string path = EditFile->text().toStdString();
    const TBusy busy(FUi);
    if (IsExistingFile(path) && FData.ConnectDatabase(path) > 0) {
        std::vector<std::string> names;
        FData.DataConn.GetTableNames(names, false);
        for (const auto& name : names) ListTables->addItem(QString::fromStdString(name));
    }
    OKBtn->setEnabled(false);
}

void TTablesDlg::ListTablesClick() { OKBtn->setEnabled(!ListTables->selectedItems().isEmpty()); }

void TTablesDlg::OKBtnClick()
{
    FileName.clear();
    TableName.clear();
    const std::string path = EditFile->text().toStdString();
    if (IsExistingFile(path)) FileName = path;
    const auto selected = ListTables->selectedItems();
    if (!selected.isEmpty()) TableName = selected.first()->text().toStdString();
}

void TTablesDlg::CancelBtnClick()
{
    FileName.clear();
    TableName.clear();
}

}  // namespace quorlin

#include "ui/EquForm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <filesystem>

#include "data/windows/Dbbrower01.h"
#include "data/windows/DlgTables.h"
#include "data/windows/QtUserInterface.h"
#include "ui/KeyboardContextMenu.h"
#include "ui/SkillForm.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

QFrame* MakePanel(QWidget* parent, const char* name, QFrame::Shadow shadow)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(shadow);
    return panel;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, int top)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(24, top, 75, 25);
    return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->move(left, top);
    label->adjustSize();
    return label;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TMaskEdit

TMaskEdit::TMaskEdit(TUserInterface& ui, QWidget* parent) : QLineEdit(parent), FUi(ui)
{
    // Qt's mask letters: 9 a required digit, 0 an optional one.
    setInputMask(QStringLiteral("99.00;_"));
    setMaxLength(5);
    setText(QStringLiteral("04.00"));
}

bool TMaskEdit::Incomplete() const { return !hasAcceptableInput(); }

void TMaskEdit::focusInEvent(QFocusEvent* event)
{
    if (!FRefusing) {
        FTextOnEntry = text();
        setModified(false);
    }
    QLineEdit::focusInEvent(event);
}

void TMaskEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    if (FRefusing || !isModified() || !Incomplete() || !isEnabled()) return;
    FRefusing = true;
    // After the focus has moved: take it back, then say why.
    QTimer::singleShot(0, this, [this] {
        setFocus();
        FUi.ShowError(RefusalText);
        setFocus();
        FRefusing = false;
    });
}

void TMaskEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && isModified()) {
        setText(FTextOnEntry);
        setModified(false);
        return;
    }
    QLineEdit::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------------
// TEquForm

TEquForm::TEquForm(TUserInterface& ui, QWidget* parent) : QWidget(parent), FUi(ui)
{
    setObjectName("EquForm");
    setWindowTitle(QStringLiteral("Quorlin"));
    setFixedSize(487, 337);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    HelpFolder = QCoreApplication::applicationDirPath().toStdString();

    Panel2 = MakePanel(this, "Panel2", QFrame::Sunken);
    Panel2->setGeometry(0, 0, 487, 337);
    Panel3 = MakePanel(Panel2, "Panel3", QFrame::Raised);
    Panel3->setGeometry(363, 1, 123, 335);
    Panel4 = MakePanel(Panel2, "Panel4", QFrame::Raised);
    Panel4->setGeometry(1, 1, 362, 335);
    Panel3->setFont(ChineseFont());
    Panel4->setFont(ChineseFont());

    Button1 = MakeButton(Panel3, "Button1", QStringLiteral("计算&&保存"), 16);
    Button2 = MakeButton(Panel3, "Button2", QStringLiteral("导入数据表"), 48);
    Button3 = MakeButton(Panel3, "Button3", QStringLiteral("显示数据表"), 80);
    Button4 = MakeButton(Panel3, "Button4", QStringLiteral("更新字段表"), 112);
    Button6 = MakeButton(Panel3, "Button6", QStringLiteral("帮助"), 152);
    Button7 = MakeButton(Panel3, "Button7", QStringLiteral("预报检验"), 184);
    Button5 = MakeButton(Panel3, "Button5", QStringLiteral("退出"), 232);
    Button5->setVisible(false);

    Label1 = MakeLabel(Panel4, "Label1", QStringLiteral("预报要素Y:"), 8, 20);
    Label2 = MakeLabel(Panel4, "Label2", QStringLiteral("因子Xi:"), 8, 48);
    ComboBox1 = new QComboBox(Panel4);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setGeometry(80, 16, 265, 21);
    ComboBox1->setEditable(false);

    CheckListBox1 = new QListWidget(Panel4);
    CheckListBox1->setObjectName("CheckListBox1");
    CheckListBox1->setGeometry(32, 72, 313, 217);
    CheckListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
    CheckListBox1->setBackgroundRole(QPalette::Button);

    Label3 = MakeLabel(Panel4, "Label3", QStringLiteral("Fa = "), 264, 308);
    MaskEdit1 = new TMaskEdit(FUi, Panel4);
    MaskEdit1->setObjectName("MaskEdit1");
    MaskEdit1->setGeometry(304, 304, 41, 21);
    Label4 = MakeLabel(Panel4, "Label4", QStringLiteral("计算方法："), 24, 308);
    ComboBox2 = new QComboBox(Panel4);
    ComboBox2->setObjectName("ComboBox2");
    ComboBox2->setGeometry(96, 304, 145, 21);
    ComboBox2->addItems({QStringLiteral("逐步回归法"), QStringLiteral("多元线性回归法")});

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    Selectall1 = PopupMenu1->addAction(QStringLiteral("全部选中(&S)"));
    Selectall1->setObjectName("Selectall1");
    Unselectall1 = PopupMenu1->addAction(QStringLiteral("全部取消(&U)"));
    Unselectall1->setObjectName("Unselectall1");
    N1 = PopupMenu1->addSeparator();
    N1->setObjectName("N1");
    Refresh1 = PopupMenu1->addAction(QStringLiteral("刷新字段名表(&F)"));
    Refresh1->setObjectName("Refresh1");

    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, Button4);
    setTabOrder(Button4, Button5);
    setTabOrder(Button5, Button6);
    setTabOrder(Button6, Button7);
    setTabOrder(Button7, ComboBox1);
    setTabOrder(ComboBox1, CheckListBox1);
    setTabOrder(CheckListBox1, MaskEdit1);
    setTabOrder(MaskEdit1, ComboBox2);

    auto wire = [this](auto* sender, auto signal, void (TEquForm::*handler)()) {
        connect(sender, signal, this, [this, handler] { Guard([this, handler] { (this->*handler)(); }); });
    };
    wire(Button1, &QPushButton::clicked, &TEquForm::Button1Click);
    wire(Button2, &QPushButton::clicked, &TEquForm::Button2Click);
    wire(Button3, &QPushButton::clicked, &TEquForm::Button3Click);
    wire(Button4, &QPushButton::clicked, &TEquForm::Button4Click);
    wire(Button5, &QPushButton::clicked, &TEquForm::Button5Click);
    wire(Button6, &QPushButton::clicked, &TEquForm::Button6Click);
    wire(Button7, &QPushButton::clicked, &TEquForm::Button7Click);
    wire(Selectall1, &QAction::triggered, &TEquForm::Selectall1Click);
    wire(Unselectall1, &QAction::triggered, &TEquForm::Unselectall1Click);
    wire(Refresh1, &QAction::triggered, &TEquForm::Button4Click);
    wire(ComboBox1, &QComboBox::activated, &TEquForm::ComboBox1Change);
    wire(ComboBox2, &QComboBox::activated, &TEquForm::ComboBox2Change);
    TKeyboardContextMenu::Install(CheckListBox1);
    connect(CheckListBox1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(CheckListBox1->viewport()->mapToGlobal(at)); });
    connect(qApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* now) { FocusWindowChanged(now); });

    ShowTablesDialog = [](TTablesDlg& dialog) { dialog.exec(); };
    FormCreate();
}

TEquForm::~TEquForm() = default;  // here, where TSkillForm is complete

void TEquForm::Guard(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        FUi.ShowError(e.what());
    } catch (...) {
        FUi.ShowError(Tr("Unexpected error"));
    }
}

void TEquForm::FormCreate()
{
    ComboBox2->setCurrentIndex(0);
    UpdateControls();
}

void TEquForm::closeEvent(QCloseEvent* event)
{
    // FormClose: the choice goes with the window.
    YFieldName.clear();
    FactorNames.clear();
    QWidget::closeEvent(event);
}

void TEquForm::FocusWindowChanged(QWindow* now)
{
    if (!now) return;  // another program took the focus: no window of ours is involved
    QWindow* previous = FLastFocusWindow;
    FLastFocusWindow = now;
    if (now == windowHandle() && previous != now) Activated(previous);
}

void TEquForm::Activated(QWindow* previous)
{
    const bool fromBrowser = GridForm && previous && previous == GridForm->windowHandle();
    if (!FActivatedOnce || fromBrowser) {
        FActivatedOnce = true;
        Guard([this] { Button4Click(); });
    }
}

void TEquForm::FillFieldLists()
{
    if (!CustomerData || !CustomerData->DataQuery.Active()) return;
    ComboBox1->clear();
    CheckListBox1->clear();
    for (const auto& name : CustomerData->DataQuery.FieldNames()) {
        const QString text = QString::fromStdString(name);
        ComboBox1->addItem(text);
        auto* item = new QListWidgetItem(text, CheckListBox1);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    ComboBox1->setCurrentIndex(-1);
}

void TEquForm::ClearSelection()
{
    YFieldName.clear();
    FactorNames.clear();
}

void TEquForm::UpdateControls()
{
    const bool open = CustomerData && CustomerData->DataQuery.Active();
    Button1->setEnabled(open && ComboBox1->currentIndex() >= 0 && ComboBox2->currentIndex() >= 0);
    Button7->setEnabled(Button1->isEnabled());
    Button3->setEnabled(open);
    Button4->setEnabled(open);
    MaskEdit1->setEnabled(ComboBox2->currentIndex() == 0);
    Selectall1->setEnabled(CheckListBox1->count() > 0);
    Unselectall1->setEnabled(CheckListBox1->count() > 0);
    Refresh1->setEnabled(open);
}

void TEquForm::ComboBox1Change()
{
    if (ComboBox1->currentIndex() >= 0) {
        const QString y = ComboBox1->currentText();
        for (int i = 0; i < CheckListBox1->count(); ++i) {
            if (CheckListBox1->item(i)->text().compare(y, Qt::CaseInsensitive) == 0) {
                CheckListBox1->item(i)->setCheckState(Qt::Unchecked);
                break;
            }
        }
    }
    UpdateControls();
}

void TEquForm::ComboBox2Change() { UpdateControls(); }

void TEquForm::Selectall1Click()
{
    for (int i = 0; i < CheckListBox1->count(); ++i) CheckListBox1->item(i)->setCheckState(Qt::Checked);
    UpdateControls();
}

void TEquForm::Unselectall1Click()
{
    for (int i = 0; i < CheckListBox1->count(); ++i) CheckListBox1->item(i)->setCheckState(Qt::Unchecked);
    UpdateControls();
}

void TEquForm::Button2Click() { ImportFrom({}); }

void TEquForm::ImportFrom(const std::string& path)
{
    bool opened = false;
    {
        TTablesDlg dialog(this, *CustomerData, FUi);
        if (!path.empty()) dialog.ChooseFile(path);
        ShowTablesDialog(dialog);
        if (!dialog.FileName.empty() && !dialog.TableName.empty()) {
            {
                const TBusy busy(FUi);
                CustomerData->OpenTable(dialog.FileName, dialog.TableName);
            }
            FillFieldLists();
            ClearSelection();
            opened = true;
        }
    }
    // A file chosen in the dialog closes the table even when the dialog is cancelled: either
    // way the check on show is of a table no longer open.
    const bool open = CustomerData->DataQuery.Active();
    if (SkillForm && (opened || !open)) SkillForm->TableChanged(open);
    UpdateControls();
}

void TEquForm::Button3Click()
{
    UpdateControls();
    if (!GridForm) return;
    GridForm->show();
    GridForm->raise();
    GridForm->activateWindow();
}

void TEquForm::Button4Click()
{
    FillFieldLists();
    UpdateControls();
}

void TEquForm::Button5Click() { close(); }

void TEquForm::Button6Click()
{
    const std::string help = (std::filesystem::path(HelpFolder) / "StatHlp.chm").string();
    if (IsExistingFile(help)) FUi.OpenWithDesktop(help);
}

}  // namespace quorlin

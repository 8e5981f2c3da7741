#include "data/windows/Dbbrower01.h"

#include <QAbstractItemDelegate>
#include <QHeaderView>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QStringList>
#include <QStyleOptionViewItem>
#include <QVBoxLayout>

#include <algorithm>

#include "data/windows/QtUserInterface.h"
#include "support/Messages.h"

namespace quorlin {

namespace {

// A question answered OK or Cancel.
constexpr int OkCancelQuestion = MB_OKCANCEL | MB_ICONQUESTION;

// As the navigators and grids of the platform do, a record is deleted only once the user says so;
// and when its relationships take other records along, once the user has been told which.
void ConfirmAndDelete(TMdbQuery& query, TUserInterface& ui)
{
    if (ui.MessageBox("Delete record?", "Confirm", OkCancelQuestion) != IDOK) return;
    const std::vector<std::string> effects = query.DeleteEffects();
    if (!effects.empty()) {
        std::string question = Tr("The relationships of this table take other records along:");
        for (const std::string& effect : effects) question += "\n  " + effect;
        if (ui.MessageBox(question + "\n" + Tr("Delete the record and these?"), "Confirm", OkCancelQuestion) != IDOK) return;
    }
    query.Delete();
}

// The current cell is framed, so that the field typing will replace shows inside the highlighted
// record.
class TCurrentCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Typed text sits where the value it replaces is shown: numbers at the right.
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor))
            line->setAlignment(index.data(Qt::TextAlignmentRole).value<Qt::Alignment>());
        return editor;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        if (!(option.state & QStyle::State_HasFocus)) return;
        painter->save();
        painter->setPen(QPen(option.palette.color(QPalette::HighlightedText), 2));
        painter->drawRect(option.rect.adjusted(1, 1, -1, -1));
        painter->restore();
    }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TQueryModel

TQueryModel::TQueryModel(TDataSource& source, QObject* parent) : QAbstractTableModel(parent), FSource(source)
{
    FSource.AddLink(this);
    if (Query() && Query()->Active()) {
        FRowCount = Query()->RowCount();
        FColumnCount = Query()->FieldCount();
    }
    FCurrentRow = QueryRow();
}

TQueryModel::~TQueryModel() { FSource.RemoveLink(this); }

int TQueryModel::QueryRow() const
{
    const TMdbQuery* q = Query();
    if (!q || !q->Active()) return -1;
    // RecNo counts stored records only; the record being entered is the row after them.
    if (q->State() == TDataSetState::Insert) return q->RecordCount();
    return q->RecNo() - 1;
}

int TQueryModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : FRowCount; }

int TQueryModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : FColumnCount; }

QVariant TQueryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !Query() || index.row() >= FRowCount || index.column() >= FColumnCount) return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return QString::fromStdString(Query()->DisplayText(index.row(), index.column()));
    if (role == Qt::TextAlignmentRole && index.column() < Query()->FieldCount()) {
        const TColumnType t = Query()->Field(index.column()).Type;
        const bool left = IsTextual(t) || t == TColumnType::Boolean || t == TColumnType::DateTime;
        return QVariant::fromValue(Qt::Alignment((left ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter));
    }
    return {};
}

QVariant TQueryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || !Query() || !Query()->Active()) return {};
    if (orientation == Qt::Horizontal)
        return section < Query()->FieldCount() ? QString::fromStdString(Query()->Field(section).Name) : QVariant();
    // The record indicator: a mark at the current record that tells browsing from editing.
    if (section != FCurrentRow) return QString();
    switch (Query()->State()) {
    case TDataSetState::Edit: return QStringLiteral("✎");
    case TDataSetState::Insert: return QStringLiteral("*");
    default: return QStringLiteral("▶");
    }
}

Qt::ItemFlags TQueryModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && Query() && Query()->CanModify()) f |= Qt::ItemIsEditable;
    return f;
}

bool TQueryModel::GoToRow(int row)
{
    TMdbQuery* q = Query();
    if (row == QueryRow()) return true;
    q->CheckBrowseMode();
    if (row >= q->RecordCount()) return false;  // the unposted new record is gone
    q->MoveBy(row - (q->RecNo() - 1));
    return true;
}

bool TQueryModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    TMdbQuery* q = Query();
    if (role != Qt::EditRole || !index.isValid() || !q || !q->Active() || index.column() >= FColumnCount) return false;
    std::string text = value.toString().toStdString();
    try {
        if (!GoToRow(index.row())) return false;
        // Leaving a cell unchanged must not put the record into editing.
        if (q->State() == TDataSetState::Browse && q->DisplayText(index.row(), index.column()) == text) return true;
        q->SetFieldText(index.column(), std::move(text));
        return true;
    } catch (const std::exception& e) {
        if (OnError) OnError(e.what());
    }
    return false;
}

bool TQueryModel::BeginEdit(const QModelIndex& index)
{
    TMdbQuery* q = Query();
    if (!index.isValid() || !q || !q->Active()) return false;
    try {
        if (!GoToRow(index.row())) return false;
        if (q->State() == TDataSetState::Browse) q->Edit();
        return true;
    } catch (const std::exception& e) {
        if (OnError) OnError(e.what());
    }
    return false;
}

void TQueryModel::revert()
{
    // Esc in a cell: opening the cell began the edit, so a record nothing was typed into leaves it.
    TMdbQuery* q = Query();
    if (q && q->Active() && q->State() != TDataSetState::Browse && !q->Modified()) q->Cancel();
}

void TQueryModel::Reset()
{
    beginResetModel();
    const TMdbQuery* q = Query();
    const bool active = q && q->Active();
    FRowCount = active ? q->RowCount() : 0;
    FColumnCount = active ? q->FieldCount() : 0;
    FCurrentRow = QueryRow();
    endResetModel();
}

void TQueryModel::MarkCurrentRow()
{
    const int previous = FCurrentRow;
    FCurrentRow = QueryRow();
    if (previous >= 0 && previous < FRowCount) emit headerDataChanged(Qt::Vertical, previous, previous);
    if (FCurrentRow >= 0 && FCurrentRow < FRowCount && FCurrentRow != previous)
        emit headerDataChanged(Qt::Vertical, FCurrentRow, FCurrentRow);
    emit CurrentRecordChanged(FCurrentRow);
}

void TQueryModel::ActiveChanged()
{
    Reset();
    emit CurrentRecordChanged(FCurrentRow);
}

void TQueryModel::DataSetChanged()
{
    const TMdbQuery* q = Query();
    // Records added or removed, or another table: the grid starts afresh. Otherwise values
    // changed in place, and a reset would close an open cell editor and lose the grid's cell.
    if (!q || !q->Active() || q->RowCount() != FRowCount || q->FieldCount() != FColumnCount) {
        ActiveChanged();
        return;
    }
    if (FRowCount > 0 && FColumnCount > 0) emit dataChanged(index(0, 0), index(FRowCount - 1, FColumnCount - 1));
    if (FColumnCount > 0) emit headerDataChanged(Qt::Horizontal, 0, FColumnCount - 1);
    MarkCurrentRow();
}

void TQueryModel::DataSetScrolled() { MarkCurrentRow(); }

void TQueryModel::StateChanged()
{
    // The only row that comes and goes with the state is the new record, after the stored ones.
    const TMdbQuery* q = Query();
    const int rows = q && q->Active() ? q->RowCount() : 0;
    if (rows > FRowCount) {
        beginInsertRows({}, FRowCount, rows - 1);
        FRowCount = rows;
        endInsertRows();
    } else if (rows < FRowCount) {
        beginRemoveRows({}, rows, FRowCount - 1);
        FRowCount = rows;
        endRemoveRows();
    }
    const int row = QueryRow();
    if (row >= 0 && row < FRowCount && FColumnCount > 0)
        emit dataChanged(index(row, 0), index(row, FColumnCount - 1));
    MarkCurrentRow();
}

// ---------------------------------------------------------------------------------------------
// TDBNavigator

TDBNavigator::TDBNavigator(TDataSource& source, TUserInterface& ui, QWidget* parent)
    : QWidget(parent), FSource(source), FUi(ui)
{
    setObjectName("NaviDatabase");
    OnError = [this](const std::string& text) { FUi.ShowError(text); };
    static const char* const glyphs[] = {"|◀", "◀", "▶", "▶|", "+", "−", "▲", "✔", "✘", "↻"};
    static const char* const names[] = {"nbFirst", "nbPrior", "nbNext", "nbLast", "nbInsert",
                                        "nbDelete", "nbEdit", "nbPost", "nbCancel", "nbRefresh"};
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (int b = 0; b < 10; ++b) {
        auto* button = new QToolButton(this);
        button->setObjectName(names[b]);
        button->setText(QString::fromUtf8(glyphs[b]));
        button->setAutoRaise(true);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        connect(button, &QToolButton::clicked, this, [this, b] { Click(static_cast<Button>(b)); });
        row->addWidget(button);
        FButtons[static_cast<std::size_t>(b)] = button;
    }
    FSource.AddLink(this);
    UpdateButtons();
}

TDBNavigator::~TDBNavigator() { FSource.RemoveLink(this); }

void TDBNavigator::UpdateButtons()
{
    TMdbQuery* q = FSource.DataSet();
    const bool active = q && q->Active();
    const TDataSetState state = active ? q->State() : TDataSetState::Inactive;
    const bool browsing = state == TDataSetState::Browse;
    const bool editing = state == TDataSetState::Edit || state == TDataSetState::Insert;
    // By position, not by the Bof/Eof flags, which only a move past either end sets.
    const bool atFirst = !active || q->RecordCount() == 0 || q->RecNo() <= 1;
    const bool atLast = !active || q->RecordCount() == 0 || q->RecNo() >= q->RecordCount();
    const bool canModify = browsing && q->CanModify();
    FButtons[nbFirst]->setEnabled(!atFirst);
    FButtons[nbPrior]->setEnabled(!atFirst);
    FButtons[nbNext]->setEnabled(!atLast);
    FButtons[nbLast]->setEnabled(!atLast);
    FButtons[nbInsert]->setEnabled(canModify);
    FButtons[nbDelete]->setEnabled(canModify && q->RecordCount() > 0);
    FButtons[nbEdit]->setEnabled(canModify);
    FButtons[nbPost]->setEnabled(editing);
    FButtons[nbCancel]->setEnabled(editing);
    FButtons[nbRefresh]->setEnabled(browsing);
}

void TDBNavigator::Click(Button b)
{
    TMdbQuery* q = FSource.DataSet();
    if (!q || !q->Active()) return;
    if (BeforeAction) BeforeAction(b != nbCancel && b != nbDelete);
    const TBusy busy(FUi);
    try {
        switch (b) {
        case nbFirst: q->First(); break;
        case nbPrior: q->Prior(); break;
        case nbNext: q->Next(); break;
        case nbLast: q->Last(); break;
        case nbInsert: q->Append(); break;
        case nbDelete: ConfirmAndDelete(*q, FUi); break;
        case nbEdit: q->Edit(); break;  // on an empty table this begins its first record
        case nbPost: q->Post(); break;
        case nbCancel: q->Cancel(); break;
        case nbRefresh: q->Refresh(); break;
        }
    } catch (const std::exception& e) {
        if (OnError) OnError(e.what());
    }
    UpdateButtons();
}

// ---------------------------------------------------------------------------------------------
// TDBGrid

void TDBGrid::FinishCellEdit(bool keep)
{
    if (state() != QAbstractItemView::EditingState) return;
    QWidget* editor = indexWidget(currentIndex());
    if (!editor) return;
    if (keep) commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
}

bool TDBGrid::OpensEditor(const QModelIndex& index, EditTrigger trigger) const
{
    if (!index.isValid() || !(index.flags() & Qt::ItemIsEditable) || state() == QAbstractItemView::EditingState)
        return false;
    return trigger == QAbstractItemView::AllEditTriggers || (editTriggers() & trigger);
}

bool TDBGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    // The record enters editing before the cell's editor opens, so that the navigator offers
    // Post and Cancel, and so that the row repainted for it cannot put the stored text back
    // over a key the editor has just taken.
    if (OpensEditor(index, trigger)) {
        auto* model = qobject_cast<TQueryModel*>(this->model());
        if (model && !model->BeginEdit(index)) return false;
    }
    return QTableView::edit(index, trigger, event);
}

void TDBGrid::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete && (event->modifiers() & Qt::ControlModifier)) {
        if (OnDeleteKey) OnDeleteKey();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------------
// TGridForm

TGridForm::TGridForm(TDataSource& source, QWidget* parent)
    : QWidget(parent, Qt::Window), FSource(source), FOwnUi(std::make_unique<TQtUserInterface>(this)), FUi(*FOwnUi)
{
    Build();
}

TGridForm::TGridForm(TDataSource& source, TUserInterface& ui, QWidget* parent)
    : QWidget(parent, Qt::Window), FSource(source), FUi(ui)
{
    Build();
}

TGridForm::~TGridForm() = default;

void TGridForm::Build()
{
    setObjectName("GridForm");
    setWindowTitle(QString());
    // Closing the main window ends the program even while the browser is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(544, 375);
    setFont(ChineseFont());

    ReadOnlyLine = new QLabel(this);
    ReadOnlyLine->setObjectName("ReadOnlyLine");
    ReadOnlyLine->setWordWrap(true);
    ReadOnlyLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ReadOnlyLine->setContentsMargins(4, 2, 4, 2);
    ReadOnlyLine->setVisible(false);

    GridDatabase = new TDBGrid(this);
    GridDatabase->setObjectName("GridDatabase");
    Model = new TQueryModel(FSource, this);
    GridDatabase->setModel(Model);
    GridDatabase->setItemDelegate(new TCurrentCellDelegate(GridDatabase));
    GridDatabase->setSelectionBehavior(QAbstractItemView::SelectRows);
    GridDatabase->setSelectionMode(QAbstractItemView::SingleSelection);
    // The model's flags decide which cells can be edited: none of a read-only table.
    GridDatabase->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                  QAbstractItemView::AnyKeyPressed);
    // Fixed row heights: the view never measures rows, so 100 000 records scroll freely.
    GridDatabase->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    GridDatabase->verticalHeader()->setDefaultSectionSize(18);
    GridDatabase->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);

    NaviDatabase = new TDBNavigator(FSource, FUi, this);
    NaviDatabase->setFixedHeight(22);
    NaviDatabase->BeforeAction = [this](bool keep) { GridDatabase->FinishCellEdit(keep); };
    Model->OnError = [this](const std::string& text) { ShowError(text); };
    GridDatabase->OnDeleteKey = [this] {
        TMdbQuery* q = FSource.DataSet();
        if (!q || !q->Active() || !q->CanModify() || q->RowCount() == 0) return;
        try {
            ConfirmAndDelete(*q, FUi);
        } catch (const std::exception& e) {
            ShowError(e.what());
        }
    };

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ReadOnlyLine);
    layout->addWidget(GridDatabase);
    layout->addWidget(NaviDatabase);

    connect(Model, &TQueryModel::CurrentRecordChanged, this, [this](int) { FollowQuery(); });
    connect(Model, &QAbstractItemModel::modelReset, this, [this] {
        FitColumns();
        ShowWhetherWritable();
    });
    // A change read back in place brings the warnings of the table as it now is.
    connect(Model, &QAbstractItemModel::dataChanged, this, [this] { ShowWhetherWritable(); });
    connect(GridDatabase->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!FFollowing && !FReshaping && current.isValid()) GridRowChosen(current.row());
            });
    // Rows removed under the grid's current cell move it; that is no choice of the user's.
    connect(Model, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] { FReshaping = true; });
    connect(Model, &QAbstractItemModel::rowsRemoved, this, [this] { FReshaping = false; });
}

void TGridForm::showEvent(QShowEvent* event)
{
    // Centred on the desktop the first time, wherever a window manager would have put it.
    if (!FPlaced) {
        FPlaced = true;
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen) move(screen->availableGeometry().center() - rect().center());
    }
    QWidget::showEvent(event);
}

// Widths from the titles and the first screenful of values: enough to read whole numbers at a
// glance without measuring a hundred thousand rows. Longer values elide at the right.
void TGridForm::FitColumns()
{
    constexpr int screenful = 40;
    constexpr int widest = 320;
    QStyleOptionViewItem option;
    option.initFrom(GridDatabase);
    const int rows = std::min(Model->rowCount(), screenful);
    for (int column = 0; column < Model->columnCount(); ++column) {
        int width = GridDatabase->horizontalHeader()->sectionSizeHint(column);
        for (int row = 0; row < rows; ++row)
            width = std::max(width, GridDatabase->itemDelegate()->sizeHint(option, Model->index(row, column)).width());
        GridDatabase->setColumnWidth(column, std::min(width + CellMargin, widest));
    }
}

// A table that opens read-only says why at once, instead of leaving the user to find the
// editing buttons off and a typed value refused; a table read whole but with something to
// know of it (a record count its definition did not keep) says that too, until a change sets
// it right.
void TGridForm::ShowWhetherWritable()
{
    const TMdbQuery* q = FSource.DataSet();
    QStringList lines;
    if (q && q->Active() && !q->CanModify()) lines << QStringLiteral("只读：") + QString::fromStdString(q->ReadOnlyReason());
    if (q && q->Active())
        for (const std::string& warning : q->Warnings()) lines << QString::fromStdString(warning);
    ReadOnlyLine->setText(lines.join(QLatin1Char('\n')));
    ReadOnlyLine->setVisible(!lines.isEmpty());
}

// The errors of the grid go where the navigator's go, so that one handler shows them all.
void TGridForm::ShowError(const std::string& text)
{
    if (NaviDatabase->OnError)
        NaviDatabase->OnError(text);
    else
        FUi.ShowError(text);
}

void TGridForm::FollowQuery()
{
    const int row = Model->CurrentRow();
    const bool following = FFollowing;
    FFollowing = true;
    QItemSelectionModel* selection = GridDatabase->selectionModel();
    const QModelIndex current = GridDatabase->currentIndex();
    // The grid's cell stays in the column the user is in: the record moves, the field does not.
    const QModelIndex cell = row < 0 ? QModelIndex() : Model->index(row, std::max(current.column(), 0));
    if (row < 0) {
        GridDatabase->clearSelection();
    } else if (current.row() != row) {
        selection->setCurrentIndex(cell, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        GridDatabase->scrollTo(cell);
    } else if (!selection->isRowSelected(row, QModelIndex())) {
        // Selecting leaves the current cell alone, which may be under an editor being committed.
        selection->select(cell, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    FFollowing = following;
}

void TGridForm::GridRowChosen(int row)
{
    TMdbQuery* q = FSource.DataSet();
    if (!q || !q->Active() || row == Model->CurrentRow()) return;
    try {
        // Leaving a record posts it; the distance is taken afterwards, since leaving an
        // unchanged new record drops it and moves the query back to the last stored one.
        const TBusy busy(FUi);
        q->CheckBrowseMode();
        if (row < q->RecordCount()) q->MoveBy(row - (q->RecNo() - 1));
    } catch (const std::exception& e) {
        ShowError(e.what());
    }
    if (Model->CurrentRow() != row) {
        // A refused post keeps the grid on the record being edited. A mouse press selects the
        // row it chose only after telling us, so the grid is put back once more afterwards.
        FollowQuery();
        QTimer::singleShot(0, this, [this] { FollowQuery(); });
    }
}

}  // namespace quorlin

#include "Dbbrower01.h"

#include <QHeaderView>
#include <QTableView>
#include <QVBoxLayout>

#include "QtUserInterface.h"

namespace quorlin {

// ---------------------------------------------------------------------------------------------
// TQueryModel

TQueryModel::TQueryModel(TDataSource& source, QObject* parent) : QAbstractTableModel(parent), FSource(source)
{
    FSource.AddLink(this);
    FCurrentRow = Query() && Query()->Active() ? Query()->RecNo() - 1 : -1;
}

TQueryModel::~TQueryModel() { FSource.RemoveLink(this); }

int TQueryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !Query() ? 0 : Query()->RecordCount();
}

int TQueryModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() || !Query() || !Query()->Active() ? 0 : Query()->FieldCount();
}

QVariant TQueryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !Query()) return {};
    if (role == Qt::DisplayRole) return QString::fromStdString(Query()->DisplayText(index.row(), index.column()));
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
    // The record indicator: a mark at the current record.
    return section == FCurrentRow ? QStringLiteral("▶") : QString();
}

void TQueryModel::ActiveChanged()
{
    beginResetModel();
    FCurrentRow = Query() && Query()->Active() ? Query()->RecNo() - 1 : -1;
    endResetModel();
    emit CurrentRecordChanged(FCurrentRow);
}

void TQueryModel::DataSetChanged() { ActiveChanged(); }

void TQueryModel::DataSetScrolled()
{
    const int previous = FCurrentRow;
    FCurrentRow = Query() && Query()->Active() ? Query()->RecNo() - 1 : -1;
    if (previous >= 0) emit headerDataChanged(Qt::Vertical, previous, previous);
    if (FCurrentRow >= 0) emit headerDataChanged(Qt::Vertical, FCurrentRow, FCurrentRow);
    emit CurrentRecordChanged(FCurrentRow);
}

// ---------------------------------------------------------------------------------------------
// TDBNavigator

TDBNavigator::TDBNavigator(TDataSource& source, QWidget* parent) : QWidget(parent), FSource(source)
{
    setObjectName("NaviDatabase");
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
    const bool atFirst = !active || q->RecordCount() == 0 || q->RecNo() <= 1;
    const bool atLast = !active || q->RecordCount() == 0 || q->RecNo() >= q->RecordCount();
    FButtons[nbFirst]->setEnabled(!atFirst);
    FButtons[nbPrior]->setEnabled(!atFirst);
    FButtons[nbNext]->setEnabled(!atLast);
    FButtons[nbLast]->setEnabled(!atLast);
    // The provider's tables are read-only until Access files can be written.
    for (Button b : {nbInsert, nbDelete, nbEdit, nbPost, nbCancel}) FButtons[b]->setEnabled(false);
    FButtons[nbRefresh]->setEnabled(active);
}

void TDBNavigator::Click(Button b)
{
    TMdbQuery* q = FSource.DataSet();
    if (!q || !q->Active()) return;
    try {
        switch (b) {
        case nbFirst: q->First(); break;
        case nbPrior: q->Prior(); break;
        case nbNext: q->Next(); break;
        case nbLast: q->Last(); break;
        case nbRefresh: q->Refresh(); break;
        default: break;
        }
    } catch (const std::exception& e) {
        if (OnError) OnError(e.what());
    }
    UpdateButtons();
}

// ---------------------------------------------------------------------------------------------
// TGridForm

TGridForm::TGridForm(TDataSource& source, QWidget* parent) : QWidget(parent, Qt::Window), FSource(source)
{
    setObjectName("GridForm");
    setWindowTitle(QString());
    // Closing the main window ends the program even while the browser is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(544, 375);
    setFont(ChineseFont());

    GridDatabase = new QTableView(this);
    GridDatabase->setObjectName("GridDatabase");
    Model = new TQueryModel(source, this);
    GridDatabase->setModel(Model);
    GridDatabase->setSelectionBehavior(QAbstractItemView::SelectRows);
    GridDatabase->setSelectionMode(QAbstractItemView::SingleSelection);
    GridDatabase->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Fixed row heights: the view never measures rows, so 100 000 records scroll freely.
    GridDatabase->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    GridDatabase->verticalHeader()->setDefaultSectionSize(18);
    GridDatabase->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);

    NaviDatabase = new TDBNavigator(source, this);
    NaviDatabase->setFixedHeight(22);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(GridDatabase);
    layout->addWidget(NaviDatabase);

    connect(Model, &TQueryModel::CurrentRecordChanged, this, [this](int row) {
        FFollowing = true;
        if (row >= 0) {
            GridDatabase->selectRow(row);
            GridDatabase->scrollTo(Model->index(row, 0));
        } else {
            GridDatabase->clearSelection();
        }
        FFollowing = false;
    });
    connect(GridDatabase->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!FFollowing && current.isValid()) GridRowChosen(current.row());
            });
}

void TGridForm::GridRowChosen(int row)
{
    TMdbQuery* q = FSource.DataSet();
    if (!q || !q->Active()) return;
    q->MoveBy(row - (q->RecNo() - 1));
}

}  // namespace quorlin

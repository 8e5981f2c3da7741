#pragma once
// The data table browser: a grid over the open query and a record navigator, both bound to the
// data module's data source, so that they always show whatever the query holds, and edit it
// when the table can be written.

#include <QAbstractTableModel>
#include <QLabel>
#include <QTableView>
#include <QToolButton>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "data/provider/Provider.h"
#include "data/windows/UserInterface.h"

namespace quorlin {

class TQtUserInterface;

// The grid's view of the query: rows are records (and the new one while it is entered),
// columns are fields in column order. Values are formatted when the grid asks for them, so a
// table of any size costs nothing here.
class TQueryModel : public QAbstractTableModel, private TDataSetListener {
    Q_OBJECT
public:
    explicit TQueryModel(TDataSource& source, QObject* parent = nullptr);
    ~TQueryModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A cell's new text goes to the query's record; an edit of another row moves there first.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Puts the record of the index into editing, moving there first; false, the error shown,
    // when it cannot.
    bool BeginEdit(const QModelIndex& index);
    void revert() override;

    // The row of the query's current record, -1 when there is none.
    int CurrentRow() const noexcept { return FCurrentRow; }
    // Errors raised by an edit go here.
    std::function<void(const std::string&)> OnError;

signals:
    // The query's current record moved (or the records were replaced).
    void CurrentRecordChanged(int row);

private:
    void ActiveChanged() override;
    void DataSetChanged() override;
    void DataSetScrolled() override;
    void StateChanged() override;
    TMdbQuery* Query() const { return FSource.DataSet(); }
    int QueryRow() const;
    // Moves the query to the row, posting the record being left; false when the row is gone.
    bool GoToRow(int row);
    void MarkCurrentRow();
    void Reset();

    TDataSource& FSource;
    // What the views were last told: the query has changed already when it tells us.
    int FRowCount = 0;
    int FColumnCount = 0;
    int FCurrentRow = -1;
};

// The ten-button record navigator: first, prior, next, last, insert, delete, edit, post,
// cancel, refresh; each enabled by the state of the dataset.
class TDBNavigator : public QWidget, private TDataSetListener {
    Q_OBJECT
public:
    enum Button { nbFirst, nbPrior, nbNext, nbLast, nbInsert, nbDelete, nbEdit, nbPost, nbCancel, nbRefresh };
    TDBNavigator(TDataSource& source, TUserInterface& ui, QWidget* parent = nullptr);
    ~TDBNavigator() override;
    QToolButton* ButtonAt(Button b) const { return FButtons[b]; }
    void UpdateButtons();
    // Errors raised by a button's action (a refused post, a table that can no longer be read)
    // go here; the user interface's error display unless replaced.
    std::function<void(const std::string&)> OnError;
    // Called before a button acts, so that a cell still being typed in is taken (keep) or
    // dropped first.
    std::function<void(bool keep)> BeforeAction;

private:
    void ActiveChanged() override { UpdateButtons(); }
    void DataSetChanged() override { UpdateButtons(); }
    void DataSetScrolled() override { UpdateButtons(); }
    void StateChanged() override { UpdateButtons(); }
    void Click(Button b);

    TDataSource& FSource;
    TUserInterface& FUi;
    std::array<QToolButton*, 10> FButtons{};
};

// The grid itself: Ctrl+Delete deletes the current record, and a cell being typed in can be
// taken or dropped from outside (the navigator's buttons do not take the focus).
class TDBGrid : public QTableView {
    Q_OBJECT
public:
    using QTableView::QTableView;
    using QTableView::edit;
    void FinishCellEdit(bool keep);
    std::function<void()> OnDeleteKey;

private:
    // Whether QTableView::edit would open the cell's editor for this trigger.
    bool OpensEditor(const QModelIndex& index, EditTrigger trigger) const;

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

class TGridForm : public QWidget {
    Q_OBJECT
public:
    // Questions and errors go to a user interface of the form's own.
    explicit TGridForm(TDataSource& source, QWidget* parent = nullptr);
    TGridForm(TDataSource& source, TUserInterface& ui, QWidget* parent = nullptr);
    ~TGridForm() override;
    TDBGrid* GridDatabase;
    TDBNavigator* NaviDatabase;
    // Above the grid, only while the open table cannot be changed (why not) or was read with
    // warnings (TMdbQuery::Warnings).
    QLabel* ReadOnlyLine;
    // Room beside a cell's text, so that a fitted column never elides what it was fitted to.
    static constexpr int CellMargin = 8;
    TQueryModel* Model;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Build();
    void GridRowChosen(int row);
    void FollowQuery();
    void FitColumns();
    void ShowWhetherWritable();
    void ShowError(const std::string& text);

    TDataSource& FSource;
    std::unique_ptr<TQtUserInterface> FOwnUi;
    TUserInterface& FUi;
    bool FFollowing = false;
    bool FReshaping = false;
    bool FPlaced = false;
};

}  // namespace quorlin

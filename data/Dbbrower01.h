#pragma once
// The data table browser: a grid over the open query and a record navigator, both bound to the
// data module's data source, so that they always show whatever the query holds.

#include <QAbstractTableModel>
#include <QToolButton>
#include <QWidget>
#include <array>

#include "Provider.h"

class QTableView;

namespace quorlin {

// The grid's view of the query: rows are records, columns are fields in column order. Values
// are formatted when the grid asks for them, so a table of any size costs nothing here.
class TQueryModel : public QAbstractTableModel, private TDataSetListener {
    Q_OBJECT
public:
    explicit TQueryModel(TDataSource& source, QObject* parent = nullptr);
    ~TQueryModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    // The query's current record moved (or the records were replaced).
    void CurrentRecordChanged(int row);

private:
    void ActiveChanged() override;
    void DataSetChanged() override;
    void DataSetScrolled() override;
    TMdbQuery* Query() const { return FSource.DataSet(); }

    TDataSource& FSource;
    int FCurrentRow = -1;
};

// The ten-button record navigator: first, prior, next, last, insert, delete, edit, post,
// cancel, refresh; each enabled by the state of the dataset.
class TDBNavigator : public QWidget, private TDataSetListener {
    Q_OBJECT
public:
    enum Button { nbFirst, nbPrior, nbNext, nbLast, nbInsert, nbDelete, nbEdit, nbPost, nbCancel, nbRefresh };
    explicit TDBNavigator(TDataSource& source, QWidget* parent = nullptr);
    ~TDBNavigator() override;
    QToolButton* ButtonAt(Button b) const { return FButtons[b]; }
    void UpdateButtons();
    // Errors raised by a button's action (a table that can no longer be read) go here.
    std::function<void(const std::string&)> OnError;

private:
    void ActiveChanged() override { UpdateButtons(); }
    void DataSetChanged() override { UpdateButtons(); }
    void DataSetScrolled() override { UpdateButtons(); }
    void Click(Button b);

    TDataSource& FSource;
    std::array<QToolButton*, 10> FButtons{};
};

class TGridForm : public QWidget {
    Q_OBJECT
public:
    explicit TGridForm(TDataSource& source, QWidget* parent = nullptr);
    QTableView* GridDatabase;
    TDBNavigator* NaviDatabase;
    TQueryModel* Model;

private:
    void GridRowChosen(int row);
    TDataSource& FSource;
    bool FFollowing = false;
};

}  // namespace quorlin

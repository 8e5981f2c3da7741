#pragma once
// The table selection dialog: the user picks an Access database file and one of its tables or
// views. Choosing the file connects the data module at once; opening the table is the caller's.

#include <QDialog>
#include <string>

#include "data/provider/CustomerData.h"
#include "data/windows/UserInterface.h"

class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QToolButton;

namespace quorlin {

class TTablesDlg : public QDialog {
    Q_OBJECT
public:
    TTablesDlg(QWidget* owner, TCustomerData& data, TUserInterface& ui);

    // Filled on OK (each only when valid at that moment); empty after Cancel, Esc or the close box.
    std::string FileName;
    std::string TableName;

    QLabel* Label1;
    QLineEdit* EditFile;
    QToolButton* OpenBtn;
    QFrame* Bevel1;
    QLabel* Label2;
    QListWidget* ListTables;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

    void OpenBtnClick();
    // Shows the path as chosen, which lists its tables.
    void ChooseFile(const std::string& path);
    void EditFileChange();
    void ListTablesClick();
    void OKBtnClick();
    void CancelBtnClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    TCustomerData& FData;
    TUserInterface& FUi;
};

// The open-file dialog's filters: every Access database first, then the classic entry.
std::vector<TFileFilter> AccessFileFilters();

}  // namespace quorlin

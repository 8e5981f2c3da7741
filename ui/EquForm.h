#pragma once
// The main window: imports a table, offers its columns as the forecast element Y and as
// candidate factors, lets the user choose the method and the F threshold, and runs the
// compute-and-save command. Its enabled states are never stored: UpdateControls derives them
// from the data after every command.

#include <QLineEdit>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/provider/CustomerData.h"
#include "data/windows/UserInterface.h"

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QWindow;

namespace quorlin {

class TGridForm;
class TSkillForm;
class TTablesDlg;

// The F threshold field: two required digits, a point, two optional digits. Leaving it with a
// required digit missing is refused with the system's message and the focus stays; Esc
// abandons the edit.
class TMaskEdit : public QLineEdit {
    Q_OBJECT
public:
    TMaskEdit(TUserInterface& ui, QWidget* parent);
    static constexpr const char* RefusalText = "Invalid input value.  Use escape key to abandon changes";
    // Whether leaving the field now would be refused.
    bool Incomplete() const;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    TUserInterface& FUi;
    QString FTextOnEntry;
    bool FRefusing = false;
};

class TEquForm : public QWidget {
    Q_OBJECT
public:
    explicit TEquForm(TUserInterface& ui, QWidget* parent = nullptr);
    ~TEquForm() override;

    // Created after the main window, as at start-up.
    void SetDataModule(TCustomerData* data) { CustomerData = data; }
    void SetGridForm(TGridForm* grid) { GridForm = grid; }

    // Controls, by their names.
    QFrame* Panel2;
    QFrame* Panel3;
    QFrame* Panel4;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button4;
    QPushButton* Button5;
    QPushButton* Button6;
    // The forecast check, below help: enabled exactly when 计算&保存 is.
    QPushButton* Button7;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QComboBox* ComboBox1;
    QListWidget* CheckListBox1;
    QComboBox* ComboBox2;
    TMaskEdit* MaskEdit1;
    QMenu* PopupMenu1;
    QAction* Selectall1;
    QAction* Unselectall1;
    QAction* N1;
    QAction* Refresh1;

    std::string YFieldName;
    std::vector<std::string> FactorNames;

    // Handlers.
    void FormCreate();
    void Button1Click();
    void Button2Click();
    // The import with the dialog already showing the tables of the file (a database the desktop
    // asked us to open).
    void ImportFrom(const std::string& path);
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void ComboBox1Change();
    void ComboBox2Change();
    void Selectall1Click();
    void Unselectall1Click();

    // Routines.
    void FillFieldLists();
    void ClearSelection();
    void UpdateControls();
    bool CollectSelection();

    // The window takes the focus from `previous` (nullptr: from no window of the program).
    // The lists are refilled on the first activation and on every return from the browser.
    void Activated(QWindow* previous);

    // The forecast check window, once it has been opened.
    TSkillForm* SkillCheck() const noexcept { return SkillForm.get(); }

    // How the import shows its dialog; tests put a script in place of the modal loop.
    std::function<void(TTablesDlg&)> ShowTablesDialog;
    // Where the help file is looked for (the executable's folder).
    std::string HelpFolder;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Runs a handler; an error it raises ends the command and is shown by the default display.
    void Guard(const std::function<void()>& handler);
    void FocusWindowChanged(QWindow* now);

    TUserInterface& FUi;
    TCustomerData* CustomerData = nullptr;
    TGridForm* GridForm = nullptr;
    std::unique_ptr<TSkillForm> SkillForm;
    QWindow* FLastFocusWindow = nullptr;
    bool FActivatedOnce = false;
};

}  // namespace quorlin

// The desktop program: the main window, the data module and the hidden browser, created in
// that order, and the event loop until the main window closes.

#include <QApplication>
#include <QMessageBox>

#include "EquForm.h"
#include "data/CustomerData.h"
#include "data/windows/Dbbrower01.h"
#include "data/windows/QtUserInterface.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    try {
        quorlin::TQtUserInterface ui;
        quorlin::TEquForm equForm(ui);
        ui.SetOwner(&equForm);
        quorlin::TCustomerData customerData;
        equForm.SetDataModule(&customerData);
        quorlin::TGridForm gridForm(customerData.StatDataSource1, ui);
        equForm.SetGridForm(&gridForm);
        equForm.show();
        return app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("Quorlin"), QString::fromStdString(e.what()));
    }
    return 0;
}

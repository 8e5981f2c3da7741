// The desktop program: the main window, the data module and the hidden browser, created in
// that order, and the event loop until the main window closes. A database named on the command
// line (the desktop's "open with") is offered for import once the window shows.

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>

#include "ui/EquForm.h"
#include "ui/DesktopLanguage.h"
#include "data/provider/CustomerData.h"
#include "data/windows/Dbbrower01.h"
#include "data/windows/QtUserInterface.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    quorlin::SpeakDesktopLanguage(app);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quorlin.svg")));
    QApplication::setDesktopFileName(QStringLiteral("quorlin"));
    try {
        quorlin::TQtUserInterface ui;
        quorlin::TEquForm equForm(ui);
        ui.SetOwner(&equForm);
        quorlin::TCustomerData customerData;
        equForm.SetDataModule(&customerData);
        quorlin::TGridForm gridForm(customerData.StatDataSource1, ui);
        equForm.SetGridForm(&gridForm);
        equForm.show();
        const QStringList arguments = QApplication::arguments();
        if (arguments.size() > 1) {
            const std::string path = arguments.at(1).toStdString();
            QTimer::singleShot(0, &equForm, [&equForm, &ui, path] {
                try {
                    equForm.ImportFrom(path);
                } catch (const std::exception& e) {
                    ui.ShowError(e.what());
                }
            });
        }
        return app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("Quorlin"), QString::fromStdString(e.what()));
    }
    return 0;
}

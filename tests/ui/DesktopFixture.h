#pragma once
// The program as main() builds it, with a scripted user.

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <gtest/gtest.h>

#include "tests/ui/ScriptedUi.h"
#include "tests/StatisticsTestSupport.h"
#include "data/provider/CustomerData.h"
#include "data/windows/Dbbrower01.h"
#include "data/windows/DlgTables.h"
#include "ui/EquForm.h"

namespace quorlin::testing {

// A table of a file as a connection of its own reads it, apart from the program's.
struct OwnReading {
    OwnReading(const std::string& path, const std::string& table) : Query(Connection)
    {
        Connection.SetConnectionString(TCustomerData::ConnectionStringFor(path));
        Connection.Open();
        Query.SQL().Add(TCustomerData::SelectStatement(table));
        Query.Open();
    }
    TMdbConnection Connection;
    TMdbQuery Query;
};

class Desktop : public ::testing::Test {
protected:
    Desktop() : Form(Ui), Grid(Data.StatDataSource1, Ui)
    {
        Form.SetDataModule(&Data);
        Form.SetGridForm(&Grid);
        Form.HelpFolder = Folder.Path().string();
    }

    // Imports a table through the dialog, as a user does: choose the file, select the table, OK.
    void Import(const std::string& path, const std::string& table)
    {
        Form.ShowTablesDialog = [&](TTablesDlg& dialog) {
            Ui.OpenAnswers.push_back(path);
            dialog.OpenBtnClick();
            const auto found = dialog.ListTables->findItems(QString::fromStdString(table), Qt::MatchExactly);
            ASSERT_FALSE(found.isEmpty()) << table;
            dialog.ListTables->setCurrentItem(found.first());
            ASSERT_TRUE(dialog.OKBtn->isEnabled());
            dialog.OKBtnClick();
        };
        Form.Button2->click();
    }

    void ChooseY(const std::string& name)
    {
        Form.ComboBox1->setCurrentIndex(Form.ComboBox1->findText(QString::fromStdString(name)));
        Form.ComboBox1Change();
    }

    void Tick(const std::string& name, bool on = true)
    {
        const auto items = Form.CheckListBox1->findItems(QString::fromStdString(name), Qt::MatchExactly);
        ASSERT_FALSE(items.isEmpty()) << name;
        items.first()->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }

    std::vector<std::string> Items() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < Form.CheckListBox1->count(); ++i)
            names.push_back(Form.CheckListBox1->item(i)->text().toStdString());
        return names;
    }

    std::vector<std::string> Ticked() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < Form.CheckListBox1->count(); ++i)
            if (Form.CheckListBox1->item(i)->checkState() == Qt::Checked)
                names.push_back(Form.CheckListBox1->item(i)->text().toStdString());
        return names;
    }

    const std::string Regression = DataFile("regression.mdb");
    TempFolder Folder;
    ScriptedUi Ui;
    TEquForm Form;
    TCustomerData Data;
    TGridForm Grid;
};

}  // namespace quorlin::testing

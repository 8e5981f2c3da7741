#pragma once
// Every text a window shows a user: its title, and the labels, buttons, tool tips, group and
// table headers, menu entries, list entries and chart titles inside it; and what the scripted
// user was shown outside the windows (message boxes, errors, file dialogs).

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTableView>
#include <QWidget>
#include <QtCharts/QAbstractAxis>
#include <QtCharts/QAbstractSeries>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>

#include <string>
#include <vector>

#include "tests/ui/ScriptedUi.h"

namespace quorlin::testing {

struct TShownText {
    std::string Where;
    std::string Text;
};

class TShownTexts {
public:
    void Add(const std::string& where, const QString& text)
    {
        if (!text.trimmed().isEmpty()) FTexts.push_back({where, text.toStdString()});
    }
    void Add(const std::string& where, const std::string& text) { Add(where, QString::fromStdString(text)); }

    // The window and everything inside it, shown or not: a hidden line may show at any moment.
    void AddWindow(const QWidget& window)
    {
        const std::string name = window.objectName().toStdString();
        Add(name + " title", window.windowTitle());
        AddWidget(name, window);
        for (const QWidget* w : window.findChildren<QWidget*>()) AddWidget(name + "/" + w->objectName().toStdString(), *w);
        for (const QAction* a : window.findChildren<QAction*>()) Add(name + " menu", a->text());
    }

    // What the user was shown outside the windows.
    void AddScripted(const ScriptedUi& ui)
    {
        for (const ShownBox& box : ui.Boxes) {
            Add("message box", box.Text);
            Add("message box caption", box.Caption);
        }
        for (const std::string& e : ui.Errors) Add("error", e);
        for (const std::string& t : ui.OpenTitles) Add("open dialog title", t);
        for (const std::string& t : ui.SaveTitles) Add("save dialog title", t);
        for (const TFileFilter& f : ui.LastOpenFilters) Add("open dialog filter", f.Description);
        for (const TFileFilter& f : ui.LastSaveFilters) Add("save dialog filter", f.Description);
    }

    const std::vector<TShownText>& Texts() const noexcept { return FTexts; }

private:
    void AddWidget(const std::string& where, const QWidget& w)
    {
        Add(where + " tip", w.toolTip());
        if (auto* label = qobject_cast<const QLabel*>(&w)) Add(where, label->text());
        if (auto* button = qobject_cast<const QAbstractButton*>(&w)) Add(where, button->text());
        if (auto* group = qobject_cast<const QGroupBox*>(&w)) Add(where, group->title());
        if (auto* edit = qobject_cast<const QLineEdit*>(&w)) Add(where + " hint", edit->placeholderText());
        if (auto* combo = qobject_cast<const QComboBox*>(&w))
            for (int i = 0; i < combo->count(); ++i) Add(where, combo->itemText(i));
        if (auto* list = qobject_cast<const QListWidget*>(&w))
            for (int i = 0; i < list->count(); ++i) Add(where, list->item(i)->text());
        if (auto* table = qobject_cast<const QTableView*>(&w); table && table->model()) AddHeaders(where, *table->model());
        if (auto* view = qobject_cast<const QChartView*>(&w); view && view->chart()) AddChart(where, *view->chart());
    }

    void AddHeaders(const std::string& where, const QAbstractItemModel& model)
    {
        for (int c = 0; c < model.columnCount(); ++c) Add(where + " header", model.headerData(c, Qt::Horizontal).toString());
    }

    void AddChart(const std::string& where, const QChart& chart)
    {
        Add(where + " chart title", chart.title());
        for (const QAbstractSeries* s : chart.series()) Add(where + " series", s->name());
        for (const QAbstractAxis* a : chart.axes()) Add(where + " axis", a->titleText());
    }

    std::vector<TShownText> FTexts;
};

}  // namespace quorlin::testing

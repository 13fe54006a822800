#pragma once
// The windows the benchmarks open from the main window's menu, each with its
// grid and the record set the grid shows.
#include <QList>
#include <QString>
#include <functional>

class QAbstractItemView;
class QWidget;

namespace dravon {
class RecordSet;
}

namespace bench {

struct WindowCase
{
    QString name;
    QString menu;   // the main window's menu item
    QString table;  // the table the grid shows
    std::function<QWidget *()> window;
    std::function<QAbstractItemView *()> grid;
    std::function<dravon::RecordSet *()> records;
};

// Every master and record window.
QList<WindowCase> windows();
// Fails the run when there is no window of that name.
WindowCase windowNamed(const QString &name);

}

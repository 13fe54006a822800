#pragma once
// The main window's quick find: a box (placeholder "学号、姓名或拼音") whose
// typed number, name or pinyin drops down at most 20 matching students and
// teachers (number, name, class or post). Enter, or a click, chooses one: the
// first row when none is highlighted.
#include "data/find/QuickFind.h"

#include <QLineEdit>

class QCompleter;
class QStandardItemModel;
class QTreeView;
namespace dravon { class Connection; }

class QuickFindBox : public QLineEdit
{
    Q_OBJECT
public:
    QuickFindBox(std::function<dravon::Connection &()> connection, QWidget *parent = nullptr);

    QTreeView *list() const { return m_list; }
    const QVector<findtext::Person> &people() const { return m_people; }

signals:
    void chosen(const findtext::Person &person);

private:
    void search();
    void choose(int row);

    std::function<dravon::Connection &()> m_connection;
    QCompleter *m_completer = nullptr;
    QStandardItemModel *m_model = nullptr;
    QTreeView *m_list = nullptr;
    QVector<findtext::Person> m_people;
    bool m_justChosen = false;
};

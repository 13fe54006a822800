#pragma once
// Data-aware controls. Each shows one column of the current record of its
// data source; typing starts edit state by itself (automatic edit); the text
// is written into the column when the record is stored. A text set by code
// while the record is browsing is only shown, until the record is read again.
#include "gui/controls/DataSource.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>

class QWidget;
class LookupFilterModel;
class GridColumnsModel;

// No length limit on a single-line box: QLineEdit cuts typed, pasted and set
// text at 32,767 characters without a word, which would shorten a stored value.
void AllowLongText(QLineEdit *edit);

// The binding of one control to one column: loads the control from the
// record, tracks whether the control holds an unstored change, and writes it
// into the record before the record is stored.
class FieldLink : public QObject
{
    Q_OBJECT
public:
    FieldLink(QWidget *control, std::function<QString()> read, std::function<void(const QString &)> write);
    ~FieldLink() override;

    void bind(DataSource *source, const QString &field);
    DataSource *dataSource() const { return m_source; }
    QString field() const { return m_field; }
    dravon::RecordSet *dataSet() const { return m_source ? m_source->dataSet() : nullptr; }

    bool isModified() const { return m_modified; }
    void setModified() { if (!m_loading) m_modified = true; }
    bool isLoading() const { return m_loading; }
    // Reads the column of the current record into the control.
    void load();
    // The user changed the control's text to newText: start edit state if
    // needed (which reloads the control), then put the user's text back.
    bool userEdited(const QString &newText, const std::function<void()> &restoreCursor = {});

private:
    void attach();
    void detach();
    void updateRecord();

    QWidget *m_control;
    std::function<QString()> m_read;
    std::function<void(const QString &)> m_write;
    QPointer<DataSource> m_source;
    QString m_field;
    QPointer<dravon::RecordSet> m_attached;
    int m_linkId = 0;
    QList<QMetaObject::Connection> m_connections;
    bool m_modified = false;
    bool m_loading = false;
};

// Single-line bound text box. Read-only for typing when setReadOnly(true);
// code may still set its text (the date buttons).
class DBEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit DBEdit(QWidget *parent = nullptr);
    void bind(DataSource *source, const QString &field) { m_link.bind(source, field); }
    FieldLink &link() { return m_link; }

private:
    FieldLink m_link;
};

// Multi-line bound text box.
class DBMemo : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit DBMemo(QWidget *parent = nullptr);
    void bind(DataSource *source, const QString &field) { m_link.bind(source, field); }
    FieldLink &link() { return m_link; }

private:
    FieldLink m_link;
    bool m_reentered = false;
};

// Bound drop-down with a fixed item list: open (also accepts typed text) or
// closed (only the listed texts).
class DBComboBox : public QComboBox
{
    Q_OBJECT
public:
    DBComboBox(bool open, const QStringList &items, QWidget *parent = nullptr);
    void bind(DataSource *source, const QString &field) { m_link.bind(source, field); }
    FieldLink &link() { return m_link; }
    QString valueText() const;

private:
    void showValue(const QString &text);

    FieldLink m_link;
    QString m_closedValue;
};

// Read-only bound label.
class DBText : public QLabel
{
    Q_OBJECT
public:
    explicit DBText(QWidget *parent = nullptr);
    void bind(DataSource *source, const QString &field) { m_link.bind(source, field); }

private:
    FieldLink m_link;
};

// Lookup drop-down: its list is the rows of a second data source in two
// columns (number and name); the closed box shows the number of the chosen
// row, or nothing when the stored number matches no row. Picking a row
// writes its number into the bound column and makes it the current row of
// the list's record set; no text can be typed. The open list reads only the
// rows it shows, opens at the stored number's row, and a typed number or
// name (type-ahead) is found by the database, so the list may be long.
class DBLookupComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit DBLookupComboBox(QWidget *parent = nullptr);
    ~DBLookupComboBox() override;
    void bind(DataSource *source, const QString &field) { m_link.bind(source, field); }
    // listFields: "ClassID;ClaName"; keyField: the column whose value is stored.
    void setList(DataSource *listSource, const QString &keyField, const QString &listFields, int dropDownWidth);
    QString shownText() const { return m_shown; }
    // Picks the list row as the user does (tests and keyboard use it too).
    void pickRow(int row);

    void showPopup() override;
    void hidePopup() override;
    // The first list row whose number, else whose name, begins with text
    // (type-ahead); -1 when none.
    int findListRow(const QString &text) const;
    // Shows only the list rows that match text (number by prefix, name as
    // text or pinyin); empty text shows the whole list again. The typed text
    // shows in the box while the list is open.
    void filterList(const QString &text);
    QString listFilter() const { return m_filterText; }

signals:
    // A row was picked and written into the record.
    void picked();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void rebuildList();
    void showKey(const QString &key);

    FieldLink m_link;
    GridColumnsModel *m_list = nullptr;  // the list's record set in its columns
    QPointer<LookupFilterModel> m_filter;
    QString m_filterText;
    QPointer<DataSource> m_listSource;
    QString m_keyField;
    QStringList m_listFields;
    int m_dropDownWidth = 150;
    QString m_shown;
    QString m_key;
};

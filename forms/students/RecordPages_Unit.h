#pragma once
// The student-record window with a query page: PageControl1 holds the
// editing page (the record-editing frame over the main record set) and the
// query page. The windows declare their columns, bound controls, lists and
// query items; the five record commands and the query are the frame's and
// the page's.
#include "forms/base/Base_Unit.h"
#include "forms/base/FindPage.h"
#include "forms/base/RecordFrame.h"

class QComboBox;
class QTabWidget;

struct RecordPagesDeclaration
{
    QString objectName;        // frmStudentScore
    QString caption;           // 学生成绩
    QString editPageCaption;   // 成绩录入
    QString findPageCaption;   // 成绩查询
    QString mainSource;        // DataStudentScore
    QList<GridColumn> columns; // DBGrid1
    QString resultSource;      // DataFindScore
    QList<dravon::QueryItem> queryItems;
    QList<GridColumn> resultColumns;  // DBGrid2
};

class TfrmRecordPages : public TfrmBase
{
    Q_OBJECT
public:
    TfrmRecordPages(QWidget *owner, const RecordPagesDeclaration &declaration);

    QTabWidget *PageControl1 = nullptr;
    QWidget *TabSheet1 = nullptr;
    QWidget *TabSheet2 = nullptr;
    RecordFrame *frame = nullptr;
    FindPage *findPage = nullptr;

    DataGrid *DBGrid1 = nullptr;
    QPushButton *btnAdd = nullptr;
    QPushButton *btnModify = nullptr;
    QPushButton *btnDel = nullptr;
    QPushButton *btnSave = nullptr;
    QPushButton *btnCancel = nullptr;

    QComboBox *cmbxItems = nullptr;
    QComboBox *cmbxCondition = nullptr;
    QComboBox *cmbxValues = nullptr;
    QPushButton *btnFind = nullptr;
    DataGrid *DBGrid2 = nullptr;

    DataSource *mainSource() const { return frame->mainSource(); }
    DataSource *resultSource() const { return findPage->resultSource(); }

    void btnAddClick() { frame->btnAddClick(); }
    void btnModifyClick() { frame->btnModifyClick(); }
    void btnDelClick() { frame->btnDelClick(); }
    void btnSaveClick() { frame->btnSaveClick(); }
    void btnCancelClick() { frame->btnCancelClick(); }
    void btnFindClick() { findPage->btnFindClick(); }

protected:
    // Opens a statement on the shared connection into a data source.
    void openInto(DataSource *source, const QString &sql) { frame->openInto(source, sql); }
    // Both grids as wide as the first page's columns need, after the record sets are open.
    void fitGrids();
    // Sets each label-and-control pair of a panel row apart from the pair before it.
    void separatePanelPairs() { frame->separatePanelPairs(); }
    // A data source of a master list, owned by this window.
    DataSource *listSource(const QString &name);
};

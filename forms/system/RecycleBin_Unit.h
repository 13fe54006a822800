#pragma once
// The recycle bin (系统设置 → 数据维护 → 回收站): the rows deleted from one
// table and not restored, latest first, with when and by whom; 还原 stores
// the selected rows again under their keys, 清空 drops the rows deleted
// before a date for good. Both are batches of the change log, and the
// window's own Ctrl+Z takes a restore back.
#include "forms/base/Base_Unit.h"

#include <QPointer>

class DataGrid;
class DataSource;
class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;

class TfrmRecycleBin : public TfrmBase
{
    Q_OBJECT
public:
    explicit TfrmRecycleBin(QWidget *owner);

    QLabel *lblTable = nullptr;
    QComboBox *cmbxTable = nullptr;  // the table whose deleted rows show
    DataGrid *DBGrid1 = nullptr;
    DataSource *DataRecycleBin = nullptr;
    QPushButton *btnRestore = nullptr;
    QLabel *lblBefore = nullptr;
    QDateEdit *dtpBefore = nullptr;
    QPushButton *btnPurge = nullptr;

    void FormCreate() override;
    void cmbxTableChange();
    void btnRestoreClick();
    void btnPurgeClick();

protected:
    void FormClose() override;
    void reloadDataSets() override;

private:
    QString currentTable() const;
};

extern QPointer<TfrmRecycleBin> frmRecycleBin;

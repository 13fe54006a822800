#pragma once
// The import wizard: 文件 (the file and its sheet), 表头与对应 (the header
// row and which column goes into which field), 方式 (add, update or both, and
// how existing rows are found), 检查 (the dry run: counts and the rows with
// errors; nothing written) and 导入 (one transaction, with progress and
// cancel, after a backup copy of the database). Opened from the main menu,
// from a grid's menu (the grid's table preset) and by Ctrl+V in a grid (the
// clipboard as the file, starting at the mapping page).
#include "data/import/ImportRun.h"

#include <QPointer>
#include <QWizard>

class DataGrid;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;

class ImportWizard : public QWizard
{
    Q_OBJECT
public:
    enum PageId { FilePageId, MappingPageId, ModePageId, CheckPageId, ApplyPageId };

    // table: the target to preset (empty: chosen on the first page);
    // gridTitles: (field, title) of the grid the wizard was opened from.
    ImportWizard(QWidget *parent, const QString &table = {},
                 const QList<QPair<QString, QString>> &gridTitles = {});
    ~ImportWizard() override;

    // Reads a file; false (after saying why) when it cannot be read.
    bool openFile(const QString &path);
    // Takes tabular text from the clipboard as the file and starts at the mapping page.
    bool useClipboardText(const QString &text);

    // The state the pages share.
    const importing::ImportTarget *target() const;
    void setTargetTable(const QString &table);
    importing::TableReader *reader() const { return m_reader.get(); }
    QString sourceName() const { return m_sourceName; }
    int sheet() const { return m_sheet; }
    void selectSheet(int sheet);
    const QList<importing::SourceRow> &firstRows() const { return m_firstRows; }
    const QList<QPair<QString, QString>> &gridTitles() const { return m_gridTitles; }
    importing::ImportPlan &plan() { return m_plan; }
    // The working window the import belongs to: its undo takes the import back.
    void setOriginWindow(const QString &window) { m_plan.window = window; }
    importing::ImportRun *run() const { return m_run.get(); }
    importing::ImportRun &newRun();
    QStringList headers() const;

    // The file's first rows read for the preview and the header search.
    static constexpr int previewRows = 30;

signals:
    void sourceChanged();

private:
    QList<QPair<QString, QString>> m_gridTitles;
    QString m_table;
    std::unique_ptr<importing::TableReader> m_reader;
    QString m_sourceName;
    int m_sheet = 0;
    QList<importing::SourceRow> m_firstRows;
    importing::ImportPlan m_plan;
    std::unique_ptr<importing::ImportRun> m_run;
};

class ImportFilePage : public QWizardPage
{
    Q_OBJECT
public:
    explicit ImportFilePage(ImportWizard *wizard);
    bool isComplete() const override;
    bool validatePage() override;

    QComboBox *cmbxTarget = nullptr;
    QLineEdit *edtFile = nullptr;
    QPushButton *btnBrowse = nullptr;
    QComboBox *cmbxSheet = nullptr;
    QTableWidget *grdPreview = nullptr;

    void btnBrowseClick();

private:
    void showSource();
    ImportWizard *m_wizard;
};

class ImportMappingPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit ImportMappingPage(ImportWizard *wizard);
    void initializePage() override;
    bool validatePage() override;

    QSpinBox *spnHeaderRow = nullptr;
    QTableWidget *grdMapping = nullptr;
    QGroupBox *grpSheet = nullptr;
    QComboBox *cmbxTerm = nullptr;
    QDateEdit *dtpDate = nullptr;
    QLabel *lblProblem = nullptr;

    // The mapping as the page shows it.
    QList<importing::ColumnMapping> mapping() const;

private:
    void fillMapping(const QHash<QString, QString> &remembered);
    void updateSheetBox();
    ImportWizard *m_wizard;
    QList<importing::NamedKey> m_subjects;
    bool m_filling = false;
};

class ImportModePage : public QWizardPage
{
    Q_OBJECT
public:
    explicit ImportModePage(ImportWizard *wizard);
    void initializePage() override;
    bool validatePage() override;

    QRadioButton *rbAddOnly = nullptr;
    QRadioButton *rbUpdateOnly = nullptr;
    QRadioButton *rbAddAndUpdate = nullptr;
    QLabel *lblMatch = nullptr;
    QListWidget *lstMatch = nullptr;

private:
    ImportWizard *m_wizard;
};

class ImportCheckPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit ImportCheckPage(ImportWizard *wizard);
    void initializePage() override;
    void cleanupPage() override;
    bool isComplete() const override;
    bool validatePage() override;

    QProgressBar *barCheck = nullptr;
    QLabel *lblStatus = nullptr;
    QLabel *lblCounts = nullptr;
    QTableWidget *grdErrors = nullptr;
    QPushButton *btnSaveErrors = nullptr;

    // Runs the dry run now (the page starts it when shown).
    void runCheck();
    void btnSaveErrorsClick();

private:
    ImportWizard *m_wizard;
    bool m_running = false;
    bool m_done = false;
    bool m_stop = false;
};

class ImportApplyPage : public QWizardPage
{
    Q_OBJECT
public:
    explicit ImportApplyPage(ImportWizard *wizard);
    void initializePage() override;
    void cleanupPage() override;
    bool isComplete() const override;

    QProgressBar *barImport = nullptr;
    QPushButton *btnCancelImport = nullptr;
    QLabel *lblResult = nullptr;

    void runImport();

private:
    ImportWizard *m_wizard;
    bool m_running = false;
    bool m_done = false;
    bool m_cancel = false;
};

// Opens the wizard modally. From a grid: its table and titles are preset,
// and the grid's window is the one whose undo takes the import back.
void OpenImportWizard(QWidget *parent, const QString &table = {},
                      const QList<QPair<QString, QString>> &gridTitles = {}, const QString &originWindow = {});
void OpenImportWizardForGrid(DataGrid *grid);
// Ctrl+V in a grid: the clipboard's tabular text into the grid's table.
// False when the clipboard holds no table (the key then does what it did).
bool PasteIntoGrid(DataGrid *grid);
// Whether a grid's rows can be imported into (its record set is a table the
// wizard knows).
bool GridAcceptsImport(const DataGrid *grid);
// Every open record set over the table, in browse state, is opened again so
// its grid shows what was imported.
void ReopenTableViews(const QString &table);

#include "gui/import/ImportWizard.h"

#include "data/Dravon.h"
#include "data/import/CellText.h"
#include "gui/OpenFileDialog.h"
#include "gui/SaveFileDialog.h"
#include "gui/SharedConnection.h"
#include "gui/Shell_Unit.h"
#include "gui/controls/DataGrid.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace importing;

namespace {

const QString wizardTitle = QStringLiteral("导入数据");
const QString skipText = QStringLiteral("(不导入)");

QString columnLetters(int column)
{
    QString letters;
    for (int c = column + 1; c > 0; c = (c - 1) / 26)
        letters.prepend(QChar(u'A' + (c - 1) % 26));
    return letters;
}

QTableWidget *makeTable(QWidget *parent, const char *name)
{
    auto *table = new QTableWidget(parent);
    table->setObjectName(QString::fromLatin1(name));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setWordWrap(false);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

QTableWidgetItem *item(const QString &text)
{
    auto *i = new QTableWidgetItem(text);
    i->setToolTip(text);
    return i;
}

// The subjects a wide score sheet may name, by number and name.
QList<NamedKey> readSubjects()
{
    QList<NamedKey> subjects;
    std::unique_ptr<dravon::RecordSet> rs = SQLDataSet(QStringLiteral("Select * From SubjectInfo"), SharedConnection());
    for (rs->first(); !rs->eof(); rs->next())
        subjects.append({rs->fieldText(QStringLiteral("SubjectID")), rs->fieldText(QStringLiteral("SubName"))});
    return subjects;
}

}

// ---- the wizard ------------------------------------------------------------

ImportWizard::ImportWizard(QWidget *parent, const QString &table, const QList<QPair<QString, QString>> &gridTitles)
    : QWizard(parent), m_gridTitles(gridTitles), m_table(table)
{
    setObjectName(QStringLiteral("ImportWizard"));
    setWindowTitle(wizardTitle);
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::NoCancelButtonOnLastPage);
    setButtonText(QWizard::BackButton, QStringLiteral("< 上一步"));
    setButtonText(QWizard::NextButton, QStringLiteral("下一步 >"));
    setButtonText(QWizard::FinishButton, QStringLiteral("完成"));
    setButtonText(QWizard::CancelButton, QStringLiteral("取消"));
    setPage(FilePageId, new ImportFilePage(this));
    setPage(MappingPageId, new ImportMappingPage(this));
    setPage(ModePageId, new ImportModePage(this));
    setPage(CheckPageId, new ImportCheckPage(this));
    setPage(ApplyPageId, new ImportApplyPage(this));
    resize(820, 600);
}

ImportWizard::~ImportWizard() = default;

const ImportTarget *ImportWizard::target() const
{
    return findTarget(m_table);
}

void ImportWizard::setTargetTable(const QString &table)
{
    if (table == m_table)
        return;
    m_table = table;
    m_run.reset();
    emit sourceChanged();
}

void ImportWizard::selectSheet(int sheet)
{
    if (!m_reader)
        return;
    m_sheet = sheet;
    m_firstRows.clear();
    m_run.reset();
    try {
        m_reader->selectSheet(sheet);
        SourceRow row;
        while (m_firstRows.size() < previewRows && m_reader->next(row))
            m_firstRows << row;
    } catch (const ImportFailure &e) {
        m_reader.reset();
        m_firstRows.clear();
        ShowMessage(e.text(), wizardTitle, QMessageBox::Critical);
    }
    emit sourceChanged();
}

bool ImportWizard::openFile(const QString &path)
{
    m_reader.reset();
    m_firstRows.clear();
    m_run.reset();
    try {
        m_reader = openTableFile(path);
    } catch (const ImportFailure &e) {
        ShowMessage(e.text(), wizardTitle, QMessageBox::Critical);
        emit sourceChanged();
        return false;
    }
    m_sourceName = QDir::toNativeSeparators(path);
    m_plan.sourceKind = m_reader->kind();
    // The first sheet that is not hidden.
    int sheet = 0;
    const QList<SheetInfo> sheets = m_reader->sheets();
    for (int i = 0; i < sheets.size(); ++i)
        if (!sheets[i].hidden) {
            sheet = i;
            break;
        }
    selectSheet(sheet);
    return m_reader != nullptr;
}

bool ImportWizard::useClipboardText(const QString &text)
{
    m_run.reset();
    try {
        m_reader = readClipboardText(text);
    } catch (const ImportFailure &e) {
        ShowMessage(e.text(), wizardTitle, QMessageBox::Critical);
        return false;
    }
    m_sourceName = QStringLiteral("剪贴板");
    m_plan.sourceKind = FileKind::Clipboard;
    selectSheet(0);
    if (!m_reader || m_firstRows.isEmpty())
        return false;
    setStartId(MappingPageId);
    return true;
}

ImportRun &ImportWizard::newRun()
{
    m_plan.sheet = m_sheet;
    m_run = std::make_unique<ImportRun>(SharedConnection(), m_plan);
    return *m_run;
}

QStringList ImportWizard::headers() const
{
    const int index = int(m_plan.headerLine);
    for (const SourceRow &row : m_firstRows)
        if (row.line == index)
            return row.cells;
    return {};
}

// ---- 文件 ------------------------------------------------------------------

ImportFilePage::ImportFilePage(ImportWizard *wizard) : QWizardPage(wizard), m_wizard(wizard)
{
    setObjectName(QStringLiteral("FilePage"));
    setTitle(QStringLiteral("文件"));
    setSubTitle(QStringLiteral("选择要导入的 Excel 工作簿(.xlsx、.xls)或 CSV、文本文件(.csv、.txt)。"));
    cmbxTarget = new QComboBox(this);
    cmbxTarget->setObjectName(QStringLiteral("cmbxTarget"));
    for (const ImportTarget &t : importTargets())
        cmbxTarget->addItem(t.caption, t.table);
    cmbxTarget->setCurrentIndex(-1);
    if (const ImportTarget *t = wizard->target())
        cmbxTarget->setCurrentIndex(cmbxTarget->findData(t->table));
    edtFile = new QLineEdit(this);
    edtFile->setObjectName(QStringLiteral("edtFile"));
    btnBrowse = new QPushButton(QStringLiteral("浏览…"), this);
    btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
    btnBrowse->setAutoDefault(false);
    cmbxSheet = new QComboBox(this);
    cmbxSheet->setObjectName(QStringLiteral("cmbxSheet"));
    grdPreview = makeTable(this, "grdPreview");

    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(edtFile, 1);
    fileRow->addWidget(btnBrowse);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("导入到:"), cmbxTarget);
    form->addRow(QStringLiteral("文件:"), fileRow);
    form->addRow(QStringLiteral("工作表:"), cmbxSheet);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(new QLabel(QStringLiteral("文件的前几行:"), this));
    layout->addWidget(grdPreview, 1);

    connect(btnBrowse, &QPushButton::clicked, this, [this] { Guarded([this] { btnBrowseClick(); }); });
    connect(edtFile, &QLineEdit::returnPressed, this, [this] {
        if (!edtFile->text().trimmed().isEmpty())
            m_wizard->openFile(edtFile->text().trimmed());
    });
    connect(cmbxTarget, &QComboBox::currentIndexChanged, this, [this] {
        m_wizard->setTargetTable(cmbxTarget->currentData().toString());
        emit completeChanged();
    });
    connect(cmbxSheet, &QComboBox::activated, this, [this](int index) { m_wizard->selectSheet(index); });
    connect(wizard, &ImportWizard::sourceChanged, this, &ImportFilePage::showSource);
}

void ImportFilePage::btnBrowseClick()
{
    const QString path = AskOpenFileName(this, QStringLiteral("选择要导入的文件"),
                                         QStringLiteral("表格文件 (*.xlsx *.xls *.csv *.txt);;所有文件 (*)"));
    if (path.isEmpty())
        return;
    edtFile->setText(QDir::toNativeSeparators(path));
    m_wizard->openFile(path);
}

void ImportFilePage::showSource()
{
    const QSignalBlocker block(cmbxSheet);
    cmbxSheet->clear();
    grdPreview->clear();
    grdPreview->setRowCount(0);
    grdPreview->setColumnCount(0);
    TableReader *reader = m_wizard->reader();
    if (reader) {
        if (m_wizard->sourceName() != edtFile->text())
            edtFile->setText(m_wizard->sourceName());
        for (const SheetInfo &s : reader->sheets()) {
            QString name = s.name.isEmpty() ? QFileInfo(m_wizard->sourceName()).fileName() : s.name;
            if (s.hidden)
                name += QStringLiteral(" (隐藏)");
            cmbxSheet->addItem(name);
        }
        cmbxSheet->setCurrentIndex(m_wizard->sheet());
        cmbxSheet->setEnabled(reader->sheets().size() > 1);
        const QList<SourceRow> &rows = m_wizard->firstRows();
        int columns = 0;
        for (const SourceRow &r : rows)
            columns = qMax(columns, int(r.cells.size()));
        grdPreview->setColumnCount(columns);
        grdPreview->setRowCount(int(rows.size()));
        QStringList letters, lines;
        for (int c = 0; c < columns; ++c)
            letters << columnLetters(c);
        for (int r = 0; r < rows.size(); ++r) {
            lines << QString::number(rows[r].line);
            for (int c = 0; c < rows[r].cells.size(); ++c)
                grdPreview->setItem(r, c, item(rows[r].cells[c]));
        }
        grdPreview->setHorizontalHeaderLabels(letters);
        grdPreview->setVerticalHeaderLabels(lines);
        grdPreview->resizeColumnsToContents();
        for (int c = 0; c < columns; ++c)
            grdPreview->setColumnWidth(c, qMin(grdPreview->columnWidth(c), 220));
    }
    emit completeChanged();
}

bool ImportFilePage::isComplete() const
{
    return m_wizard->target() && m_wizard->reader() && !m_wizard->firstRows().isEmpty();
}

bool ImportFilePage::validatePage()
{
    // A path typed but not yet read is read now.
    const QString typed = edtFile->text().trimmed();
    if (!typed.isEmpty() && typed != m_wizard->sourceName())
        return m_wizard->openFile(typed) && isComplete();
    return isComplete();
}

// ---- 表头与对应 --------------------------------------------------------------

ImportMappingPage::ImportMappingPage(ImportWizard *wizard) : QWizardPage(wizard), m_wizard(wizard)
{
    setObjectName(QStringLiteral("MappingPage"));
    setTitle(QStringLiteral("表头与对应"));
    setSubTitle(QStringLiteral("确认表头所在的行,以及文件的每一列导入到哪个字段。"));
    spnHeaderRow = new QSpinBox(this);
    spnHeaderRow->setObjectName(QStringLiteral("spnHeaderRow"));
    spnHeaderRow->setRange(1, 1048576);
    grdMapping = makeTable(this, "grdMapping");
    grdMapping->setColumnCount(4);
    grdMapping->setHorizontalHeaderLabels(
        {QStringLiteral("列"), QStringLiteral("表头"), QStringLiteral("第一行数据"), QStringLiteral("导入到字段")});
    grdMapping->setSelectionMode(QAbstractItemView::NoSelection);
    grdMapping->verticalHeader()->hide();
    grpSheet = new QGroupBox(QStringLiteral("各科成绩列的学期与考试日期"), this);
    grpSheet->setObjectName(QStringLiteral("grpSheet"));
    cmbxTerm = new QComboBox(grpSheet);
    cmbxTerm->setObjectName(QStringLiteral("cmbxTerm"));
    cmbxTerm->setEditable(true);
    cmbxTerm->addItems({QStringLiteral("第一学期"), QStringLiteral("第二学期"), QStringLiteral("第三学期"),
                        QStringLiteral("第四学期")});
    dtpDate = new QDateEdit(QDate::currentDate(), grpSheet);
    dtpDate->setObjectName(QStringLiteral("dtpDate"));
    dtpDate->setCalendarPopup(true);
    dtpDate->setDisplayFormat(dravon::shortDateFormat());
    auto *sheetForm = new QFormLayout(grpSheet);
    sheetForm->addRow(QStringLiteral("学期:"), cmbxTerm);
    sheetForm->addRow(QStringLiteral("考试日期:"), dtpDate);
    lblProblem = new QLabel(this);
    lblProblem->setObjectName(QStringLiteral("lblProblem"));
    lblProblem->setStyleSheet(QStringLiteral("color: #b00000;"));
    lblProblem->setWordWrap(true);

    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("表头在第"), this));
    top->addWidget(spnHeaderRow);
    top->addWidget(new QLabel(QStringLiteral("行"), this));
    top->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(grdMapping, 1);
    layout->addWidget(grpSheet);
    layout->addWidget(lblProblem);

    connect(spnHeaderRow, &QSpinBox::valueChanged, this, [this](int line) {
        if (m_filling)
            return;
        m_wizard->plan().headerLine = line;
        fillMapping(rememberedMapping(m_wizard->target()->table));
    });
}

void ImportMappingPage::initializePage()
{
    const ImportTarget *target = m_wizard->target();
    if (!target)
        return;
    m_subjects.clear();
    if (target->table == QLatin1String("Score"))
        Guarded([&] { m_subjects = readSubjects(); });
    QHash<QString, QString> remembered;
    Guarded([&] { remembered = rememberedMapping(target->table); });
    MappingHints hints{m_wizard->gridTitles(), remembered, m_subjects};
    const QList<SourceRow> &rows = m_wizard->firstRows();
    const int index = findHeaderRow(rows, *target, hints);
    m_wizard->plan().headerLine = rows.isEmpty() ? 0 : rows.value(index).line;
    m_filling = true;
    spnHeaderRow->setValue(int(qMax<qint64>(1, m_wizard->plan().headerLine)));
    m_filling = false;
    fillMapping(remembered);
}

void ImportMappingPage::fillMapping(const QHash<QString, QString> &remembered)
{
    const ImportTarget *target = m_wizard->target();
    const QStringList headers = m_wizard->headers();
    const QList<ColumnMapping> columns =
        mapColumns(headers, *target, MappingHints{m_wizard->gridTitles(), remembered, m_subjects});
    // The first data row under the headers, for a sample of each column.
    QStringList sample;
    for (const SourceRow &row : m_wizard->firstRows())
        if (row.line > m_wizard->plan().headerLine) {
            sample = row.cells;
            break;
        }
    grdMapping->setRowCount(int(columns.size()));
    for (int r = 0; r < columns.size(); ++r) {
        const ColumnMapping &m = columns[r];
        grdMapping->setItem(r, 0, item(columnLetters(m.column)));
        grdMapping->setItem(r, 1, item(m.header));
        grdMapping->setItem(r, 2, item(sample.value(m.column)));
        auto *box = new QComboBox(grdMapping);
        box->setObjectName(QStringLiteral("cmbxField%1").arg(r));
        box->addItem(skipText, QString());
        for (const TargetField &f : target->fields)
            box->addItem(QStringLiteral("%1 (%2)").arg(f.caption, f.name), f.name);
        for (const NamedKey &s : std::as_const(m_subjects))
            box->addItem(QStringLiteral("%1 的成绩").arg(s.name), QLatin1Char('#') + s.key);
        const QString value = m.isSubject() ? QLatin1Char('#') + m.subjectId : m.field;
        box->setCurrentIndex(qMax(0, box->findData(value)));
        connect(box, &QComboBox::currentIndexChanged, this, [this] {
            updateSheetBox();
            lblProblem->clear();
        });
        grdMapping->setCellWidget(r, 3, box);
    }
    grdMapping->resizeColumnsToContents();
    grdMapping->setColumnWidth(2, qMin(grdMapping->columnWidth(2), 200));
    grdMapping->setColumnWidth(1, qMin(grdMapping->columnWidth(1), 200));
    updateSheetBox();
    lblProblem->clear();
}

QList<ColumnMapping> ImportMappingPage::mapping() const
{
    QList<ColumnMapping> columns;
    const QStringList headers = m_wizard->headers();
    for (int r = 0; r < grdMapping->rowCount(); ++r) {
        auto *box = qobject_cast<QComboBox *>(grdMapping->cellWidget(r, 3));
        ColumnMapping m;
        m.column = r;
        m.header = headers.value(r).trimmed();
        const QString value = box ? box->currentData().toString() : QString();
        if (value.startsWith(QLatin1Char('#'))) {
            m.subjectId = value.mid(1);
            for (const NamedKey &s : m_subjects)
                if (s.key == m.subjectId)
                    m.subjectName = s.name;
        } else {
            m.field = value;
        }
        columns << m;
    }
    return columns;
}

void ImportMappingPage::updateSheetBox()
{
    bool wide = false;
    for (const ColumnMapping &m : mapping())
        wide = wide || m.isSubject();
    grpSheet->setVisible(wide);
}

bool ImportMappingPage::validatePage()
{
    ImportPlan &plan = m_wizard->plan();
    plan.target = m_wizard->target();
    plan.columns = mapping();
    plan.headerLine = spnHeaderRow->value();
    const bool wide = grpSheet->isVisible();
    plan.sheetTerm = wide ? cmbxTerm->currentText().trimmed() : QString();
    plan.sheetDate = wide ? dtpDate->date() : QDate();
    // Fields taken twice are refused here rather than guessed.
    QSet<QString> seen;
    for (const ColumnMapping &m : plan.columns) {
        const QString key = m.isSubject() ? QLatin1Char('#') + m.subjectId : m.field;
        if (key.isEmpty())
            continue;
        if (seen.contains(key)) {
            lblProblem->setText(QStringLiteral("字段 \"%1\" 对应了多列,请只保留一列。")
                                    .arg(m.isSubject() ? m.subjectName : plan.target->field(m.field)->caption));
            return false;
        }
        seen.insert(key);
    }
    // The match columns are checked on the next page.
    ImportPlan probe = plan;
    probe.matchFields.clear();
    probe.mode = ImportMode::AddOnly;
    const QString problem = planProblem(probe);
    if (!problem.isEmpty()) {
        lblProblem->setText(problem + QStringLiteral("。"));
        return false;
    }
    Guarded([&] { rememberMapping(plan.target->table, plan.columns); });
    return true;
}

// ---- 方式 ------------------------------------------------------------------

ImportModePage::ImportModePage(ImportWizard *wizard) : QWizardPage(wizard), m_wizard(wizard)
{
    setObjectName(QStringLiteral("ModePage"));
    setTitle(QStringLiteral("方式"));
    setSubTitle(QStringLiteral("选择导入的方式。"));
    rbAddOnly = new QRadioButton(QStringLiteral("只添加新记录"), this);
    rbAddOnly->setObjectName(QStringLiteral("rbAddOnly"));
    rbUpdateOnly = new QRadioButton(QStringLiteral("只更新已有记录"), this);
    rbUpdateOnly->setObjectName(QStringLiteral("rbUpdateOnly"));
    rbAddAndUpdate = new QRadioButton(QStringLiteral("添加并更新"), this);
    rbAddAndUpdate->setObjectName(QStringLiteral("rbAddAndUpdate"));
    rbAddAndUpdate->setChecked(true);
    auto *group = new QButtonGroup(this);
    for (QRadioButton *b : {rbAddOnly, rbUpdateOnly, rbAddAndUpdate})
        group->addButton(b);
    lblMatch = new QLabel(this);
    lblMatch->setObjectName(QStringLiteral("lblMatch"));
    lblMatch->setWordWrap(true);
    lstMatch = new QListWidget(this);
    lstMatch->setObjectName(QStringLiteral("lstMatch"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(rbAddOnly);
    layout->addWidget(rbUpdateOnly);
    layout->addWidget(rbAddAndUpdate);
    layout->addSpacing(12);
    layout->addWidget(lblMatch);
    layout->addWidget(lstMatch, 1);
    layout->addStretch();
}

void ImportModePage::initializePage()
{
    const ImportTarget *target = m_wizard->target();
    const ImportPlan &plan = m_wizard->plan();
    lstMatch->clear();
    if (target->isMaster()) {
        lblMatch->setText(QStringLiteral("已有记录按 \"%1\" 查找:文件中的%1与表中的%1相同即为同一条记录。")
                              .arg(target->field(target->keyField)->caption));
        lstMatch->hide();
        return;
    }
    lblMatch->setText(QStringLiteral("已有记录按以下字段查找(所选字段全部相同即为同一条记录):"));
    lstMatch->show();
    const QStringList defaults = plan.matchFields.isEmpty() ? target->defaultMatch : plan.matchFields;
    for (const TargetField &f : target->fields) {
        auto *entry = new QListWidgetItem(QStringLiteral("%1 (%2)").arg(f.caption, f.name), lstMatch);
        entry->setData(Qt::UserRole, f.name);
        entry->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        entry->setCheckState(defaults.contains(f.name) ? Qt::Checked : Qt::Unchecked);
    }
}

bool ImportModePage::validatePage()
{
    ImportPlan &plan = m_wizard->plan();
    plan.mode = rbAddOnly->isChecked() ? ImportMode::AddOnly
                : rbUpdateOnly->isChecked() ? ImportMode::UpdateOnly
                                            : ImportMode::AddAndUpdate;
    plan.matchFields.clear();
    for (int i = 0; i < lstMatch->count(); ++i)
        if (lstMatch->item(i)->checkState() == Qt::Checked)
            plan.matchFields << lstMatch->item(i)->data(Qt::UserRole).toString();
    const QString problem = planProblem(plan);
    if (!problem.isEmpty()) {
        ShowMessage(problem + QStringLiteral("。"), wizardTitle, QMessageBox::Warning);
        return false;
    }
    return true;
}

// ---- 检查 ------------------------------------------------------------------

ImportCheckPage::ImportCheckPage(ImportWizard *wizard) : QWizardPage(wizard), m_wizard(wizard)
{
    setObjectName(QStringLiteral("CheckPage"));
    setTitle(QStringLiteral("检查"));
    setSubTitle(QStringLiteral("逐行检查文件的内容,与保存记录时的检查相同。这一步不写入任何数据。"));
    barCheck = new QProgressBar(this);
    barCheck->setObjectName(QStringLiteral("barCheck"));
    barCheck->setRange(0, 1000);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblCounts = new QLabel(this);
    lblCounts->setObjectName(QStringLiteral("lblCounts"));
    QFont big = lblCounts->font();
    big.setPointSizeF(big.pointSizeF() * 1.15);
    big.setBold(true);
    lblCounts->setFont(big);
    grdErrors = makeTable(this, "grdErrors");
    grdErrors->verticalHeader()->hide();
    btnSaveErrors = new QPushButton(QStringLiteral("保存错误行…"), this);
    btnSaveErrors->setObjectName(QStringLiteral("btnSaveErrors"));
    btnSaveErrors->setAutoDefault(false);
    auto *bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(btnSaveErrors);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(barCheck);
    layout->addWidget(lblStatus);
    layout->addWidget(lblCounts);
    layout->addWidget(grdErrors, 1);
    layout->addLayout(bottom);
    connect(btnSaveErrors, &QPushButton::clicked, this, [this] { Guarded([this] { btnSaveErrorsClick(); }); });
    // Closing the wizard stops a check that is running.
    connect(wizard, &QDialog::rejected, this, [this] { m_stop = true; });
}

void ImportCheckPage::initializePage()
{
    m_done = false;
    m_stop = false;
    barCheck->setValue(0);
    lblStatus->setText(QStringLiteral("正在检查…"));
    lblCounts->clear();
    grdErrors->clear();
    grdErrors->setRowCount(0);
    grdErrors->setColumnCount(0);
    btnSaveErrors->setEnabled(false);
    // The page shows before the rows are read.
    QTimer::singleShot(0, this, [this] {
        if (!m_running && !m_done)
            runCheck();
    });
}

void ImportCheckPage::cleanupPage()
{
    m_stop = true;
}

bool ImportCheckPage::isComplete() const
{
    return m_done && !m_running;
}

void ImportCheckPage::runCheck()
{
    if (m_running)
        return;
    m_running = true;
    m_done = false;
    emit completeChanged();
    wizard()->button(QWizard::BackButton)->setEnabled(false);
    bool finished = false;
    QString failure;
    try {
        TableReader *reader = m_wizard->reader();
        ImportRun &run = m_wizard->newRun();
        finished = run.check(*reader, [this](qint64 done, qint64 total) {
            barCheck->setValue(int(done * 1000 / qMax<qint64>(1, total)));
            QCoreApplication::processEvents();
            return !m_stop;
        });
    } catch (const ImportFailure &e) {
        failure = e.text();
    } catch (const std::exception &e) {
        failure = ErrorText(e);
    }
    m_running = false;
    wizard()->button(QWizard::BackButton)->setEnabled(true);
    if (!failure.isEmpty()) {
        lblStatus->setText(QStringLiteral("检查没有完成。"));
        ShowMessage(failure, wizardTitle, QMessageBox::Critical);
        emit completeChanged();
        return;
    }
    if (!finished) {
        lblStatus->setText(QStringLiteral("检查已停止。"));
        emit completeChanged();
        return;
    }
    barCheck->setValue(1000);
    const ImportRun *run = m_wizard->run();
    const ImportCounts c = run->counts();
    lblCounts->setText(QStringLiteral("新增 %1,更新 %2,不变 %3,跳过 %4,错误 %5")
                           .arg(c.added)
                           .arg(c.updated)
                           .arg(c.unchanged)
                           .arg(c.skipped)
                           .arg(c.errorRows));
    lblStatus->setText(c.errorRows == 0 ? QStringLiteral("检查完毕,没有发现错误。尚未写入任何数据。")
                                        : QStringLiteral("检查完毕。有错误的行不会导入,可保存下来改正后再导入。尚未写入任何数据。"));
    // The rows with errors: the reasons, then the row as the file has it.
    const QList<ErrorRow> &errors = run->errorRows();
    const QStringList headers = m_wizard->headers();
    int width = int(headers.size());
    for (const ErrorRow &e : errors)
        width = qMax(width, int(e.cells.size()));
    grdErrors->setColumnCount(width + 2);
    QStringList titles{QStringLiteral("行"), QStringLiteral("错误原因")};
    for (int c = 0; c < width; ++c)
        titles << (headers.value(c).isEmpty() ? columnLetters(c) : headers.value(c));
    grdErrors->setHorizontalHeaderLabels(titles);
    grdErrors->setRowCount(int(errors.size()));
    for (int r = 0; r < errors.size(); ++r) {
        grdErrors->setItem(r, 0, item(QString::number(errors[r].line)));
        grdErrors->setItem(r, 1, item(errors[r].reasons.join(QStringLiteral(";"))));
        for (int c = 0; c < errors[r].cells.size(); ++c)
            grdErrors->setItem(r, c + 2, item(errors[r].cells[c]));
    }
    grdErrors->resizeColumnsToContents();
    grdErrors->setColumnWidth(1, qMin(grdErrors->columnWidth(1), 360));
    btnSaveErrors->setEnabled(c.errorRows > 0);
    m_done = true;
    emit completeChanged();
}

void ImportCheckPage::btnSaveErrorsClick()
{
    ImportRun *run = m_wizard->run();
    if (!run || run->counts().errorRows == 0)
        return;
    const bool workbook = m_wizard->plan().sourceKind == FileKind::Xlsx || m_wizard->plan().sourceKind == FileKind::Xls;
    const QString extension = workbook ? QStringLiteral("xlsx") : QStringLiteral("csv");
    const QString base = m_wizard->plan().sourceKind == FileKind::Clipboard
                             ? QStringLiteral("剪贴板")
                             : QFileInfo(m_wizard->sourceName()).completeBaseName();
    const QString path = AskSaveFileName(this, QStringLiteral("保存错误行"), base + QStringLiteral("-错误行"), extension,
                                         workbook ? QStringLiteral("Excel 工作簿 (*.xlsx)") : QStringLiteral("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return;
    try {
        run->writeErrorRows(path, m_wizard->headers());
    } catch (const exporting::ExportFailure &e) {
        ShowMessage(e.text(), QStringLiteral("保存错误行"), QMessageBox::Critical);
        return;
    }
    ShowMessage(QStringLiteral("已将 %1 行有错误的数据保存到文件 \"%2\"。").arg(run->counts().errorRows).arg(QDir::toNativeSeparators(path)),
                QStringLiteral("保存错误行"), QMessageBox::Information);
}

bool ImportCheckPage::validatePage()
{
    const ImportRun *run = m_wizard->run();
    if (!run || !run->isChecked())
        return false;
    const ImportCounts c = run->counts();
    if (c.added + c.updated == 0) {
        ShowMessage(QStringLiteral("没有需要新增或更新的记录。"), wizardTitle, QMessageBox::Information);
        return false;
    }
    if (c.errorRows > 0
        && ShowMessage(QStringLiteral("有 %1 行有错误,这些行不会导入。\n要导入其余的行吗?").arg(c.errorRows), wizardTitle,
                       QMessageBox::Question, QMessageBox::Yes | QMessageBox::No)
               != QMessageBox::Yes)
        return false;
    return true;
}

// ---- 导入 ------------------------------------------------------------------

ImportApplyPage::ImportApplyPage(ImportWizard *wizard) : QWizardPage(wizard), m_wizard(wizard)
{
    setObjectName(QStringLiteral("ApplyPage"));
    setTitle(QStringLiteral("导入"));
    setSubTitle(QStringLiteral("在一个事务中写入全部记录;取消或出错时数据库保持导入前的样子。"));
    setFinalPage(true);
    barImport = new QProgressBar(this);
    barImport->setObjectName(QStringLiteral("barImport"));
    barImport->setRange(0, 1000);
    btnCancelImport = new QPushButton(QStringLiteral("取消"), this);
    btnCancelImport->setObjectName(QStringLiteral("btnCancelImport"));
    btnCancelImport->setAutoDefault(false);
    lblResult = new QLabel(this);
    lblResult->setObjectName(QStringLiteral("lblResult"));
    lblResult->setWordWrap(true);
    lblResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *row = new QHBoxLayout;
    row->addWidget(barImport, 1);
    row->addWidget(btnCancelImport);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(lblResult);
    layout->addStretch();
    connect(btnCancelImport, &QPushButton::clicked, this, [this] { m_cancel = true; });
}

void ImportApplyPage::initializePage()
{
    m_done = false;
    m_cancel = false;
    barImport->setValue(0);
    // A server database is not copied first: its own change log keeps what the import changes.
    lblResult->setText(SharedConnection().isServer() ? QStringLiteral("正在导入…") : QStringLiteral("正在备份数据库并导入…"));
    QTimer::singleShot(0, this, [this] {
        if (!m_running && !m_done)
            runImport();
    });
}

bool ImportApplyPage::isComplete() const
{
    return m_done;
}

void ImportApplyPage::cleanupPage()
{
    m_done = false;
}

void ImportApplyPage::runImport()
{
    ImportRun *run = m_wizard->run();
    if (m_running || !run)
        return;
    m_running = true;
    btnCancelImport->setEnabled(true);
    wizard()->button(QWizard::CancelButton)->setEnabled(false);
    wizard()->button(QWizard::BackButton)->setEnabled(false);
    const QString table = m_wizard->plan().target->table;
    QString text;
    bool changed = false;
    try {
        const ApplyResult result = applyImport(*run, [this](qint64 done, qint64 total) {
            barImport->setValue(int(done * 1000 / qMax<qint64>(1, total)));
            QCoreApplication::processEvents();
            return !m_cancel;
        });
        if (result.completed) {
            barImport->setValue(1000);
            changed = true;
            text = QStringLiteral("导入完成:新增 %1 条,更新 %2 条。").arg(result.added).arg(result.updated);
        } else {
            text = QStringLiteral("导入已取消,数据库没有任何改变。");
        }
        if (!result.backupPath.isEmpty())
            text += QStringLiteral("\n导入前的数据库已备份为 %1").arg(QDir::toNativeSeparators(result.backupPath));
    } catch (const StaleCheck &e) {
        // Another program wrote meanwhile: nothing was written; the check
        // runs again on what the database now holds.
        m_running = false;
        btnCancelImport->setEnabled(false);
        wizard()->button(QWizard::CancelButton)->setEnabled(true);
        ShowMessage(e.text(), wizardTitle, QMessageBox::Information);
        QTimer::singleShot(0, m_wizard, [wizard = m_wizard] {
            wizard->back();
            if (auto *check = qobject_cast<ImportCheckPage *>(wizard->currentPage()))
                check->initializePage();
        });
        return;
    } catch (const std::exception &e) {
        text = ErrorText(e);
        ShowMessage(text, wizardTitle, QMessageBox::Critical);
    }
    lblResult->setText(text);
    btnCancelImport->setEnabled(false);
    m_running = false;
    m_done = true;
    // Whatever happened, open windows over the table show what it now holds.
    Q_UNUSED(changed);
    ReopenTableViews(table);
    emit completeChanged();
    // What was done cannot be gone back on: the check would no longer hold.
    wizard()->button(QWizard::BackButton)->setEnabled(false);
}

// ---- entry points ----------------------------------------------------------

void OpenImportWizard(QWidget *parent, const QString &table, const QList<QPair<QString, QString>> &gridTitles,
                      const QString &originWindow)
{
    ImportWizard wizard(parent, table, gridTitles);
    wizard.setOriginWindow(originWindow);
    ExecDialog(&wizard);
}

namespace {

dravon::RecordSet *tableSetOf(const DataGrid *grid)
{
    dravon::RecordSet *rs = grid && grid->dataSource() ? grid->dataSource()->dataSet() : nullptr;
    return rs && !rs->isReadOnly() && findTarget(rs->tableName()) ? rs : nullptr;
}

QList<QPair<QString, QString>> titlesOf(const DataGrid *grid)
{
    QList<QPair<QString, QString>> titles;
    for (const GridColumn &c : grid->columns())
        titles.append({c.field, c.title});
    return titles;
}

}

bool GridAcceptsImport(const DataGrid *grid)
{
    return tableSetOf(grid) != nullptr;
}

void OpenImportWizardForGrid(DataGrid *grid)
{
    dravon::RecordSet *rs = tableSetOf(grid);
    if (!rs)
        return;
    OpenImportWizard(grid->window(), rs->tableName(), titlesOf(grid), rs->origin());
}

bool PasteIntoGrid(DataGrid *grid)
{
    dravon::RecordSet *rs = tableSetOf(grid);
    if (!rs || rs->state() != dravon::DataSetState::Browse)
        return false;
    const QString text = QApplication::clipboard()->text();
    // A table: more than one cell, in tab-separated lines.
    if (!text.contains(QLatin1Char('\t')) && text.count(QLatin1Char('\n')) < 1)
        return false;
    ImportWizard wizard(grid->window(), rs->tableName(), titlesOf(grid));
    wizard.setOriginWindow(rs->origin());
    if (!wizard.useClipboardText(text))
        return true;
    ExecDialog(&wizard);
    return true;
}

void ReopenTableViews(const QString &table)
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        for (DataSource *source : top->findChildren<DataSource *>()) {
            dravon::RecordSet *rs = source->dataSet();
            // A record being edited is left alone: reading again would store or drop it.
            if (!rs || rs->isReadOnly() || rs->tableName().compare(table, Qt::CaseInsensitive) != 0
                || rs->state() != dravon::DataSetState::Browse)
                continue;
            Guarded([&] { source->reread(); });
        }
    }
}

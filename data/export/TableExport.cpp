#include "data/export/TableExport.h"

#include "data/Error.h"
#include "data/SettingsClient.h"
#include "data/ShortDate.h"
#include "data/StagingFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <xlsxwriter.h>

namespace exporting {

namespace {

// Rows between two progress reports (and cancel checks).
constexpr qint64 progressStep = 256;
// Column widths in Excel's character units: the widest a column is made, and
// the most that fits across a portrait A4 page.
constexpr double maxColumnWidth = 60;
constexpr double portraitWidth = 90;

QString osReason(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return QStringLiteral("没有写入权限");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘空间不足");
    case EROFS:
        return QStringLiteral("磁盘只读");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("文件夹不存在");
    case EISDIR:
        return QStringLiteral("同名的文件夹已存在");
    case ETXTBSY:
    case EBUSY:
        return QStringLiteral("文件正被其他程序使用");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

[[noreturn]] void failWrite(const QString &path, int error)
{
    throw ExportFailure(failureText(path, osReason(error)));
}

[[noreturn]] void failRead(const QString &path, const dravon::Error &e)
{
    throw ExportFailure(failureText(path, QStringLiteral("读取记录失败:%1").arg(e.text())));
}

bool plainNumber(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    return number.match(text).hasMatch();
}

// Writes whole buffers to a descriptor, reporting the first failure.
class RawWriter
{
public:
    RawWriter(const QString &path, const QString &target) : m_target(target)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (m_fd < 0)
            failWrite(m_target, errno);
    }
    ~RawWriter()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    void append(const QByteArray &bytes)
    {
        m_buffer += bytes;
        if (m_buffer.size() >= 1 << 16)
            flush();
    }
    void flush()
    {
        const char *p = m_buffer.constData();
        qint64 left = m_buffer.size();
        while (left > 0) {
            const ssize_t n = ::write(m_fd, p, size_t(left));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                failWrite(m_target, errno);
            }
            p += n;
            left -= n;
        }
        m_buffer.clear();
    }
    void finish()
    {
        flush();
        if (::fsync(m_fd) != 0 && errno != EINVAL)
            failWrite(m_target, errno);
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            failWrite(m_target, errno);
    }

private:
    QString m_target;
    int m_fd = -1;
    QByteArray m_buffer;
};

// Excel's number format for the short date format ("yyyy/M/d" -> "yyyy/m/d").
QByteArray excelDateFormat()
{
    QString format = dravon::shortDateFormat();
    format.replace(QLatin1Char('M'), QLatin1Char('m'));
    return format.toUtf8();
}

// Column width in Excel's character units: wide (CJK) characters count twice.
double displayWidth(const QString &text)
{
    double width = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        width += (u >= 0x1100 && (u <= 0x115f || (u >= 0x2e80 && u <= 0xa4cf) || (u >= 0xac00 && u <= 0xd7a3)
                                  || (u >= 0xf900 && u <= 0xfaff) || (u >= 0xfe30 && u <= 0xfe4f)
                                  || (u >= 0xff00 && u <= 0xff60) || (u >= 0xffe0 && u <= 0xffe6)))
                     ? 2.0
                     : 1.0;
    }
    return width;
}

// A worksheet name Excel accepts: no []:*?/\, at most 31 characters.
QString sheetTitle(const QString &name, int number)
{
    QString base = name;
    base.remove(QRegularExpression(QStringLiteral("[\\[\\]:*?/\\\\]")));
    base = base.trimmed();
    while (base.startsWith(QLatin1Char('\'')))
        base.remove(0, 1);
    while (base.endsWith(QLatin1Char('\'')))
        base.chop(1);
    if (base.isEmpty())
        base = QStringLiteral("Sheet");
    const QString suffix = number > 1 ? QStringLiteral(" (%1)").arg(number) : QString();
    return base.left(31 - int(suffix.size())) + suffix;
}

// Closes this process's descriptors of files under a folder that only this
// process knows (the library's leftovers after a failed write).
void closeDescriptorsUnder(const QString &folder)
{
    const QString prefix = folder + QLatin1Char('/');
    const QFileInfoList fds = QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &fd : fds) {
        const QString target = QFile::symLinkTarget(fd.absoluteFilePath());
        bool ok = false;
        const int number = fd.fileName().toInt(&ok);
        if (ok && number > 2 && target.startsWith(prefix))
            ::close(number);
    }
}

QString xlsxReason(lxw_error error)
{
    switch (error) {
    case LXW_ERROR_CREATING_XLSX_FILE:
        return osReason(errno ? errno : EACCES);
    case LXW_ERROR_CREATING_TMPFILE:
        return QStringLiteral("无法创建临时文件(%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    case LXW_ERROR_ZIP_FILE_OPERATION:
    case LXW_ERROR_ZIP_FILE_ADD:
    case LXW_ERROR_ZIP_CLOSE:
        return errno ? osReason(errno) : QString::fromUtf8(lxw_strerror(error));
    case LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED:
        return QStringLiteral("有单元格的文字超过 Excel 的 32767 个字符上限");
    default:
        return QString::fromUtf8(lxw_strerror(error));
    }
}

}

ExportTable::ExportTable(const dravon::RecordSet *dataSet, const QVector<int> &fields, const QStringList &titles,
                         const QList<int> &rows)
    : m_dataSet(dataSet), m_fields(fields), m_titles(titles), m_rows(rows)
{
}

ExportTable::ExportTable(const QStringList &titles, qint64 rows, CellText text)
    : m_dataSet(nullptr), m_titles(titles), m_text(std::move(text)), m_rowCount(rows)
{
    for (int i = 0; i < titles.size(); ++i)
        m_fields << i;
}

qint64 ExportTable::rowCount() const
{
    if (m_text)
        return m_rowCount;
    if (!m_dataSet)
        return 0;
    if (!m_rows.isEmpty())
        return m_rows.size();
    // All rows of the set: its true count, which it may still be learning.
    const_cast<dravon::RecordSet *>(m_dataSet)->waitForCount();
    return m_dataSet->recordCount();
}

dravon::FieldType ExportTable::type(int column) const
{
    const int field = m_fields.value(column, -1);
    if (!m_dataSet || field < 0 || field >= m_dataSet->fields().size())
        return dravon::FieldType::Text;
    return m_dataSet->fields().at(field).type;
}

QString ExportTable::text(qint64 row, int column) const
{
    if (m_text)
        return m_text(row, column);
    const int field = m_fields.value(column, -1);
    if (!m_dataSet || field < 0)
        return {};
    const int r = m_rows.isEmpty() ? int(row) : m_rows.value(int(row), -1);
    return m_dataSet->text(r, field);
}

QString csvField(const QString &text)
{
    QString field = text;
    bool quote = false;
    if (!field.isEmpty()) {
        const QChar first = field.front();
        if ((first == QLatin1Char('=') || first == QLatin1Char('+') || first == QLatin1Char('-')
             || first == QLatin1Char('@') || first == QLatin1Char('\t') || first == QLatin1Char('\r'))
            && !plainNumber(field)) {
            field.prepend(QLatin1Char('\''));
            quote = true;
        }
    }
    if (field.contains(QLatin1Char('"')) || field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('\n'))
        || field.contains(QLatin1Char('\r')))
        quote = true;
    if (!quote)
        return field;
    field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

Outcome writeCsv(const ExportTable &table, const QString &path, const Progress &progress)
{
    StagedFile staged(path);
    RawWriter out(staged.path(), path);
    const QLatin1String endOfRecord("\r\n");
    QString line;
    for (int c = 0; c < table.columnCount(); ++c) {
        if (c)
            line += QLatin1Char(',');
        line += csvField(table.title(c));
    }
    line += endOfRecord;
    out.append(QByteArray("\xEF\xBB\xBF") + line.toUtf8());
    const qint64 rows = table.rowCount();
    for (qint64 r = 0; r < rows; ++r) {
        if (progress && r % progressStep == 0 && !progress(r, rows))
            return Outcome::Cancelled;
        line.clear();
        for (int c = 0; c < table.columnCount(); ++c) {
            if (c)
                line += QLatin1Char(',');
            try {
                line += csvField(table.text(r, c));
            } catch (const dravon::Error &e) {
                failRead(path, e);
            }
        }
        line += endOfRecord;
        out.append(line.toUtf8());
    }
    out.finish();
    if (progress && !progress(rows, rows))
        return Outcome::Cancelled;
    staged.commit();
    return Outcome::Written;
}

QString xlsxCutMark()
{
    return QStringLiteral("…[已截断]");
}

QString xlsxColumnName(int column)
{
    QString name;
    for (int c = column + 1; c > 0; c = (c - 1) / 26)
        name.prepend(QChar(u'A' + (c - 1) % 26));
    return name;
}

Outcome writeXlsx(const ExportTable &table, const QString &path, const QString &sheetName, const Progress &progress,
                  qint64 rowsPerSheet, QStringList *cutCells)
{
    StagedFile staged(path);
    const QByteArray stagingName = QFile::encodeName(staged.path());
    // Rows go straight to temporary files instead of memory, in a folder of
    // this export's own: the library leaves a temporary file open when
    // writing the workbook fails, and whatever is still open there is closed.
    QTemporaryDir work(staging::workFolderTemplate(QStringLiteral("xlsx")));
    if (!work.isValid())
        throw ExportFailure(failureText(path, QStringLiteral("无法创建临时文件夹(%1)").arg(work.errorString())));
    struct ReleaseWork
    {
        QString folder;
        ~ReleaseWork() { closeDescriptorsUnder(folder); }
    } release{work.path()};
    const QByteArray tmpdir = QFile::encodeName(work.path());
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = const_cast<char *>(tmpdir.constData());
    lxw_workbook *workbook = workbook_new_opt(stagingName.constData(), &options);
    if (!workbook)
        throw ExportFailure(failureText(path, QStringLiteral("无法创建工作簿")));
    struct Closer
    {
        lxw_workbook *&book;
        ~Closer()
        {
            if (book)
                workbook_close(book);
        }
    } closer{workbook};

    const QByteArray title = sheetName.toUtf8();
    const QByteArray creator = QByteArrayLiteral("Veltrana");
    lxw_doc_properties properties{};
    properties.title = const_cast<char *>(title.constData());
    properties.author = const_cast<char *>(creator.constData());
    if (workbook_set_properties(workbook, &properties) != LXW_NO_ERROR)
        throw ExportFailure(failureText(path, QStringLiteral("无法设置文档属性")));

    lxw_format *titleFormat = workbook_add_format(workbook);
    format_set_bold(titleFormat);
    format_set_align(titleFormat, LXW_ALIGN_CENTER);
    lxw_format *dateFormat = workbook_add_format(workbook);
    const QByteArray dateNumFormat = excelDateFormat();
    format_set_num_format(dateFormat, dateNumFormat.constData());
    lxw_format *wrapFormat = workbook_add_format(workbook);
    format_set_text_wrap(wrapFormat);
    format_set_align(wrapFormat, LXW_ALIGN_VERTICAL_TOP);

    const int columns = qMin(table.columnCount(), int(LXW_COL_MAX));
    const qint64 rows = table.rowCount();
    rowsPerSheet = qBound<qint64>(1, rowsPerSheet, xlsxRowsPerSheet);
    lxw_worksheet *sheet = nullptr;
    QVector<double> widths;
    auto check = [&path](lxw_error error) {
        if (error != LXW_NO_ERROR)
            throw ExportFailure(failureText(path, xlsxReason(error)));
    };
    // The library does not check its writes to the temporary files: a full
    // temporary folder would silently lose rows. The stream's error state
    // tells, and a flush at the end of each sheet makes it complete.
    auto checkTemporary = [&](bool flush) {
        FILE *file = sheet ? sheet->optimize_tmpfile : nullptr;
        if (!file)
            return;
        errno = 0;
        if ((flush && std::fflush(file) != 0) || std::ferror(file)) {
            const int error = errno ? errno : EIO;
            throw ExportFailure(failureText(
                path, QStringLiteral("临时文件夹 \"%1\" 无法写入:%2").arg(QDir::toNativeSeparators(work.path()), osReason(error))));
        }
    };
    lxw_row_t sheetRow = 0;
    QString currentSheet;
    auto finishSheet = [&] {
        if (!sheet)
            return;
        checkTemporary(true);
        double total = 0;
        for (int c = 0; c < columns; ++c) {
            const double width = qBound(6.0, widths[c] + 2, maxColumnWidth);
            total += width;
            check(worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c), width, nullptr));
        }
        // Printed on A4, one page wide, the titles on every page.
        worksheet_set_paper(sheet, 9);
        if (total > portraitWidth)
            worksheet_set_landscape(sheet);
        worksheet_fit_to_pages(sheet, 1, 0);
        check(worksheet_repeat_rows(sheet, 0, 0));
        if (columns > 0)
            check(worksheet_autofilter(sheet, 0, 0, sheetRow, lxw_col_t(columns - 1)));
    };
    auto startSheet = [&](int number) {
        finishSheet();
        currentSheet = sheetTitle(sheetName, number);
        const QByteArray name = currentSheet.toUtf8();
        sheet = workbook_add_worksheet(workbook, name.constData());
        if (!sheet)
            throw ExportFailure(failureText(path, QStringLiteral("无法添加工作表")));
        worksheet_freeze_panes(sheet, 1, 0);
        widths.fill(0, columns);
        for (int c = 0; c < columns; ++c) {
            const QByteArray title = table.title(c).toUtf8();
            check(worksheet_write_string(sheet, 0, lxw_col_t(c), title.constData(), titleFormat));
            widths[c] = displayWidth(table.title(c));
        }
    };

    startSheet(1);
    int sheetNumber = 1;
    for (qint64 r = 0; r < rows; ++r) {
        if (r % progressStep == 0) {
            checkTemporary(false);
            if (progress && !progress(r, rows))
                return Outcome::Cancelled;
        }
        if (sheetRow >= rowsPerSheet) {
            startSheet(++sheetNumber);
            sheetRow = 0;
        }
        ++sheetRow;
        for (int c = 0; c < columns; ++c) {
            QString text;
            try {
                text = table.text(r, c);
            } catch (const dravon::Error &e) {
                failRead(path, e);
            }
            if (text.isEmpty())
                continue;
            widths[c] = qMax(widths[c], displayWidth(text));
            const auto col = lxw_col_t(c);
            switch (table.type(c)) {
            case dravon::FieldType::Integer:
            case dravon::FieldType::Real: {
                bool ok = false;
                const double value = text.toDouble(&ok);
                if (ok && plainNumber(text)) {
                    check(worksheet_write_number(sheet, sheetRow, col, value, nullptr));
                    continue;
                }
                break;
            }
            case dravon::FieldType::Date: {
                const QDate date = dravon::parseShortDate(text);
                if (date.isValid() && date.year() >= 1900) {
                    lxw_datetime when{date.year(), date.month(), date.day(), 0, 0, 0};
                    check(worksheet_write_datetime(sheet, sheetRow, col, &when, dateFormat));
                    continue;
                }
                break;
            }
            case dravon::FieldType::Text:
                break;
            }
            if (text.size() > xlsxCellTextLimit) {
                // Cut at the limit, not inside a surrogate pair, with a visible end.
                qsizetype keep = xlsxCellTextLimit - xlsxCutMark().size();
                if (text.at(keep - 1).isHighSurrogate())
                    --keep;
                text = text.left(keep) + xlsxCutMark();
                if (cutCells)
                    *cutCells << (sheetNumber > 1 ? QStringLiteral("'%1'!").arg(currentSheet) : QString())
                                     + xlsxColumnName(c) + QString::number(sheetRow + 1);
            }
            const bool wrap = text.contains(QLatin1Char('\n')) || displayWidth(text) > maxColumnWidth;
            const QByteArray utf8 = text.toUtf8();
            check(worksheet_write_string(sheet, sheetRow, col, utf8.constData(), wrap ? wrapFormat : nullptr));
        }
    }
    finishSheet();
    if (progress && !progress(rows, rows))
        return Outcome::Cancelled;
    errno = 0;
    lxw_workbook *book = workbook;
    workbook = nullptr;
    check(workbook_close(book));
    staged.commit();
    return Outcome::Written;
}

StagedFile::StagedFile(const QString &target) : m_target(QFileInfo(target).absoluteFilePath())
{
    const QFileInfo info(m_target);
    if (info.isDir())
        failWrite(m_target, EISDIR);
    const QDir folder = info.absoluteDir();
    if (!folder.exists())
        failWrite(m_target, ENOENT);
    int error = 0;
    m_staging = staging::createBeside(m_target, &error);
    if (m_staging.isEmpty())
        failWrite(m_target, error);
}

StagedFile::~StagedFile()
{
    discard();
}

void StagedFile::commit()
{
    if (m_done)
        return;
    QFile::setPermissions(m_staging, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    if (std::rename(QFile::encodeName(m_staging).constData(), QFile::encodeName(m_target).constData()) != 0) {
        const int error = errno;
        discard();
        failWrite(m_target, error);
    }
    m_done = true;
    staging::release(m_staging);
    staging::removeLeftovers(QFileInfo(m_target).absolutePath());
}

void StagedFile::discard()
{
    if (m_done)
        return;
    m_done = true;
    QFile::remove(m_staging);
    staging::release(m_staging);
    staging::removeLeftovers(QFileInfo(m_target).absolutePath());
}

QString failureText(const QString &path, const QString &reason)
{
    return QStringLiteral("无法写入文件 \"%1\":%2").arg(QDir::toNativeSeparators(path), reason);
}

QString schoolName()
{
    QString folder = settings::executableDir();
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return settings::readIni(folder + QStringLiteral("ConfigDB.ini"), QStringLiteral("Info"),
                             QStringLiteral("SchoolName"))
        .trimmed();
}

}

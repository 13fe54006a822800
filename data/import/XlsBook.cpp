#include "data/import/XlsBook.h"

#include "data/import/CellText.h"

#include <QFile>
#include <freexl.h>

namespace importing {

namespace {

QString libraryReason(int rc)
{
    switch (rc) {
    case FREEXL_INSUFFICIENT_MEMORY:
        return QStringLiteral("内存不足");
    case FREEXL_INVALID_CHARACTER:
    case FREEXL_UNSUPPORTED_CHARSET:
        return QStringLiteral("文字的编码无法识别");
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
        return QStringLiteral("文件中没有 Excel 工作簿");
    case FREEXL_CRAFTED_FILE:
        return QStringLiteral("工作簿已严重损坏");
    default:
        return QStringLiteral("工作簿不完整或已损坏(错误 %1)").arg(rc);
    }
}

}

bool XlsBook::isEncryptedPackage(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The compound file's directory names its streams in UTF-16LE.
    static const QByteArray name = QByteArray("E\0n\0c\0r\0y\0p\0t\0i\0o\0n\0I\0n\0f\0o\0", 28);
    QByteArray carry;
    qint64 scanned = 0;
    while (!file.atEnd() && scanned < 64LL * 1024 * 1024) {
        const QByteArray chunk = carry + file.read(1024 * 1024);
        if (chunk.contains(name))
            return true;
        scanned += chunk.size() - carry.size();
        carry = chunk.right(name.size());
        if (chunk.size() <= carry.size())
            break;
    }
    return false;
}

XlsBook::XlsBook(const QString &path, const QString &displayName) : TableReader(displayName)
{
    if (isEncryptedPackage(path))
        fail(QStringLiteral("工作簿已加密(设有打开密码),请在 Excel 中取消密码后另存再导入"));
    const QByteArray native = QFile::encodeName(path);
    const int rc = freexl_open(native.constData(), &m_handle);
    m_owner.reset(m_handle);
    if (rc != FREEXL_OK)
        fail(libraryReason(rc));
    unsigned int info = 0;
    if (freexl_get_info(m_handle, FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK && info == FREEXL_BIFF_OBFUSCATED)
        fail(QStringLiteral("工作簿已加密(设有打开密码),请在 Excel 中取消密码后另存再导入"));
    unsigned int count = 0;
    if (freexl_get_info(m_handle, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK || count == 0)
        fail(QStringLiteral("工作簿中没有工作表"));
    for (unsigned int i = 0; i < count; ++i) {
        const char *name = nullptr;
        if (freexl_get_worksheet_name(m_handle, static_cast<unsigned short>(i), &name) != FREEXL_OK)
            fail(QStringLiteral("工作表名称无法读取"));
        m_sheets.append({name ? QString::fromUtf8(name) : QString(), false});
    }
}

XlsBook::~XlsBook() = default;

void XlsBook::Closer::operator()(const void *handle) const
{
    freexl_close(handle);
}

void XlsBook::selectSheet(int index)
{
    if (index < 0 || index >= m_sheets.size())
        fail(QStringLiteral("没有第 %1 个工作表").arg(index + 1));
    int rc = freexl_select_active_worksheet(m_handle, static_cast<unsigned short>(index));
    if (rc == FREEXL_OK)
        rc = freexl_worksheet_dimensions(m_handle, &m_rows, &m_columns);
    if (rc != FREEXL_OK)
        fail(libraryReason(rc));
    if (m_columns > maxColumns)
        fail(QStringLiteral("工作表有超过 %1 列,不像是要导入的表格").arg(maxColumns));
    m_row = 0;
    m_selected = true;
}

double XlsBook::progress() const
{
    return m_rows > 0 ? double(m_row) / double(m_rows) : 1.0;
}

bool XlsBook::next(SourceRow &row)
{
    if (!m_selected)
        return false;
    while (m_row < m_rows) {
        const unsigned int r = m_row++;
        row.line = qint64(r) + 1;
        row.cells.clear();
        bool any = false;
        for (unsigned short c = 0; c < m_columns; ++c) {
            FreeXL_CellValue value;
            const int rc = freexl_get_cell_value(m_handle, r, c, &value);
            if (rc != FREEXL_OK)
                fail(libraryReason(rc));
            QString text;
            switch (value.type) {
            case FREEXL_CELL_INT:
                text = QString::number(value.value.int_value);
                break;
            case FREEXL_CELL_DOUBLE:
                text = numberText(value.value.double_value);
                break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
            case FREEXL_CELL_TIME:
                text = QString::fromUtf8(value.value.text_value);
                break;
            case FREEXL_CELL_DATE:
                text = QString::fromUtf8(value.value.text_value);
                break;
            case FREEXL_CELL_DATETIME:
                text = QString::fromUtf8(value.value.text_value);
                if (text.endsWith(QLatin1String(" 00:00:00")))
                    text.chop(9);
                break;
            default:
                break;
            }
            if (text.isEmpty())
                continue;
            while (row.cells.size() <= c)
                row.cells.append(QString());
            row.cells[c] = text;
            any = true;
        }
        if (any)
            return true;
    }
    return false;
}

}

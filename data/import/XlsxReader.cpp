#include "data/import/XlsxReader.h"

#include "data/import/CellText.h"

#include <zip.h>

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <cmath>

namespace importing {

namespace {

constexpr qint64 smallPartLimit = 64LL * 1024 * 1024;     // workbook, relationships, styles
constexpr qint64 sharedStringsLimit = 256LL * 1024 * 1024;
constexpr qint64 feedBytes = 256 * 1024;
constexpr qint64 maxSheetRows = 1048576;

// A part's path from a relationship target: relative to the folder of the
// part that names it, or absolute from the package root.
QString resolvePart(const QString &fromFolder, const QString &target)
{
    QStringList parts;
    const QString joined = target.startsWith(QLatin1Char('/')) ? target.mid(1) : fromFolder + target;
    for (const QString &piece : joined.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (piece == QLatin1String(".."))
            parts.removeLast();
        else if (piece != QLatin1String("."))
            parts << piece;
    }
    return parts.join(QLatin1Char('/'));
}

struct Relationship
{
    QString type;
    QString target;
};

// "_x000D_" and the like: characters a writer escaped in a string.
QString decodeEscapes(const QString &text)
{
    if (!text.contains(QLatin1String("_x")))
        return text;
    static const QRegularExpression escape(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    QString out;
    qsizetype last = 0;
    QRegularExpressionMatchIterator it = escape.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(last, m.capturedStart() - last);
        out += QChar(char16_t(m.captured(1).toUShort(nullptr, 16)));
        last = m.capturedEnd();
    }
    out += QStringView(text).mid(last);
    return out;
}

bool builtinDateFormat(int id)
{
    return (id >= 14 && id <= 17) || id == 22 || (id >= 27 && id <= 31) || id == 36 || (id >= 50 && id <= 54)
           || id == 57 || id == 58;
}

// Whether a number format shows a date: it holds a year or day, or months
// without hours or seconds, outside quoted text, escapes and [..] parts.
bool customDateFormat(const QString &code)
{
    QString plain;
    bool quoted = false;
    int bracket = 0;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code.at(i);
        if (quoted) {
            if (c == QLatin1Char('"'))
                quoted = false;
            continue;
        }
        if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char('\\') || c == QLatin1Char('_') || c == QLatin1Char('*')) {
            ++i;
        } else if (c == QLatin1Char('[')) {
            ++bracket;
        } else if (c == QLatin1Char(']')) {
            bracket = qMax(0, bracket - 1);
        } else if (c == QLatin1Char(';')) {
            break;
        } else if (!bracket) {
            plain += c.toLower();
        }
    }
    if (plain.contains(QLatin1Char('y')) || plain.contains(QLatin1Char('d')))
        return true;
    return plain.contains(QLatin1Char('m')) && !plain.contains(QLatin1Char('h')) && !plain.contains(QLatin1Char('s'));
}

// Column number (from 0) of a cell reference such as "AB12"; -1 when it has no letters.
int columnOf(QStringView ref, bool *tooWide)
{
    int column = 0;
    int letters = 0;
    for (const QChar c : ref) {
        const char16_t u = c.toUpper().unicode();
        if (u < u'A' || u > u'Z')
            break;
        if (++letters > 3) {
            *tooWide = true;
            return -1;
        }
        column = column * 26 + (u - u'A' + 1);
    }
    return letters ? column - 1 : -1;
}

}

XlsxReader::XlsxReader(const QString &path, const QString &displayName) : TableReader(displayName)
{
    int error = 0;
    m_zip.reset(zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error));
    if (!m_zip)
        fail(QStringLiteral("工作簿不完整或已损坏(不是有效的压缩包)"));
    readPackage();
}

XlsxReader::XlsxReader(const QByteArray &data, const QString &displayName)
    : TableReader(displayName), m_data(data)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(m_data.constData(), zip_uint64_t(m_data.size()), 0, &error);
    if (source)
        m_zip.reset(zip_open_from_source(source, ZIP_RDONLY, &error));
    zip_error_fini(&error);
    if (!m_zip) {
        if (source)
            zip_source_free(source);
        fail(QStringLiteral("工作簿不完整或已损坏(不是有效的压缩包)"));
    }
    readPackage();
}

void XlsxReader::readPackage()
{
    // The unpacked size of every part, as the archive declares it; reading
    // stops at the limit whatever the parts declare.
    qint64 total = 0;
    const zip_int64_t entries = zip_get_num_entries(m_zip.get(), 0);
    for (zip_int64_t i = 0; i < entries; ++i) {
        zip_stat_t stat;
        if (zip_stat_index(m_zip.get(), zip_uint64_t(i), 0, &stat) != 0)
            fail(QStringLiteral("工作簿不完整或已损坏(目录无法读取)"));
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            fail(QStringLiteral("工作簿已加密,请在 Excel 中取消密码后另存再导入"));
        if (stat.valid & ZIP_STAT_SIZE) {
            if (stat.size > zip_uint64_t(maxUnpackedBytes))
                fail(QStringLiteral("工作簿解压后超过 1 GB,不能导入"));
            total += qint64(stat.size);
            if (total > maxUnpackedBytes)
                fail(QStringLiteral("工作簿解压后超过 1 GB,不能导入"));
        }
    }
    readWorkbook();
}

XlsxReader::~XlsxReader() = default;

void XlsxReader::ZipCloser::operator()(zip *archive) const
{
    zip_discard(archive);
}

void XlsxReader::FileCloser::operator()(zip_file *file) const
{
    zip_fclose(file);
}

void XlsxReader::corrupt(const QString &part, const QString &detail) const
{
    QString reason = QStringLiteral("工作簿不完整或已损坏(%1").arg(part);
    if (!detail.isEmpty())
        reason += QStringLiteral(":") + detail;
    fail(reason + QStringLiteral(")"));
}

void XlsxReader::closeStream()
{
    m_file.reset();
}

qint64 XlsxReader::openPart(const QString &part, bool required)
{
    closeStream();
    const zip_int64_t index = zip_name_locate(m_zip.get(), part.toUtf8().constData(), ZIP_FL_NOCASE);
    if (index < 0) {
        if (required)
            corrupt(part, QStringLiteral("缺少这一部分"));
        return -1;
    }
    zip_stat_t stat;
    if (zip_stat_index(m_zip.get(), zip_uint64_t(index), 0, &stat) != 0)
        corrupt(part, QStringLiteral("无法读取"));
    m_file.reset(zip_fopen_index(m_zip.get(), zip_uint64_t(index), 0));
    if (!m_file)
        corrupt(part, QStringLiteral("无法解压"));
    return (stat.valid & ZIP_STAT_SIZE) ? qint64(stat.size) : 0;
}

qint64 XlsxReader::readChunk(char *buffer, qint64 size)
{
    const zip_int64_t n = zip_fread(m_file.get(), buffer, zip_uint64_t(size));
    if (n < 0)
        corrupt(m_streamPart.isEmpty() ? QStringLiteral("?") : m_streamPart, QStringLiteral("解压失败"));
    return qint64(n);
}

QByteArray XlsxReader::readPart(const QString &part, qint64 limit, bool required)
{
    const qint64 size = openPart(part, required);
    if (size < 0)
        return {};
    if (size > limit)
        fail(QStringLiteral("工作簿的 %1 过大").arg(part));
    const QString previous = m_streamPart;
    m_streamPart = part;
    QByteArray data;
    QByteArray chunk(int(feedBytes), Qt::Uninitialized);
    for (;;) {
        const qint64 n = readChunk(chunk.data(), chunk.size());
        if (n == 0)
            break;
        data.append(chunk.constData(), n);
        if (data.size() > limit)
            fail(QStringLiteral("工作簿的 %1 过大").arg(part));
    }
    closeStream();
    m_streamPart = previous;
    return data;
}

void XlsxReader::openStream(const QString &part)
{
    m_xml.clear();
    m_streamPart = part;
    m_streamRead = 0;
    m_streamSize = openPart(part, true);
}

bool XlsxReader::feed()
{
    if (!m_file)
        return false;
    QByteArray chunk(int(feedBytes), Qt::Uninitialized);
    const qint64 n = readChunk(chunk.data(), chunk.size());
    if (n == 0)
        return false;
    m_streamRead += n;
    if (m_streamRead > maxUnpackedBytes)
        fail(QStringLiteral("工作簿解压后超过 1 GB,不能导入"));
    chunk.truncate(int(n));
    m_xml.addData(chunk);
    return true;
}

QXmlStreamReader::TokenType XlsxReader::nextToken()
{
    for (;;) {
        const QXmlStreamReader::TokenType token = m_xml.readNext();
        if (token == QXmlStreamReader::DTD)
            corrupt(m_streamPart, QStringLiteral("含有文档类型定义"));
        if (token != QXmlStreamReader::Invalid)
            return token;
        if (m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError && feed())
            continue;
        corrupt(m_streamPart, m_xml.error() == QXmlStreamReader::PrematureEndOfDocumentError
                                  ? QStringLiteral("内容不完整")
                                  : m_xml.errorString());
    }
}

void XlsxReader::readWorkbook()
{
    auto relationships = [this](const QString &relsPart, const QString &fromFolder, bool required) {
        QHash<QString, Relationship> found;
        const QByteArray data = readPart(relsPart, smallPartLimit, required);
        QXmlStreamReader xml(data);
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::DTD)
                corrupt(relsPart, QStringLiteral("含有文档类型定义"));
            if (xml.isStartElement() && xml.name() == QLatin1String("Relationship")) {
                const auto a = xml.attributes();
                if (a.value(QLatin1String("TargetMode")) == QLatin1String("External"))
                    continue;
                found.insert(a.value(QLatin1String("Id")).toString(),
                             {a.value(QLatin1String("Type")).toString(),
                              resolvePart(fromFolder, a.value(QLatin1String("Target")).toString())});
            }
        }
        if (xml.hasError())
            corrupt(relsPart, xml.errorString());
        return found;
    };

    // The package's main part: normally xl/workbook.xml.
    QString workbookPart = QStringLiteral("xl/workbook.xml");
    for (const Relationship &r : relationships(QStringLiteral("_rels/.rels"), QString(), false))
        if (r.type.endsWith(QLatin1String("/officeDocument")))
            workbookPart = r.target;
    const QString folder = workbookPart.contains(QLatin1Char('/'))
                               ? workbookPart.left(workbookPart.lastIndexOf(QLatin1Char('/')) + 1)
                               : QString();
    const QString relsPart = folder + QStringLiteral("_rels/") + workbookPart.mid(folder.size()) + QStringLiteral(".rels");
    const QHash<QString, Relationship> parts = relationships(relsPart, folder, true);

    const QByteArray data = readPart(workbookPart, smallPartLimit, true);
    QXmlStreamReader xml(data);
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::DTD)
            corrupt(workbookPart, QStringLiteral("含有文档类型定义"));
        if (!xml.isStartElement())
            continue;
        const auto a = xml.attributes();
        if (xml.name() == QLatin1String("workbookPr")) {
            const auto flag = a.value(QLatin1String("date1904"));
            m_date1904 = flag == QLatin1String("1") || flag == QLatin1String("true");
        } else if (xml.name() == QLatin1String("sheet")) {
            // The relationship id is in the relationships namespace, whatever its prefix.
            QString id;
            for (const QXmlStreamAttribute &attribute : a)
                if (attribute.name() == QLatin1String("id"))
                    id = attribute.value().toString();
            const Relationship r = parts.value(id);
            if (!r.type.endsWith(QLatin1String("/worksheet")))
                continue;  // chart sheets and dialog sheets hold no cells
            const auto state = a.value(QLatin1String("state"));
            m_sheets.append({{a.value(QLatin1String("name")).toString(),
                              state == QLatin1String("hidden") || state == QLatin1String("veryHidden")},
                             r.target});
        }
    }
    if (xml.hasError())
        corrupt(workbookPart, xml.errorString());
    if (m_sheets.isEmpty())
        fail(QStringLiteral("工作簿中没有工作表"));

    for (const Relationship &r : parts) {
        if (r.type.endsWith(QLatin1String("/styles")))
            readStyles(r.target);
        else if (r.type.endsWith(QLatin1String("/sharedStrings")))
            readSharedStrings(r.target);
    }
}

void XlsxReader::readStyles(const QString &part)
{
    const QByteArray data = readPart(part, smallPartLimit, false);
    QHash<int, QString> custom;
    QXmlStreamReader xml(data);
    bool inCellXfs = false;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::DTD)
            corrupt(part, QStringLiteral("含有文档类型定义"));
        if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1String("cellXfs"))
            inCellXfs = false;
        if (token != QXmlStreamReader::StartElement)
            continue;
        const auto a = xml.attributes();
        if (xml.name() == QLatin1String("numFmt")) {
            custom.insert(a.value(QLatin1String("numFmtId")).toInt(), a.value(QLatin1String("formatCode")).toString());
        } else if (xml.name() == QLatin1String("cellXfs")) {
            inCellXfs = true;
        } else if (inCellXfs && xml.name() == QLatin1String("xf")) {
            const int id = a.value(QLatin1String("numFmtId")).toInt();
            CellStyle style;
            const auto code = custom.constFind(id);
            if (code != custom.constEnd()) {
                style.date = customDateFormat(*code);
                static const QRegularExpression zeros(QStringLiteral("^0{2,}$"));
                if (zeros.match(*code).hasMatch())
                    style.zeroPad = int(code->size());
            } else {
                style.date = builtinDateFormat(id);
            }
            m_styles.append(style);
        }
    }
    if (xml.hasError())
        corrupt(part, xml.errorString());
}

void XlsxReader::readSharedStrings(const QString &part)
{
    openStream(part);
    if (m_streamSize > sharedStringsLimit)
        fail(QStringLiteral("工作簿的共享字符串表过大"));
    QString current;
    bool inItem = false, inText = false;
    int phonetic = 0;
    for (;;) {
        const auto token = nextToken();
        if (token == QXmlStreamReader::EndDocument)
            break;
        if (token == QXmlStreamReader::StartElement) {
            const auto name = m_xml.name();
            if (name == QLatin1String("si")) {
                inItem = true;
                current.clear();
            } else if (name == QLatin1String("rPh")) {
                ++phonetic;
            } else if (name == QLatin1String("t")) {
                inText = inItem && phonetic == 0;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            const auto name = m_xml.name();
            if (name == QLatin1String("si")) {
                m_shared.append(decodeEscapes(current));
                inItem = false;
            } else if (name == QLatin1String("rPh")) {
                phonetic = qMax(0, phonetic - 1);
            } else if (name == QLatin1String("t")) {
                inText = false;
            }
        } else if (token == QXmlStreamReader::Characters && inText) {
            current += m_xml.text();
        }
    }
    closeStream();
}

QList<SheetInfo> XlsxReader::sheets() const
{
    QList<SheetInfo> list;
    for (const Sheet &s : m_sheets)
        list << s.info;
    return list;
}

void XlsxReader::selectSheet(int index)
{
    if (index < 0 || index >= m_sheets.size())
        fail(QStringLiteral("没有第 %1 个工作表").arg(index + 1));
    openStream(m_sheets[index].part);
    m_inSheetData = false;
    m_sheetDone = false;
    m_lastRow = 0;
}

double XlsxReader::progress() const
{
    return m_streamSize > 0 ? qMin(1.0, double(m_streamRead) / double(m_streamSize)) : 1.0;
}

QString XlsxReader::cellValue(const QString &type, const QString &raw, int style) const
{
    if (type == QLatin1String("s")) {
        bool ok = false;
        const int index = raw.trimmed().toInt(&ok);
        if (!ok || index < 0 || index >= m_shared.size())
            corrupt(m_streamPart, QStringLiteral("共享字符串编号 %1 不存在").arg(raw.left(20)));
        return m_shared.at(index);
    }
    if (type == QLatin1String("inlineStr") || type == QLatin1String("str") || type == QLatin1String("e"))
        return decodeEscapes(raw);
    if (type == QLatin1String("b"))
        return raw.trimmed() == QLatin1String("1") ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    if (type == QLatin1String("d")) {
        // An ISO date and time: the date.
        return raw.trimmed().left(10);
    }
    bool ok = false;
    const double value = raw.trimmed().toDouble(&ok);
    if (!ok)
        return raw.trimmed();
    const CellStyle cellStyle = m_styles.value(style);
    if (cellStyle.date) {
        const QDate date = excelSerialDate(value, m_date1904);
        if (date.isValid())
            return date.toString(Qt::ISODate);
    }
    if (cellStyle.zeroPad > 0 && value >= 0 && value == std::floor(value) && value < 1e15)
        return numberText(value).rightJustified(cellStyle.zeroPad, QLatin1Char('0'));
    return numberText(value);
}

bool XlsxReader::next(SourceRow &row)
{
    if (m_sheetDone)
        return false;
    for (;;) {
        const auto token = nextToken();
        if (token == QXmlStreamReader::EndDocument) {
            m_sheetDone = true;
            return false;
        }
        if (token == QXmlStreamReader::EndElement && m_xml.name() == QLatin1String("sheetData")) {
            m_sheetDone = true;
            return false;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (!m_inSheetData) {
            m_inSheetData = m_xml.name() == QLatin1String("sheetData");
            continue;
        }
        if (m_xml.name() != QLatin1String("row"))
            continue;

        // One row: its number, then its cells.
        const auto rowNumber = m_xml.attributes().value(QLatin1String("r"));
        qint64 line = m_lastRow + 1;
        if (!rowNumber.isEmpty()) {
            bool ok = false;
            line = rowNumber.toLongLong(&ok);
            if (!ok || line <= 0 || line > maxSheetRows)
                corrupt(m_streamPart, QStringLiteral("行号 %1 无效").arg(rowNumber.left(20).toString()));
        }
        m_lastRow = line;
        row.line = line;
        row.cells.clear();
        bool any = false;
        int nextColumn = 0;
        for (;;) {
            const auto t = nextToken();
            if (t == QXmlStreamReader::EndElement && m_xml.name() == QLatin1String("row"))
                break;
            if (t == QXmlStreamReader::EndDocument)
                corrupt(m_streamPart, QStringLiteral("内容不完整"));
            if (t != QXmlStreamReader::StartElement || m_xml.name() != QLatin1String("c"))
                continue;
            const auto a = m_xml.attributes();
            const QString type = a.value(QLatin1String("t")).toString();
            const int style = a.value(QLatin1String("s")).toInt();
            const auto ref = a.value(QLatin1String("r"));
            bool tooWide = false;
            int column = ref.isEmpty() ? nextColumn : columnOf(ref, &tooWide);
            if (tooWide || column >= maxColumns)
                fail(QStringLiteral("工作表第 %1 行有超过 %2 列,不像是要导入的表格").arg(line).arg(maxColumns));
            if (column < 0)
                corrupt(m_streamPart, QStringLiteral("单元格位置 %1 无效").arg(ref.left(20).toString()));
            nextColumn = column + 1;
            // The cell's value: <v>, or the text runs of <is> (phonetic runs left out).
            QString raw;
            bool hasValue = false, inValue = false, inText = false, inInline = false, hasInline = false;
            int phonetic = 0;
            for (;;) {
                const auto ct = nextToken();
                if (ct == QXmlStreamReader::EndDocument)
                    corrupt(m_streamPart, QStringLiteral("内容不完整"));
                const auto name = m_xml.name();
                if (ct == QXmlStreamReader::StartElement) {
                    if (name == QLatin1String("v")) {
                        inValue = hasValue = true;
                    } else if (name == QLatin1String("is")) {
                        inInline = hasInline = hasValue = true;
                    } else if (name == QLatin1String("rPh")) {
                        ++phonetic;
                    } else if (name == QLatin1String("t")) {
                        inText = inInline && phonetic == 0;
                    }
                } else if (ct == QXmlStreamReader::EndElement) {
                    if (name == QLatin1String("c"))
                        break;
                    if (name == QLatin1String("v"))
                        inValue = false;
                    else if (name == QLatin1String("is"))
                        inInline = false;
                    else if (name == QLatin1String("rPh"))
                        phonetic = qMax(0, phonetic - 1);
                    else if (name == QLatin1String("t"))
                        inText = false;
                } else if (ct == QXmlStreamReader::Characters && (inValue || inText)) {
                    raw += m_xml.text();
                }
            }
            if (!hasValue)
                continue;
            const QString value = cellValue(hasInline ? QStringLiteral("inlineStr") : type, raw, style);
            if (value.isEmpty())
                continue;
            while (row.cells.size() <= column)
                row.cells.append(QString());
            row.cells[column] = value;
            any = true;
        }
        if (any)
            return true;
    }
}

}

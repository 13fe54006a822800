#include "data/import/XlsxReader.h"

#include "data/import/CellText.h"

#include <zip.h>

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QXmlStreamReader>
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
int columnOf(const char *ref, bool *tooWide)
{
    int column = 0;
    int letters = 0;
    for (; *ref; ++ref) {
        char c = *ref;
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        if (c < 'A' || c > 'Z')
            break;
        if (++letters > 3) {
            *tooWide = true;
            return -1;
        }
        column = column * 26 + (c - 'A' + 1);
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

void XlsxReader::openStream(const QString &part, XmlStream::Handler &handler)
{
    m_stream.reset();
    m_streamPart = part;
    m_streamRead = 0;
    m_streamSize = openPart(part, true);
    m_stream = std::make_unique<XmlStream>(
        handler,
        [this](char *buffer, qint64 size) {
            if (!m_file)
                return qint64(0);
            const qint64 n = readChunk(buffer, size);
            m_streamRead += n;
            if (m_streamRead > maxUnpackedBytes)
                fail(QStringLiteral("工作簿解压后超过 1 GB,不能导入"));
            return n;
        },
        int(feedBytes));
}

bool XlsxReader::runStream()
{
    try {
        return m_stream->run();
    } catch (const XmlStream::Malformed &e) {
        corrupt(m_streamPart, e.detail);
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

// The shared strings part: one text per <si>, its runs joined, phonetic runs left out.
class XlsxReader::SharedStrings : public XmlStream::Handler
{
public:
    explicit SharedStrings(QStringList &strings) : m_strings(strings) {}

    void startElement(QByteArrayView name, const char **) override
    {
        if (name == "si") {
            m_inItem = true;
            m_current.clear();
        } else if (name == "rPh") {
            ++m_phonetic;
        } else if (name == "t") {
            m_inText = m_inItem && m_phonetic == 0;
        }
    }
    void endElement(QByteArrayView name) override
    {
        if (name == "si") {
            m_strings.append(decodeEscapes(QString::fromUtf8(m_current)));
            m_inItem = false;
        } else if (name == "rPh") {
            m_phonetic = qMax(0, m_phonetic - 1);
        } else if (name == "t") {
            m_inText = false;
        }
    }
    void characters(QByteArrayView text) override
    {
        if (m_inText)
            m_current.append(text);
    }

private:
    QStringList &m_strings;
    QByteArray m_current;
    bool m_inItem = false;
    bool m_inText = false;
    int m_phonetic = 0;
};

void XlsxReader::readSharedStrings(const QString &part)
{
    SharedStrings strings(m_shared);
    openStream(part, strings);
    if (m_streamSize > sharedStringsLimit)
        fail(QStringLiteral("工作簿的共享字符串表过大"));
    while (runStream()) {
    }
    m_stream.reset();
    closeStream();
}

QList<SheetInfo> XlsxReader::sheets() const
{
    QList<SheetInfo> list;
    for (const Sheet &s : m_sheets)
        list << s.info;
    return list;
}

// A worksheet's rows: each <row> of <sheetData> with a value becomes one
// SourceRow, and the parse pauses there.
class XlsxReader::SheetRows : public XmlStream::Handler
{
public:
    explicit SheetRows(XlsxReader &reader) : m_reader(reader) {}

    void begin(XmlStream &stream, SourceRow &row)
    {
        m_stream = &stream;
        m_row = &row;
        m_rowReady = false;
    }
    bool rowReady() const { return m_rowReady; }
    bool sheetEnded() const { return m_sheetEnded; }

    void startElement(QByteArrayView name, const char **attributes) override
    {
        if (!m_inSheetData) {
            m_inSheetData = name == "sheetData";
            return;
        }
        if (name == "row")
            startRow(attributes);
        else if (name == "c" && m_inRow)
            startCell(attributes);
        else if (!m_inCell)
            return;
        else if (name == "v")
            m_inValue = m_hasValue = true;
        else if (name == "is")
            m_inInline = m_hasInline = m_hasValue = true;
        else if (name == "rPh")
            ++m_phonetic;
        else if (name == "t")
            m_inText = m_inInline && m_phonetic == 0;
    }

    void endElement(QByteArrayView name) override
    {
        if (!m_inSheetData)
            return;
        if (m_inCell) {
            if (name == "c")
                endCell();
            else if (name == "v")
                m_inValue = false;
            else if (name == "is")
                m_inInline = false;
            else if (name == "rPh")
                m_phonetic = qMax(0, m_phonetic - 1);
            else if (name == "t")
                m_inText = false;
        } else if (name == "row" && m_inRow) {
            m_inRow = false;
            if (m_any) {
                m_rowReady = true;
                m_stream->pause();
            }
        } else if (name == "sheetData") {
            m_sheetEnded = true;
            m_stream->pause();
        }
    }

    void characters(QByteArrayView text) override
    {
        if (m_inValue || m_inText)
            m_raw.append(text);
    }

private:
    void startRow(const char **attributes)
    {
        const char *number = XmlStream::attribute(attributes, "r");
        qint64 line = m_lastRow + 1;
        if (number && *number) {
            bool ok = false;
            line = QByteArrayView(number).toLongLong(&ok);
            if (!ok || line <= 0 || line > maxSheetRows)
                m_reader.corrupt(m_reader.m_streamPart,
                                 QStringLiteral("行号 %1 无效").arg(QString::fromUtf8(number).left(20)));
        }
        m_lastRow = line;
        m_row->line = line;
        m_row->cells.clear();
        m_inRow = true;
        m_any = false;
        m_nextColumn = 0;
    }

    void startCell(const char **attributes)
    {
        m_type = CellType::Number;
        if (const char *type = XmlStream::attribute(attributes, "t")) {
            const QByteArrayView t(type);
            if (t == "s")
                m_type = CellType::Shared;
            else if (t == "inlineStr")
                m_type = CellType::Inline;
            else if (t == "str")
                m_type = CellType::Formula;
            else if (t == "e")
                m_type = CellType::Error;
            else if (t == "b")
                m_type = CellType::Boolean;
            else if (t == "d")
                m_type = CellType::Date;
        }
        const char *style = XmlStream::attribute(attributes, "s");
        m_style = style ? QByteArrayView(style).toInt() : 0;
        const char *ref = XmlStream::attribute(attributes, "r");
        bool tooWide = false;
        const int column = ref && *ref ? columnOf(ref, &tooWide) : m_nextColumn;
        if (tooWide || column >= maxColumns)
            m_reader.fail(QStringLiteral("工作表第 %1 行有超过 %2 列,不像是要导入的表格").arg(m_row->line).arg(maxColumns));
        if (column < 0)
            m_reader.corrupt(m_reader.m_streamPart,
                             QStringLiteral("单元格位置 %1 无效").arg(QString::fromUtf8(ref).left(20)));
        m_column = column;
        m_nextColumn = column + 1;
        m_raw.clear();
        m_inCell = true;
        m_hasValue = m_inValue = m_inText = m_inInline = m_hasInline = false;
        m_phonetic = 0;
    }

    void endCell()
    {
        m_inCell = false;
        if (!m_hasValue)
            return;
        const QString value = m_reader.cellValue(m_hasInline ? CellType::Inline : m_type, m_raw, m_style);
        if (value.isEmpty())
            return;
        QStringList &cells = m_row->cells;
        while (cells.size() <= m_column)
            cells.append(QString());
        cells[m_column] = value;
        m_any = true;
    }

    XlsxReader &m_reader;
    XmlStream *m_stream = nullptr;
    SourceRow *m_row = nullptr;
    bool m_rowReady = false;
    bool m_sheetEnded = false;
    bool m_inSheetData = false;
    bool m_inRow = false;
    bool m_any = false;
    qint64 m_lastRow = 0;
    int m_nextColumn = 0;
    // The cell being read.
    bool m_inCell = false;
    CellType m_type = CellType::Number;
    int m_style = 0;
    int m_column = 0;
    QByteArray m_raw;
    bool m_hasValue = false, m_inValue = false, m_inText = false, m_inInline = false, m_hasInline = false;
    int m_phonetic = 0;
};

void XlsxReader::selectSheet(int index)
{
    if (index < 0 || index >= m_sheets.size())
        fail(QStringLiteral("没有第 %1 个工作表").arg(index + 1));
    m_stream.reset();
    m_rows = std::make_unique<SheetRows>(*this);
    openStream(m_sheets[index].part, *m_rows);
    m_sheetDone = false;
}

double XlsxReader::progress() const
{
    if (m_sheetDone)
        return 1.0;
    return m_streamSize > 0 ? qMin(1.0, double(m_streamRead) / double(m_streamSize)) : 1.0;
}

QString XlsxReader::cellValue(CellType type, const QByteArray &raw, int style) const
{
    switch (type) {
    case CellType::Shared: {
        bool ok = false;
        const int index = raw.trimmed().toInt(&ok);
        if (!ok || index < 0 || index >= m_shared.size())
            corrupt(m_streamPart, QStringLiteral("共享字符串编号 %1 不存在").arg(QString::fromUtf8(raw.left(20))));
        return m_shared.at(index);
    }
    case CellType::Inline:
    case CellType::Formula:
    case CellType::Error:
        return decodeEscapes(QString::fromUtf8(raw));
    case CellType::Boolean:
        return raw.trimmed() == "1" ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    case CellType::Date:
        // An ISO date and time: the date.
        return QString::fromUtf8(raw).trimmed().left(10);
    case CellType::Number:
        break;
    }
    bool ok = false;
    const double value = raw.trimmed().toDouble(&ok);
    if (!ok)
        return QString::fromUtf8(raw).trimmed();
    const CellStyle cellStyle = m_styles.value(style);
    if (cellStyle.date) {
        const QDate date = excelSerialDate(value, m_date1904);
        if (date.isValid())
            return isoDateText(date);
    }
    if (cellStyle.zeroPad > 0 && value >= 0 && value == std::floor(value) && value < 1e15)
        return numberText(value).rightJustified(cellStyle.zeroPad, QLatin1Char('0'));
    return numberText(value);
}

bool XlsxReader::next(SourceRow &row)
{
    if (m_sheetDone)
        return false;
    m_rows->begin(*m_stream, row);
    if (runStream() && m_rows->rowReady())
        return true;
    // The end of <sheetData> or of the part: the rest is not read.
    m_sheetDone = true;
    m_stream.reset();
    closeStream();
    return false;
}

}

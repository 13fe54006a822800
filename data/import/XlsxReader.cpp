#include "data/import/XlsxReader.h"

#include "data/import/ByteReadAhead.h"
#include "data/import/CellText.h"

#include <zip.h>

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <cmath>
#include <deque>
#include <cstring>

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

// Whether a value's bytes hold "_x", so that decodeEscapes has work to do.
bool mayHoldEscapes(QByteArrayView raw)
{
    const char *p = raw.data();
    const char *end = p + raw.size();
    while ((p = static_cast<const char *>(std::memchr(p, '_', size_t(end - p))))) {
        if (++p < end && *p == 'x')
            return true;
    }
    return false;
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
int columnOf(QByteArrayView ref, bool *tooWide)
{
    int column = 0;
    int letters = 0;
    for (char c : ref) {
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

// An element's or attribute's name, or an attribute's value, against what the reader looks for.
bool is(const char *name, const char *wanted)
{
    return std::strcmp(name, wanted) == 0;
}

template<qsizetype N>
bool is(QByteArrayView value, const char (&wanted)[N])
{
    return value.size() == N - 1 && std::memcmp(value.data(), wanted, N - 1) == 0;
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

XlsxReader::~XlsxReader()
{
    m_stream.reset();
    closeStream();
}

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
    m_readAhead.reset();
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
    // The previous part's read-ahead thread stops before the part it names changes.
    m_stream.reset();
    closeStream();
    m_streamPart = part;
    m_streamRead = 0;
    m_streamSize = openPart(part, true);
    // The part is unpacked on a thread of its own while it is parsed here.
    m_readAhead = std::make_unique<ByteReadAhead>([this](char *buffer, qint64 size) { return readChunk(buffer, size); },
                                                  feedBytes);
    m_stream = std::make_unique<XmlStream>(
        handler,
        [this](char *buffer, qint64 size) {
            const qint64 n = m_readAhead->read(buffer, size);
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

    void startElement(const char *name, const XmlStream::Attributes &) override
    {
        if (is(name, "si")) {
            m_inItem = true;
            m_current.clear();
        } else if (is(name, "rPh")) {
            ++m_phonetic;
        } else if (is(name, "t")) {
            m_inText = m_inItem && m_phonetic == 0;
        }
    }
    void endElement(const char *name) override
    {
        if (is(name, "si")) {
            m_strings.append(decodeEscapes(QString::fromUtf8(m_current)));
            m_inItem = false;
        } else if (is(name, "rPh")) {
            m_phonetic = qMax(0, m_phonetic - 1);
        } else if (is(name, "t")) {
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
// SourceRow, waiting in order until it is taken; the rest of the part after
// </sheetData> is not read.
class XlsxReader::SheetRows : public XmlStream::Handler
{
public:
    explicit SheetRows(XlsxReader &reader) : m_reader(reader) {}

    void begin(XmlStream &stream) { m_stream = &stream; }
    bool take(SourceRow &row)
    {
        if (m_ready.empty())
            return false;
        row = std::move(m_ready.front());
        m_ready.pop_front();
        return true;
    }

    void startElement(const char *name, const XmlStream::Attributes &attributes) override
    {
        if (!m_inSheetData) {
            m_inSheetData = is(name, "sheetData");
            return;
        }
        if (is(name, "c")) {
            if (m_inRow)
                startCell(attributes);
        } else if (is(name, "row")) {
            startRow(attributes);
        } else if (!m_inCell) {
            return;
        } else if (is(name, "v")) {
            m_inValue = m_hasValue = true;
        } else if (is(name, "is")) {
            m_inInline = m_hasInline = m_hasValue = true;
        } else if (is(name, "rPh")) {
            ++m_phonetic;
        } else if (is(name, "t")) {
            m_inText = m_inInline && m_phonetic == 0;
        }
    }

    void endElement(const char *name) override
    {
        if (!m_inSheetData)
            return;
        if (m_inCell) {
            if (is(name, "c"))
                endCell();
            else if (is(name, "v"))
                m_inValue = false;
            else if (is(name, "is"))
                m_inInline = false;
            else if (is(name, "rPh"))
                m_phonetic = qMax(0, m_phonetic - 1);
            else if (is(name, "t"))
                m_inText = false;
        } else if (m_inRow && is(name, "row")) {
            m_inRow = false;
            if (m_any)
                m_ready.push_back(std::move(m_row));
            m_row = SourceRow();
        } else if (is(name, "sheetData")) {
            m_inSheetData = false;
            m_stream->stop();
        }
    }

    void characters(QByteArrayView text) override
    {
        if (m_inValue || m_inText)
            m_raw.append(text);
    }

private:
    void startRow(const XmlStream::Attributes &attributes)
    {
        QByteArrayView number;
        for (int i = 0; i < attributes.size(); ++i)
            if (is(attributes.name(i), "r"))
                number = attributes.value(i);
        qint64 line = m_lastRow + 1;
        if (!number.isEmpty()) {
            bool ok = false;
            line = number.toLongLong(&ok);
            if (!ok || line <= 0 || line > maxSheetRows)
                m_reader.corrupt(m_reader.m_streamPart,
                                 QStringLiteral("行号 %1 无效").arg(QString::fromUtf8(number.first(qMin<qsizetype>(20, number.size())))));
        }
        m_lastRow = line;
        m_row.line = line;
        m_row.cells.clear();
        m_inRow = true;
        m_any = false;
        m_nextColumn = 0;
    }

    void startCell(const XmlStream::Attributes &attributes)
    {
        QByteArrayView t, style, ref;
        for (int i = 0; i < attributes.size(); ++i) {
            const char *name = attributes.name(i);
            if (name[0] && !name[1]) {
                if (name[0] == 'r')
                    ref = attributes.value(i);
                else if (name[0] == 't')
                    t = attributes.value(i);
                else if (name[0] == 's')
                    style = attributes.value(i);
            }
        }
        m_type = CellType::Number;
        if (!t.isEmpty()) {
            if (is(t, "s"))
                m_type = CellType::Shared;
            else if (is(t, "inlineStr"))
                m_type = CellType::Inline;
            else if (is(t, "str"))
                m_type = CellType::Formula;
            else if (is(t, "e"))
                m_type = CellType::Error;
            else if (is(t, "b"))
                m_type = CellType::Boolean;
            else if (is(t, "d"))
                m_type = CellType::Date;
        }
        m_style = style.isEmpty() ? 0 : style.toInt();
        bool tooWide = false;
        const int column = !ref.isEmpty() ? columnOf(ref, &tooWide) : m_nextColumn;
        if (tooWide || column >= maxColumns)
            m_reader.fail(QStringLiteral("工作表第 %1 行有超过 %2 列,不像是要导入的表格").arg(m_row.line).arg(maxColumns));
        if (column < 0)
            m_reader.corrupt(m_reader.m_streamPart,
                             QStringLiteral("单元格位置 %1 无效").arg(QString::fromUtf8(ref.first(qMin<qsizetype>(20, ref.size())))));
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
        QStringList &cells = m_row.cells;
        if (cells.isEmpty())
            cells.reserve(qMax(m_width, m_column + 1));
        while (cells.size() < m_column)
            cells.append(QString());
        if (cells.size() == m_column)
            cells.append(value);
        else
            cells[m_column] = value;
        m_width = qMax(m_width, m_column + 1);
        m_any = true;
    }

    XlsxReader &m_reader;
    XmlStream *m_stream = nullptr;
    std::deque<SourceRow> m_ready;
    SourceRow m_row;
    bool m_inSheetData = false;
    bool m_inRow = false;
    bool m_any = false;
    qint64 m_lastRow = 0;
    int m_nextColumn = 0;
    int m_width = 0;  // the widest row so far, to size the next
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
    m_rows->begin(*m_stream);
    m_failure = nullptr;
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
        return mayHoldEscapes(raw) ? decodeEscapes(QString::fromUtf8(raw)) : QString::fromUtf8(raw);
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
    while (!m_rows || !m_rows->take(row)) {
        if (m_failure)
            std::rethrow_exception(std::exchange(m_failure, nullptr));
        if (m_sheetDone)
            return false;
        bool more = false;
        try {
            more = runStream();
        } catch (...) {
            // The rows read before the failure are handed out first.
            m_failure = std::current_exception();
        }
        if (!more) {
            // The end of <sheetData> or of the part: the rest is not read.
            m_sheetDone = true;
            m_stream.reset();
            closeStream();
        }
    }
    return true;
}

}

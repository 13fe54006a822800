#include "data/import/CsvReader.h"

#include <array>

namespace importing {

namespace {

constexpr qint64 chunkBytes = 256 * 1024;

// A strict UTF-8 check fed in pieces: no overlong forms, no surrogates,
// nothing above U+10FFFF, no sequence cut off at the end.
class Utf8Check
{
public:
    bool feed(const char *data, qint64 size)
    {
        const auto *p = reinterpret_cast<const unsigned char *>(data);
        const auto *end = p + size;
        while (p < end && m_ok) {
            if (m_need == 0) {
                // ASCII runs, eight bytes at a time.
                while (end - p >= 8) {
                    quint64 word;
                    memcpy(&word, p, 8);
                    if (word & 0x8080808080808080ULL)
                        break;
                    p += 8;
                }
                if (p == end)
                    break;
            }
            const unsigned char b = *p++;
            if (m_need == 0) {
                if (b < 0x80)
                    continue;
                m_lower = 0x80;
                m_upper = 0xBF;
                if (b >= 0xC2 && b <= 0xDF) {
                    m_need = 1;
                } else if (b >= 0xE0 && b <= 0xEF) {
                    m_need = 2;
                    if (b == 0xE0)
                        m_lower = 0xA0;
                    else if (b == 0xED)
                        m_upper = 0x9F;
                } else if (b >= 0xF0 && b <= 0xF4) {
                    m_need = 3;
                    if (b == 0xF0)
                        m_lower = 0x90;
                    else if (b == 0xF4)
                        m_upper = 0x8F;
                } else {
                    m_ok = false;
                }
            } else {
                if (b < m_lower || b > m_upper) {
                    m_ok = false;
                    break;
                }
                m_lower = 0x80;
                m_upper = 0xBF;
                --m_need;
            }
        }
        return m_ok;
    }
    bool finish() const { return m_ok && m_need == 0; }

private:
    int m_need = 0;
    unsigned char m_lower = 0x80;
    unsigned char m_upper = 0xBF;
    bool m_ok = true;
};

}

CsvReader::CsvReader(std::unique_ptr<QIODevice> device, const QString &displayName, FileKind kind, char16_t delimiter)
    : TableReader(displayName), m_device(std::move(device)), m_kind(kind), m_delimiter(delimiter)
{
    if (!m_device->isOpen() && !m_device->open(QIODevice::ReadOnly))
        fail(QStringLiteral("无法打开文件(%1)").arg(m_device->errorString()));
    detectEncoding();
    if (m_delimiter == 0)
        m_delimiter = detectDelimiter();
    rewind();
}

QString CsvReader::encodingName() const
{
    switch (m_encoding) {
    case Encoding::Utf8:
        return QStringLiteral("UTF-8");
    case Encoding::Utf16LE:
        return QStringLiteral("UTF-16LE");
    case Encoding::Utf16BE:
        return QStringLiteral("UTF-16BE");
    case Encoding::Gb18030:
        return QStringLiteral("GB18030");
    }
    return {};
}

void CsvReader::detectEncoding()
{
    m_device->seek(0);
    const QByteArray head = m_device->peek(4);
    if (head.startsWith("\xEF\xBB\xBF")) {
        m_encoding = Encoding::Utf8;
        m_bomSize = 3;
        return;
    }
    if (head.startsWith("\xFF\xFE")) {
        m_encoding = Encoding::Utf16LE;
        m_bomSize = 2;
        return;
    }
    if (head.startsWith("\xFE\xFF")) {
        m_encoding = Encoding::Utf16BE;
        m_bomSize = 2;
        return;
    }
    // No mark: UTF-8 when every byte of the file decodes strictly as UTF-8.
    Utf8Check check;
    QByteArray chunk;
    while (!m_device->atEnd()) {
        chunk = m_device->read(chunkBytes * 4);
        if (chunk.isEmpty())
            break;
        if (!check.feed(chunk.constData(), chunk.size()))
            break;
    }
    m_encoding = check.finish() && m_device->atEnd() ? Encoding::Utf8 : Encoding::Gb18030;
    m_bomSize = 0;
}

void CsvReader::rewind()
{
    switch (m_encoding) {
    case Encoding::Utf8:
        m_decoder = QStringDecoder(QStringConverter::Utf8);
        break;
    case Encoding::Utf16LE:
        m_decoder = QStringDecoder(QStringConverter::Utf16LE);
        break;
    case Encoding::Utf16BE:
        m_decoder = QStringDecoder(QStringConverter::Utf16BE);
        break;
    case Encoding::Gb18030:
        m_decoder = QStringDecoder("GB18030");
        break;
    }
    if (!m_decoder.isValid())
        fail(QStringLiteral("无法解码 %1 编码的文字").arg(encodingName()));
    if (!m_device->seek(m_bomSize))
        fail(QStringLiteral("无法读取文件(%1)").arg(m_device->errorString()));
    m_buffer.clear();
    m_pos = 0;
    m_atEnd = false;
    m_line = 0;
}

bool CsvReader::fill()
{
    if (m_atEnd)
        return false;
    const QByteArray bytes = m_device->read(chunkBytes);
    if (bytes.isEmpty()) {
        m_atEnd = true;
        return false;
    }
    m_buffer.remove(0, m_pos);
    m_pos = 0;
    m_buffer += m_decoder.decode(bytes);
    return true;
}

char16_t CsvReader::detectDelimiter()
{
    // The candidate that the first lines (outside quotes) hold most often in
    // one line; a tab wins a tie, as spreadsheets' text files use it.
    const std::array<char16_t, 3> candidates{u'\t', u',', u';'};
    std::array<int, 3> best{0, 0, 0};
    std::array<int, 3> count{0, 0, 0};
    rewind();
    QString sample;
    while (sample.size() < 64 * 1024 && fill()) {
        sample = m_buffer;
    }
    bool quoted = false;
    int lines = 0;
    for (const QChar c : std::as_const(sample)) {
        const char16_t u = c.unicode();
        if (u == u'"') {
            quoted = !quoted;
            continue;
        }
        if (quoted)
            continue;
        if (u == u'\n' || u == u'\r') {
            for (size_t i = 0; i < candidates.size(); ++i) {
                best[i] = std::max(best[i], count[i]);
                count[i] = 0;
            }
            if (++lines >= 50)
                break;
            continue;
        }
        for (size_t i = 0; i < candidates.size(); ++i)
            if (u == candidates[i])
                ++count[i];
    }
    for (size_t i = 0; i < candidates.size(); ++i)
        best[i] = std::max(best[i], count[i]);
    size_t chosen = 1;  // a single column: comma
    int most = 0;
    for (size_t i = 0; i < candidates.size(); ++i) {
        if (best[i] > most) {
            most = best[i];
            chosen = i;
        }
    }
    return candidates[chosen];
}

void CsvReader::selectSheet(int)
{
    rewind();
}

double CsvReader::progress() const
{
    const qint64 size = m_device->size();
    return size > 0 ? double(m_device->pos()) / double(size) : 1.0;
}

bool CsvReader::next(SourceRow &row)
{
    // At least n characters from the current position, reading on as needed.
    auto ensure = [this](qsizetype n) {
        while (m_buffer.size() - m_pos < n)
            if (!fill())
                return false;
        return true;
    };
    for (;;) {
        row.cells.clear();
        QString field;
        bool quoted = false;  // inside a quoted part of the cell
        qint64 chars = 0;
        if (!ensure(1))
            return false;
        const qint64 line = ++m_line;
        auto grow = [&](qsizetype n) {
            chars += n;
            if (chars > maxRowChars)
                fail(QStringLiteral("第 %1 行超过 %2 个字符,文件不像是表格").arg(line).arg(maxRowChars));
        };
        auto endCell = [&] {
            row.cells << field;
            field.clear();
            if (row.cells.size() > maxColumns)
                fail(QStringLiteral("第 %1 行有超过 %2 列").arg(line).arg(maxColumns));
        };
        for (;;) {
            if (!ensure(1)) {
                endCell();  // the last record has no line break
                break;
            }
            const char16_t c = m_buffer.at(m_pos).unicode();
            if (quoted) {
                if (c == u'"') {
                    if (ensure(2) && m_buffer.at(m_pos + 1).unicode() == u'"') {
                        field += QChar(u'"');
                        m_pos += 2;
                        grow(2);
                    } else {
                        quoted = false;
                        ++m_pos;
                        grow(1);
                    }
                    continue;
                }
                // A run up to the next quote.
                qsizetype end = m_pos;
                const qsizetype size = m_buffer.size();
                while (end < size && m_buffer.at(end).unicode() != u'"')
                    ++end;
                grow(end - m_pos);
                field += QStringView(m_buffer).mid(m_pos, end - m_pos);
                m_pos = end;
                continue;
            }
            if (c == m_delimiter) {
                ++m_pos;
                grow(1);
                endCell();
                continue;
            }
            if (c == u'\n' || c == u'\r') {
                ++m_pos;
                if (c == u'\r' && ensure(1) && m_buffer.at(m_pos).unicode() == u'\n')
                    ++m_pos;
                endCell();
                break;
            }
            if (c == u'"' && field.isEmpty()) {
                quoted = true;
                ++m_pos;
                grow(1);
                continue;
            }
            // A run of plain characters.
            qsizetype end = m_pos + 1;
            const qsizetype size = m_buffer.size();
            while (end < size) {
                const char16_t d = m_buffer.at(end).unicode();
                if (d == m_delimiter || d == u'\n' || d == u'\r' || d == u'"')
                    break;
                ++end;
            }
            grow(end - m_pos);
            field += QStringView(m_buffer).mid(m_pos, end - m_pos);
            m_pos = end;
        }
        row.line = line;
        for (const QString &cell : std::as_const(row.cells))
            if (!cell.trimmed().isEmpty())
                return true;
    }
}

}

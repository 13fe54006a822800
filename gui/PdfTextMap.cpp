#include "gui/PdfTextMap.h"

#include <QBuffer>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QtEndian>
#include <tuple>

void RareCharacters::note(const QString &text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (!text.at(i).isHighSurrogate() || !text.at(i + 1).isLowSurrogate())
            continue;
        const char32_t c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
        if (!m_seen.contains(c)) {
            m_seen.insert(c);
            m_text += text.mid(i, 2);
        }
        ++i;
    }
}

namespace {

// CJK Radicals Supplement characters that the CJK fonts draw with the glyph of
// an ideograph, and that ideograph. The Kangxi radicals map by their
// compatibility decomposition.
const QHash<char16_t, char16_t> &radicalIdeographs()
{
    static const QHash<char16_t, char16_t> map = [] {
        const std::pair<char16_t, char16_t> pairs[] = {
            {0x2E82, 0x4E5B}, {0x2E83, 0x4E5A}, {0x2E85, 0x4EBB}, {0x2E89, 0x5202}, {0x2E8E, 0x5140}, {0x2E8F, 0x5C23},
            {0x2E90, 0x5C22}, {0x2E92, 0x5DF3}, {0x2E93, 0x5E7A}, {0x2E94, 0x5F51}, {0x2E95, 0x5F50}, {0x2E96, 0x5FC4},
            {0x2E98, 0x624C}, {0x2E99, 0x6535}, {0x2E9B, 0x65E1}, {0x2E9E, 0x6B7A}, {0x2E9F, 0x6BCD}, {0x2EA0, 0x6C11},
            {0x2EA1, 0x6C35}, {0x2EA3, 0x706C}, {0x2EA4, 0x722B}, {0x2EA6, 0x4E2C}, {0x2EA8, 0x72AD}, {0x2EAB, 0x7F52},
            {0x2EAD, 0x793B}, {0x2EAF, 0x7CF9}, {0x2EB0, 0x7E9F}, {0x2EB1, 0x7F53}, {0x2EB2, 0x7F52}, {0x2EB9, 0x8002},
            {0x2EBA, 0x8080}, {0x2EBE, 0x8279}, {0x2EC1, 0x864E}, {0x2EC2, 0x8864}, {0x2EC3, 0x8980}, {0x2EC4, 0x897F},
            {0x2EC5, 0x89C1}, {0x2EC6, 0x89D2}, {0x2EC8, 0x8BA0}, {0x2EC9, 0x8D1D}, {0x2ECB, 0x8F66}, {0x2ECC, 0x8FB6},
            {0x2ECD, 0x8FB6}, {0x2ED0, 0x9485}, {0x2ED1, 0x9577}, {0x2ED2, 0x9578}, {0x2ED3, 0x957F}, {0x2ED4, 0x95E8},
            {0x2ED6, 0x961D}, {0x2ED8, 0x9752}, {0x2ED9, 0x97E6}, {0x2EDA, 0x9875}, {0x2EDB, 0x98CE}, {0x2EDC, 0x98DE},
            {0x2EDD, 0x98DF}, {0x2EDF, 0x98E0}, {0x2EE0, 0x9963}, {0x2EE2, 0x9A6C}, {0x2EE3, 0x9AA8}, {0x2EE4, 0x9B3C},
            {0x2EE5, 0x9C7C}, {0x2EE6, 0x9E1F}, {0x2EE7, 0x5364}, {0x2EE8, 0x9EA6}, {0x2EE9, 0x9EC4}, {0x2EEA, 0x9EFE},
            {0x2EEB, 0x6589}, {0x2EEC, 0x9F50}, {0x2EED, 0x6B6F}, {0x2EEE, 0x9F7F}, {0x2EEF, 0x7ADC}, {0x2EF0, 0x9F99},
            {0x2EF1, 0x9F9C}, {0x2EF2, 0x4E80}, {0x2EF3, 0x9F9F},
        };
        QHash<char16_t, char16_t> m;
        for (const auto &[radical, ideograph] : pairs)
            m.insert(radical, ideograph);
        return m;
    }();
    return map;
}

char16_t ideographFor(char16_t u)
{
    if (u >= 0x2F00 && u <= 0x2FD5) {
        if (u == 0x2F3E)  // 户: the simplified form the fonts draw
            return 0x6237;
        const QString n = QString(QChar(u)).normalized(QString::NormalizationForm_KC);
        return n.size() == 1 ? n.at(0).unicode() : u;
    }
    return radicalIdeographs().value(u, u);
}

// The character a shared glyph stands for in this program's texts: the CJK
// fonts draw the figure dash and the en dash with one glyph, and the text map
// names the figure dash, so "60–69" could not be found or copied.
char16_t intendedCharacter(char16_t u)
{
    if (u == 0x2012)
        return 0x2013;
    return ideographFor(u);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Rewrites the Unicode values (not the glyph codes) of one bfrange or bfchar
// section: per line, the tokens after the first two (bfrange) or the first (bfchar).
bool repairSection(QByteArray &data, qsizetype from, qsizetype to, int codesPerLine)
{
    bool changed = false;
    int token = 0;
    for (qsizetype i = from; i < to; ++i) {
        if (data[i] == '\n') {
            token = 0;
            continue;
        }
        if (data[i] != '<')
            continue;
        const qsizetype end = data.indexOf('>', i);
        if (end < 0 || end > to)
            break;
        if (token++ >= codesPerLine && end - i == 5) {
            int value = 0;
            for (qsizetype k = i + 1; k < end && value >= 0; ++k)
                value = hexValue(data[k]) < 0 ? -1 : value * 16 + hexValue(data[k]);
            if ((value >= 0x2E80 && value <= 0x2FDF) || value == 0x2012) {
                const char16_t mapped = intendedCharacter(char16_t(value));
                if (mapped != value) {
                    const QByteArray hex = QByteArray::number(mapped, 16).toUpper().rightJustified(4, '0');
                    data.replace(i + 1, 4, hex);
                    changed = true;
                }
            }
        }
        i = end;
    }
    return changed;
}

}

namespace {

// ---- reading the objects of a PDF file as Qt's writer lays them out ------

// The text of object number (its last definition, as a later update
// overrides an earlier one), from "obj" to "endobj"; empty when missing.
QByteArray objectText(const QByteArray &pdf, int number)
{
    const QByteArray head = '\n' + QByteArray::number(number) + " 0 obj";
    const qsizetype at = pdf.lastIndexOf(head);
    if (at < 0)
        return {};
    const qsizetype end = pdf.indexOf("endobj", at);
    return end < 0 ? QByteArray() : pdf.mid(at + head.size(), end - at - head.size());
}

// The object number of "/Key N 0 R" (or "/Key [N 0 R]") in a dictionary; -1 when missing.
int reference(const QByteArray &dictionary, const char *key)
{
    const QRegularExpression re(QStringLiteral("%1\\s*\\[?\\s*(\\d+)\\s+0\\s+R").arg(QRegularExpression::escape(QLatin1String(key))));
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(dictionary));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

qint64 integerAfter(const QByteArray &dictionary, const char *key)
{
    const QRegularExpression re(QStringLiteral("%1\\s+(\\d+)(\\s+0\\s+R)?").arg(QRegularExpression::escape(QLatin1String(key))));
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(dictionary));
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

struct Stream
{
    QByteArray dictionary;
    QByteArray data;
};

// The dictionary and raw (still encoded) data of a stream object.
Stream streamObject(const QByteArray &pdf, int number)
{
    const QByteArray text = objectText(pdf, number);
    const qsizetype open = text.indexOf("stream");
    if (open < 0)
        return {};
    Stream s;
    s.dictionary = text.left(open);
    qsizetype start = open + 6;
    if (text.mid(start, 2) == "\r\n")
        start += 2;
    else if (text.mid(start, 1) == "\n")
        start += 1;
    qint64 length = integerAfter(s.dictionary, "/Length");
    if (QRegularExpression(QStringLiteral("/Length\\s+\\d+\\s+0\\s+R")).match(QString::fromLatin1(s.dictionary)).hasMatch())
        length = objectText(pdf, int(length)).trimmed().toLongLong();
    if (length < 0 || start + length > text.size())
        return {};
    s.data = text.mid(start, length);
    return s;
}

// ---- the glyphs of an embedded TrueType font -----------------------------

class Glyphs
{
public:
    explicit Glyphs(const QByteArray &font)
    {
        if (font.size() < 12)
            return;
        const auto *p = reinterpret_cast<const uchar *>(font.constData());
        const int tables = qFromBigEndian<quint16>(p + 4);
        QByteArray head, loca, maxp;
        for (int i = 0; i < tables && 12 + 16 * (i + 1) <= font.size(); ++i) {
            const uchar *record = p + 12 + 16 * i;
            const QByteArray tag(reinterpret_cast<const char *>(record), 4);
            const quint32 offset = qFromBigEndian<quint32>(record + 8);
            const quint32 length = qFromBigEndian<quint32>(record + 12);
            if (qint64(offset) + length > font.size())
                return;
            const QByteArray table = font.mid(offset, length);
            if (tag == "head")
                head = table;
            else if (tag == "loca")
                loca = table;
            else if (tag == "maxp")
                maxp = table;
            else if (tag == "glyf")
                m_glyf = table;
        }
        if (head.size() < 54 || maxp.size() < 6)
            return;
        const bool longOffsets = qFromBigEndian<qint16>(head.constData() + 50) != 0;
        const int count = qFromBigEndian<quint16>(maxp.constData() + 4);
        const auto *l = reinterpret_cast<const uchar *>(loca.constData());
        for (int i = 0; i <= count; ++i) {
            if (longOffsets ? (i + 1) * 4 > loca.size() : (i + 1) * 2 > loca.size())
                break;
            m_offsets << (longOffsets ? qFromBigEndian<quint32>(l + 4 * i) : 2u * qFromBigEndian<quint16>(l + 2 * i));
        }
    }
    int count() const { return qMax(0, int(m_offsets.size()) - 1); }
    QByteArray outline(int glyph) const
    {
        if (glyph < 0 || glyph + 1 >= m_offsets.size() || m_offsets[glyph + 1] < m_offsets[glyph]
            || m_offsets[glyph + 1] > quint32(m_glyf.size()))
            return {};
        return m_glyf.mid(m_offsets[glyph], m_offsets[glyph + 1] - m_offsets[glyph]);
    }

private:
    QByteArray m_glyf;
    QVector<quint32> m_offsets;
};

// A composite font of the file: its embedded glyphs and its text map.
struct EmbeddedFont
{
    int toUnicode = -1;  // object number of the text map
    Glyphs glyphs{QByteArray()};
};

QList<EmbeddedFont> embeddedFonts(const QByteArray &pdf)
{
    QList<EmbeddedFont> fonts;
    QSet<int> seen;
    qsizetype at = 0;
    while ((at = pdf.indexOf("/Subtype /Type0", at)) >= 0) {
        const qsizetype objectStart = pdf.lastIndexOf(" 0 obj", at);
        const qsizetype lineStart = pdf.lastIndexOf('\n', objectStart);
        const qsizetype end = pdf.indexOf("endobj", at);
        at += 15;
        if (objectStart < 0 || end < 0)
            continue;
        const QByteArray dictionary = pdf.mid(objectStart, end - objectStart);
        const int number = pdf.mid(lineStart + 1, objectStart - lineStart - 1).trimmed().toInt();
        if (seen.contains(number))
            continue;
        seen.insert(number);
        EmbeddedFont font;
        font.toUnicode = reference(dictionary, "/ToUnicode");
        const int descendant = reference(dictionary, "/DescendantFonts");
        const int descriptor = reference(objectText(pdf, descendant), "/FontDescriptor");
        const Stream file = streamObject(pdf, reference(objectText(pdf, descriptor), "/FontFile2"));
        if (font.toUnicode < 0 || file.data.isEmpty())
            continue;
        QByteArray inflated = file.data;
        if (file.dictionary.contains("/FlateDecode")) {
            const qint64 size = integerAfter(file.dictionary, "/Length1");
            QByteArray sized(4, '\0');
            qToBigEndian<quint32>(quint32(qMax<qint64>(0, size)), sized.data());
            inflated = qUncompress(sized + file.data);
        }
        font.glyphs = Glyphs(inflated);
        fonts << font;
    }
    return fonts;
}

// ---- text maps -------------------------------------------------------------

// The glyphs a text map names with a character.
QSet<int> namedGlyphs(const QByteArray &map)
{
    QSet<int> named;
    static const QRegularExpression range(QStringLiteral("<([0-9A-Fa-f]+)>\\s*<([0-9A-Fa-f]+)>\\s*(<[0-9A-Fa-f]+>|\\[[^\\]]*\\])"));
    static const QRegularExpression single(QStringLiteral("<([0-9A-Fa-f]+)>\\s*<([0-9A-Fa-f]+)>"));
    const QString text = QString::fromLatin1(map);
    for (const auto &[begin, end, pattern] :
         {std::tuple<QString, QString, const QRegularExpression *>{QStringLiteral("beginbfrange"), QStringLiteral("endbfrange"), &range},
          std::tuple<QString, QString, const QRegularExpression *>{QStringLiteral("beginbfchar"), QStringLiteral("endbfchar"), &single}}) {
        qsizetype at = 0;
        while ((at = text.indexOf(begin, at)) >= 0) {
            const qsizetype stop = text.indexOf(end, at);
            if (stop < 0)
                break;
            const QString section = text.mid(at + begin.size(), stop - at - begin.size());
            for (auto it = pattern->globalMatch(section); it.hasNext();) {
                const QRegularExpressionMatch m = it.next();
                const int first = m.captured(1).toInt(nullptr, 16);
                const int last = pattern == &range ? m.captured(2).toInt(nullptr, 16) : first;
                const QString value = pattern == &range ? m.captured(3) : m.captured(2);
                if (value.count(QLatin1Char('0')) + 2 == value.size())
                    continue;  // named "0": no character
                for (int g = first; g <= last && g - first < 0x10000; ++g)
                    named.insert(g);
            }
            at = stop;
        }
    }
    return named;
}

QByteArray hex(quint32 value, int digits)
{
    return QByteArray::number(value, 16).toUpper().rightJustified(digits, '0');
}

// A text map with these glyphs named as well.
QByteArray withNames(const QByteArray &map, const QMap<int, QString> &names)
{
    QByteArray sections;
    QList<int> glyphs = names.keys();
    for (qsizetype first = 0; first < glyphs.size(); first += 100) {
        const qsizetype count = qMin<qsizetype>(100, glyphs.size() - first);
        sections += QByteArray::number(count) + " beginbfchar\n";
        for (qsizetype i = first; i < first + count; ++i) {
            QByteArray utf16;
            for (const QChar c : names.value(glyphs[i]))
                utf16 += hex(c.unicode(), 4);
            sections += '<' + hex(quint32(glyphs[i]), 4) + "> <" + utf16 + ">\n";
        }
        sections += "endbfchar\n";
    }
    QByteArray result = map;
    const qsizetype end = result.lastIndexOf("endcmap");
    result.insert(end < 0 ? result.size() : end, sections);
    return result;
}

// Each rare character's outlines, as the writer embeds them for font, plain and bold.
QHash<QByteArray, QString> outlinesOf(const QFont &font, const QString &rare)
{
    QHash<QByteArray, QString> outlines;
    for (qsizetype i = 0; i + 1 < rare.size(); i += 2) {
        const QString character = rare.mid(i, 2);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        {
            QPdfWriter writer(&buffer);
            QPainter painter(&writer);
            for (const bool bold : {false, true}) {
                QFont f(font, &writer);
                f.setBold(bold);
                f.setStyleStrategy(QFont::StyleStrategy(f.styleStrategy() | QFont::PreferNoShaping));
                painter.setFont(f);
                painter.drawText(QPointF(100, bold ? 400 : 200), character);
            }
        }
        for (const EmbeddedFont &embedded : embeddedFonts(buffer.data()))
            for (int g = 1; g < embedded.glyphs.count(); ++g) {
                const QByteArray outline = embedded.glyphs.outline(g);
                if (!outline.isEmpty())
                    outlines.insert(outline, character);
            }
    }
    return outlines;
}

// The objects that replace text maps: a name for every glyph of a rare character.
QMap<int, QByteArray> completedMaps(const QByteArray &pdf, const QFont &font, const RareCharacters &rare)
{
    QMap<int, QByteArray> maps;
    QHash<QByteArray, QString> outlines;
    bool outlinesRead = false;
    for (const EmbeddedFont &embedded : embeddedFonts(pdf)) {
        const Stream map = streamObject(pdf, embedded.toUnicode);
        if (map.data.isEmpty() || map.dictionary.contains("/Filter"))
            continue;
        const QSet<int> named = namedGlyphs(map.data);
        QMap<int, QString> names;
        for (int g = 1; g < embedded.glyphs.count(); ++g) {
            if (named.contains(g))
                continue;
            const QByteArray outline = embedded.glyphs.outline(g);
            if (outline.isEmpty())
                continue;
            if (!outlinesRead) {
                outlines = outlinesOf(font, rare.text());
                outlinesRead = true;
            }
            if (outlines.contains(outline))
                names.insert(g, outlines.value(outline));
        }
        if (!names.isEmpty())
            maps.insert(embedded.toUnicode, withNames(map.data, names));
    }
    return maps;
}

// An update appended to the file that replaces the given stream objects.
QByteArray incrementalUpdate(const QByteArray &pdf, const QMap<int, QByteArray> &streams)
{
    const qsizetype trailerAt = pdf.lastIndexOf("trailer");
    const qsizetype startAt = pdf.lastIndexOf("startxref");
    if (trailerAt < 0 || startAt < 0)
        return {};
    const QByteArray trailer = pdf.mid(trailerAt, startAt - trailerAt);
    const qint64 previous = pdf.mid(startAt + 9).trimmed().split('\n').value(0).trimmed().toLongLong();
    static const QRegularExpression size(QStringLiteral("/Size\\s+(\\d+)"));
    static const QRegularExpression root(QStringLiteral("/Root\\s+(\\d+\\s+\\d+\\s+R)"));
    static const QRegularExpression info(QStringLiteral("/Info\\s+(\\d+\\s+\\d+\\s+R)"));
    const QString t = QString::fromLatin1(trailer);
    const QRegularExpressionMatch sizeMatch = size.match(t);
    const QRegularExpressionMatch rootMatch = root.match(t);
    if (!sizeMatch.hasMatch() || !rootMatch.hasMatch())
        return {};
    QByteArray update = pdf.endsWith('\n') ? QByteArray() : QByteArray("\n");
    QMap<int, qint64> offsets;
    for (auto it = streams.cbegin(); it != streams.cend(); ++it) {
        offsets.insert(it.key(), pdf.size() + update.size());
        update += QByteArray::number(it.key()) + " 0 obj\n<< /Length " + QByteArray::number(it.value().size())
                  + " >>\nstream\n" + it.value() + "\nendstream\nendobj\n";
    }
    const qint64 xref = pdf.size() + update.size();
    update += "xref\n";
    for (auto it = offsets.cbegin(); it != offsets.cend(); ++it)
        update += QByteArray::number(it.key()) + " 1\n" + QByteArray::number(it.value()).rightJustified(10, '0')
                  + " 00000 n \n";
    update += "trailer\n<<\n/Size " + sizeMatch.captured(1).toLatin1() + "\n/Root " + rootMatch.captured(1).toLatin1()
              + "\n";
    const QRegularExpressionMatch infoMatch = info.match(t);
    if (infoMatch.hasMatch())
        update += "/Info " + infoMatch.captured(1).toLatin1() + "\n";
    update += "/Prev " + QByteArray::number(previous) + "\n>>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return update;
}

}

bool RepairPdfTextMap(const QString &path, const QFont &font, const RareCharacters &rare)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray data = file.readAll();
    const QByteArray original = data;
    for (const auto &[begin, end, codes] : {std::tuple<QByteArray, QByteArray, int>{"beginbfrange", "endbfrange", 2},
                                            std::tuple<QByteArray, QByteArray, int>{"beginbfchar", "endbfchar", 1}}) {
        qsizetype at = 0;
        while ((at = data.indexOf(begin, at)) >= 0) {
            const qsizetype stop = data.indexOf(end, at);
            if (stop < 0)
                break;
            repairSection(data, at + begin.size(), stop, codes);
            at = stop;
        }
    }
    // Same length: only changed bytes are written, offsets stay valid.
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (data[i] == original[i])
            continue;
        qsizetype j = i;
        while (j < data.size() && data[j] != original[j])
            ++j;
        if (!file.seek(i) || file.write(data.constData() + i, j - i) != j - i)
            return false;
        i = j;
    }
    if (!rare.isEmpty()) {
        const QMap<int, QByteArray> maps = completedMaps(data, font, rare);
        if (!maps.isEmpty()) {
            const QByteArray update = incrementalUpdate(data, maps);
            if (update.isEmpty() || !file.seek(data.size()) || file.write(update) != update.size())
                return false;
        }
    }
    return file.flush();
}

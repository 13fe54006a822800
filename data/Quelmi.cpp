// Quelmi: reads and writes single values of the program's ini files.
//
// The program loads this module by file name at each use and resolves the two
// C entry points below. Files are handled as raw UTF-8 bytes: only the line
// that receives a new value is rebuilt, every other byte (comments, unknown
// lines, blank lines, line endings, a byte order mark) is written back as read.

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <QString>
#include <QtGlobal>

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

// One physical line: its bytes without the "\n", and whether a "\n" followed.
struct Line
{
    QByteArray raw;
    bool hasNewline = false;
};

enum class Kind { Blank, Comment, Section, Key, Other };

struct ParsedLine
{
    Kind kind = Kind::Other;
    QString name;      // section or key name, trimmed (Section and Key only)
    qsizetype eq = -1; // position of the first '=' in the raw line (Key only)
};

struct IniText
{
    QByteArray bom;    // the byte order mark, if the file had one
    QList<Line> lines;
    QByteArray eol = "\n";
};

// The line without its CRLF remainder.
QByteArray content(const Line &line)
{
    if (line.raw.endsWith('\r'))
        return line.raw.left(line.raw.size() - 1);
    return line.raw;
}

ParsedLine parse(const Line &line)
{
    ParsedLine p;
    const QByteArray text = content(line);
    const QByteArray trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        p.kind = Kind::Blank;
    } else if (trimmed.startsWith(';') || trimmed.startsWith('#')) {
        p.kind = Kind::Comment;
    } else if (trimmed.startsWith('[')) {
        const qsizetype close = trimmed.indexOf(']');
        if (close > 0) {
            p.kind = Kind::Section;
            p.name = QString::fromUtf8(trimmed.mid(1, close - 1)).trimmed();
        }
    } else {
        const qsizetype eq = text.indexOf('=');
        if (eq >= 0) {
            const QString key = QString::fromUtf8(text.left(eq)).trimmed();
            if (!key.isEmpty()) {
                p.kind = Kind::Key;
                p.name = key;
                p.eq = eq;
            }
        }
    }
    return p;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

IniText split(QByteArray data)
{
    IniText ini;
    if (data.startsWith(kBom)) {
        ini.bom = kBom;
        data.remove(0, kBom.size());
    }
    qsizetype start = 0;
    while (start < data.size()) {
        const qsizetype nl = data.indexOf('\n', start);
        if (nl < 0) {
            ini.lines.append({data.mid(start), false});
            break;
        }
        ini.lines.append({data.mid(start, nl - start), true});
        start = nl + 1;
    }
    // The first terminated line decides the line-ending style of added lines.
    for (const Line &line : std::as_const(ini.lines)) {
        if (line.hasNewline) {
            if (line.raw.endsWith('\r'))
                ini.eol = "\r\n";
            break;
        }
    }
    return ini;
}

QByteArray join(const IniText &ini)
{
    QByteArray out = ini.bom;
    for (const Line &line : ini.lines) {
        out += line.raw;
        if (line.hasNewline)
            out += '\n';
    }
    return out;
}

// A line rewritten with the file's ending must not gain a second "\r".
Line makeLine(const QByteArray &text, const QByteArray &eol)
{
    Line line;
    line.raw = text;
    if (eol == "\r\n")
        line.raw += '\r';
    line.hasNewline = true;
    return line;
}

// Index of the first line of the first matching section, or -1.
qsizetype findSection(const QList<ParsedLine> &parsed, const QString &section)
{
    for (qsizetype i = 0; i < parsed.size(); ++i) {
        if (parsed[i].kind == Kind::Section && sameName(parsed[i].name, section))
            return i;
    }
    return -1;
}

// One past the last line belonging to the section whose header is at `header`.
qsizetype sectionEnd(const QList<ParsedLine> &parsed, qsizetype header)
{
    qsizetype i = header + 1;
    while (i < parsed.size() && parsed[i].kind != Kind::Section)
        ++i;
    return i;
}

qsizetype findKey(const QList<ParsedLine> &parsed, qsizetype header, const QString &key)
{
    const qsizetype end = sectionEnd(parsed, header);
    for (qsizetype i = header + 1; i < end; ++i) {
        if (parsed[i].kind == Kind::Key && sameName(parsed[i].name, key))
            return i;
    }
    return -1;
}

bool hasLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

// A name that would be read back as something else cannot be stored.
bool storableSection(const QString &section)
{
    return !section.isEmpty() && !hasLineBreak(section) && !section.contains(QLatin1Char(']'));
}

bool storableKey(const QString &key)
{
    return !key.isEmpty() && !hasLineBreak(key) && !key.contains(QLatin1Char('='))
        && !key.startsWith(QLatin1Char(';')) && !key.startsWith(QLatin1Char('#'))
        && !key.startsWith(QLatin1Char('['));
}

bool readAll(const QString &file, QByteArray &data)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    data = f.readAll();
    return f.error() == QFileDevice::NoError;
}

QString readValue(const QString &file, const QString &section, const QString &key)
{
    if (section.trimmed().isEmpty() || key.trimmed().isEmpty())
        return QString();
    QByteArray data;
    if (!readAll(file, data))
        return QString();
    const IniText ini = split(data);
    QList<ParsedLine> parsed;
    parsed.reserve(ini.lines.size());
    for (const Line &line : ini.lines)
        parsed.append(parse(line));

    const qsizetype header = findSection(parsed, section.trimmed());
    if (header < 0)
        return QString();
    const qsizetype at = findKey(parsed, header, key.trimmed());
    if (at < 0)
        return QString();
    return QString::fromUtf8(content(ini.lines[at]).mid(parsed[at].eq + 1));
}

bool writeValue(const QString &file, const QString &rawSection, const QString &rawKey,
                const QString &value)
{
    const QString section = rawSection.trimmed();
    const QString key = rawKey.trimmed();
    if (!storableSection(section) || !storableKey(key) || hasLineBreak(value))
        return false;

    const QFileInfo info(file);
    if (info.isDir())
        return false;
    QByteArray data;
    if (info.exists() && !readAll(file, data))
        return false;

    IniText ini = split(data);
    QList<ParsedLine> parsed;
    parsed.reserve(ini.lines.size());
    for (const Line &line : std::as_const(ini.lines))
        parsed.append(parse(line));

    const QByteArray valueBytes = value.toUtf8();
    const qsizetype header = findSection(parsed, section);
    if (header >= 0) {
        const qsizetype at = findKey(parsed, header, key);
        if (at >= 0) {
            // Keep everything up to the '=' (the key as spelt in the file).
            Line &line = ini.lines[at];
            const bool crlf = line.raw.endsWith('\r');
            line.raw = line.raw.left(parsed[at].eq + 1) + valueBytes;
            if (crlf)
                line.raw += '\r';
        } else {
            qsizetype last = header;
            const qsizetype end = sectionEnd(parsed, header);
            for (qsizetype i = header + 1; i < end; ++i) {
                if (parsed[i].kind != Kind::Blank)
                    last = i;
            }
            Line &before = ini.lines[last];
            if (!before.hasNewline) {
                if (ini.eol == "\r\n")
                    before.raw += '\r';
                before.hasNewline = true;
            }
            ini.lines.insert(last + 1, makeLine(key.toUtf8() + '=' + valueBytes, ini.eol));
        }
    } else {
        if (!ini.lines.isEmpty() && !ini.lines.last().hasNewline) {
            Line &tail = ini.lines.last();
            if (ini.eol == "\r\n")
                tail.raw += '\r';
            tail.hasNewline = true;
        }
        ini.lines.append(makeLine('[' + section.toUtf8() + ']', ini.eol));
        ini.lines.append(makeLine(key.toUtf8() + '=' + valueBytes, ini.eol));
    }

    const QByteArray out = join(ini);
    if (info.exists() && out == data)
        return true;

    // Written beside the target and renamed over it, so a failure at any
    // point leaves the previous file as it was.
    QSaveFile save(file);
    if (!save.open(QIODevice::WriteOnly))
        return false;
    if (save.write(out) != out.size()) {
        save.cancelWriting();
        return false;
    }
    return save.commit();
}

} // namespace

extern "C" Q_DECL_EXPORT void ReadIni(QString &value, const QString &file, const QString &section,
                                      const QString &key)
{
    try {
        value = readValue(file, section, key);
    } catch (...) {
        value.clear();
    }
}

extern "C" Q_DECL_EXPORT bool WriteIni(const QString &file, const QString &section,
                                       const QString &key, const QString &value)
{
    try {
        return writeValue(file, section, key, value);
    } catch (...) {
        return false;
    }
}

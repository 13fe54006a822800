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
#include <QString>
#include <QStringDecoder>
#include <QtGlobal>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kBom("\xEF\xBB\xBF");

// One physical line: its text and the line ending that followed it ("\n",
// "\r\n", a bare "\r", or nothing at the end of the file). A bare "\r" ends a
// line too, so no line ending can ever become part of a value.
struct Line
{
    QByteArray text;
    QByteArray eol;
};

enum class Kind { Blank, Comment, Section, Key, Other };

struct ParsedLine
{
    Kind kind = Kind::Other;
    QString name;      // section or key name, trimmed (Section and Key only)
    qsizetype eq = -1; // position of the first '=' in the line (Key only)
};

struct IniText
{
    QByteArray bom;    // the byte order mark, if the file had one
    QList<Line> lines;
    QByteArray eol = "\n";
};

// UTF-8 to text keeping a leading U+FEFF: QString::fromUtf8 drops it, which
// would make a name or value that begins with one unfindable.
QString decode(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless
                                                     | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

ParsedLine parse(const Line &line)
{
    ParsedLine p;
    const QByteArray &text = line.text;
    const QByteArray trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        p.kind = Kind::Blank;
    } else if (trimmed.startsWith(';') || trimmed.startsWith('#')) {
        p.kind = Kind::Comment;
    } else if (trimmed.startsWith('[')) {
        const qsizetype close = trimmed.indexOf(']');
        if (close > 0) {
            p.kind = Kind::Section;
            p.name = decode(trimmed.mid(1, close - 1)).trimmed();
        }
    } else {
        const qsizetype eq = text.indexOf('=');
        if (eq >= 0) {
            const QString key = decode(text.left(eq)).trimmed();
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
        qsizetype at = start;
        while (at < data.size() && data[at] != '\n' && data[at] != '\r')
            ++at;
        Line line{data.mid(start, at - start), QByteArray()};
        if (at < data.size()) {
            const bool crlf = data[at] == '\r' && at + 1 < data.size() && data[at + 1] == '\n';
            line.eol = data.mid(at, crlf ? 2 : 1);
        }
        ini.lines.append(line);
        start = at + line.eol.size();
    }
    // The first terminated line decides the line ending of added lines.
    for (const Line &line : std::as_const(ini.lines)) {
        if (!line.eol.isEmpty()) {
            ini.eol = line.eol;
            break;
        }
    }
    return ini;
}

QByteArray join(const IniText &ini)
{
    QByteArray out = ini.bom;
    for (const Line &line : ini.lines)
        out += line.text + line.eol;
    return out;
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

// Text that UTF-8 cannot carry unchanged (a lone surrogate) would be read back
// as something else.
bool encodable(const QString &text)
{
    return decode(text.toUtf8()) == text;
}

// A name that would be read back as something else cannot be stored.
bool storableSection(const QString &section)
{
    return !section.isEmpty() && !hasLineBreak(section) && !section.contains(QLatin1Char(']'))
        && encodable(section);
}

bool storableKey(const QString &key)
{
    return !key.isEmpty() && !hasLineBreak(key) && !key.contains(QLatin1Char('='))
        && !key.startsWith(QLatin1Char(';')) && !key.startsWith(QLatin1Char('#'))
        && !key.startsWith(QLatin1Char('[')) && encodable(key);
}

bool readAll(const QString &file, QByteArray &data)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    data = f.readAll();
    return f.error() == QFileDevice::NoError;
}

QList<ParsedLine> parseAll(const IniText &ini)
{
    QList<ParsedLine> parsed;
    parsed.reserve(ini.lines.size());
    for (const Line &line : ini.lines)
        parsed.append(parse(line));
    return parsed;
}

QString readValue(const QString &file, const QString &section, const QString &key)
{
    if (section.trimmed().isEmpty() || key.trimmed().isEmpty())
        return QString();
    QByteArray data;
    if (!readAll(file, data))
        return QString();
    const IniText ini = split(data);
    const QList<ParsedLine> parsed = parseAll(ini);
    const qsizetype header = findSection(parsed, section.trimmed());
    if (header < 0)
        return QString();
    const qsizetype at = findKey(parsed, header, key.trimmed());
    if (at < 0)
        return QString();
    return decode(ini.lines[at].text.mid(parsed[at].eq + 1));
}

// Gives a last line without an ending the file's ending, so a line can follow.
void terminate(Line &line, const QByteArray &eol)
{
    if (line.eol.isEmpty())
        line.eol = eol;
}

// Writes every byte; a short write or any error is a failure.
bool writeAllBytes(int fd, const QByteArray &bytes)
{
    const char *at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        left -= n;
    }
    return true;
}

// Replaces the file with `bytes`: written to a new file beside it, forced to
// the disk and checked, and only then renamed over the old one. Any failure
// (a full disk included) removes the new file and leaves the old one as it
// was. The file keeps its mode; a new file is readable by its owner only.
bool replaceFile(const QString &file, const QByteArray &bytes)
{
    const QFileInfo info(file);
    const QString targetPath = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    const QByteArray target = QFile::encodeName(targetPath);
    struct stat old = {};
    const bool existed = ::stat(target.constData(), &old) == 0;
    const mode_t mode = existed ? (old.st_mode & 07777) : (S_IRUSR | S_IWUSR);

    // Named as every temporary file of the program is (see data/StagingFiles.h),
    // so that one a killed write leaves behind is removed at the next start.
    const QFileInfo resolved(targetPath);
    QByteArray temp = QFile::encodeName(resolved.absolutePath()) + "/." + QFile::encodeName(resolved.fileName())
                      + ".part-" + QByteArray::number(qint64(::getpid())) + "-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    bool ok = writeAllBytes(fd, bytes) && ::fchmod(fd, mode) == 0;
    // Ownership is kept where the writer may set it (an administrator editing
    // a user's file); otherwise the file belongs to the writer.
    if (ok && existed && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
        (void)!::fchown(fd, old.st_uid, old.st_gid);
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.constData(), target.constData()) == 0;
    if (!ok) {
        ::unlink(temp.constData());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(QFile::encodeName(QFileInfo(targetPath).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool writeValue(const QString &file, const QString &rawSection, const QString &rawKey,
                const QString &value)
{
    const QString section = rawSection.trimmed();
    const QString key = rawKey.trimmed();
    if (!storableSection(section) || !storableKey(key) || hasLineBreak(value) || !encodable(value))
        return false;

    const QFileInfo info(file);
    if (info.isDir())
        return false;
    QByteArray data;
    if (info.exists() && !readAll(file, data))
        return false;

    IniText ini = split(data);
    const QList<ParsedLine> parsed = parseAll(ini);
    const QByteArray valueBytes = value.toUtf8();
    const qsizetype header = findSection(parsed, section);
    if (header >= 0) {
        const qsizetype at = findKey(parsed, header, key);
        if (at >= 0) {
            // Keep everything up to the '=' (the key as spelt in the file) and
            // the line's own ending.
            Line &line = ini.lines[at];
            line.text = line.text.left(parsed[at].eq + 1) + valueBytes;
        } else {
            qsizetype last = header;
            const qsizetype end = sectionEnd(parsed, header);
            for (qsizetype i = header + 1; i < end; ++i) {
                if (parsed[i].kind != Kind::Blank)
                    last = i;
            }
            terminate(ini.lines[last], ini.eol);
            ini.lines.insert(last + 1, Line{key.toUtf8() + '=' + valueBytes, ini.eol});
        }
    } else {
        if (!ini.lines.isEmpty())
            terminate(ini.lines.last(), ini.eol);
        ini.lines.append(Line{'[' + section.toUtf8() + ']', ini.eol});
        ini.lines.append(Line{key.toUtf8() + '=' + valueBytes, ini.eol});
    }

    const QByteArray out = join(ini);
    if (info.exists() && out == data)
        return true;
    return replaceFile(file, out);
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

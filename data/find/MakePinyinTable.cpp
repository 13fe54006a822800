// Build tool: turns the Mandarin readings of the Unicode Han database
// (Unihan_Readings.txt) into a C++ table of toneless syllables for the CJK
// Unified Ideographs of the basic plane, compiled into the data layer.
//
//   MakePinyinTable <Unihan_Readings.txt> <expected Unicode version> <output.cpp>
//
// Readings come from kMandarin, kHanyuPinyin, kTGHZ2013 and kXHC1983; tones
// are dropped and ü is written "v". The first reading of a character is its
// kMandarin one. A different input version than the one the repository names
// stops the build, so the table only changes on purpose.
#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <QTextStream>

#include <cstdio>

namespace {

constexpr char32_t firstCode = 0x3400;
constexpr char32_t endCode = 0xA000;

// "lǚ" -> "lv", "dān" -> "dan", "ê" -> "e"; empty when it is no plain syllable.
QString toneless(const QString &reading)
{
    const QString decomposed = reading.normalized(QString::NormalizationForm_D).toLower();
    QString out;
    for (qsizetype i = 0; i < decomposed.size(); ++i) {
        const QChar c = decomposed.at(i);
        if (c.unicode() == 0x0308) {  // diaeresis: ü
            if (!out.endsWith(QLatin1Char('u')))
                return {};
            out.back() = QLatin1Char('v');
            continue;
        }
        if (c.unicode() >= 0x0300 && c.unicode() <= 0x036F)
            continue;  // tone marks, the circumflex of ê
        if (c < QLatin1Char('a') || c > QLatin1Char('z'))
            return {};
        out += c;
    }
    return out;
}

int fail(const QString &text)
{
    std::fprintf(stderr, "MakePinyinTable: %s\n", qPrintable(text));
    return 1;
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return fail(QStringLiteral("usage: MakePinyinTable <Unihan_Readings.txt> <version> <output.cpp>"));
    QFile input(args[1]);
    if (!input.open(QIODevice::ReadOnly | QIODevice::Text))
        return fail(QStringLiteral("cannot read %1").arg(args[1]));
    const QString expected = args[2].trimmed();

    QMap<char32_t, QStringList> readings;  // code point -> syllables, kMandarin first
    QString version;
    const QRegularExpression versionLine(QStringLiteral("^# Unicode version: (\\S+)"));
    QTextStream in(&input);
    in.setEncoding(QStringConverter::Utf8);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith(QLatin1Char('#'))) {
            const auto m = versionLine.match(line);
            if (m.hasMatch())
                version = m.captured(1);
            continue;
        }
        const QStringList parts = line.split(QLatin1Char('\t'));
        if (parts.size() < 3 || !parts[0].startsWith(QLatin1String("U+")))
            continue;
        const QString &field = parts[1];
        const bool mandarin = field == QLatin1String("kMandarin");
        if (!mandarin && field != QLatin1String("kHanyuPinyin") && field != QLatin1String("kTGHZ2013")
            && field != QLatin1String("kXHC1983"))
            continue;
        bool ok = false;
        const char32_t code = parts[0].mid(2).toUInt(&ok, 16);
        if (!ok || code < firstCode || code >= endCode)
            continue;
        QStringList values;
        for (const QString &entry : parts[2].split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            // "10019.020:tiàn,tián" or "036.140:chán" or "dān"
            const QString list = entry.contains(QLatin1Char(':')) ? entry.section(QLatin1Char(':'), 1) : entry;
            values << list.split(QLatin1Char(','), Qt::SkipEmptyParts);
        }
        QStringList &known = readings[code];
        for (const QString &value : std::as_const(values)) {
            const QString syllable = toneless(value);
            if (syllable.isEmpty())
                return fail(QStringLiteral("unexpected reading \"%1\" of U+%2").arg(value).arg(uint(code), 4, 16));
            if (known.contains(syllable)) {
                if (mandarin)
                    known.move(known.indexOf(syllable), 0);
                continue;
            }
            if (mandarin)
                known.prepend(syllable);
            else
                known.append(syllable);
        }
    }
    if (version != expected)
        return fail(QStringLiteral("%1 is of Unicode version \"%2\"; the repository expects \"%3\" "
                                   "(data/find/unihan-version.txt)")
                        .arg(args[1], version, expected));

    QStringList syllables;
    for (const QStringList &list : std::as_const(readings))
        for (const QString &s : list)
            if (!syllables.contains(s))
                syllables << s;
    std::sort(syllables.begin(), syllables.end());
    QHash<QString, int> idOf;
    for (int i = 0; i < syllables.size(); ++i)
        idOf.insert(syllables[i], i);

    QSaveFile output(args[3]);
    if (!output.open(QIODevice::WriteOnly | QIODevice::Text))
        return fail(QStringLiteral("cannot write %1").arg(args[3]));
    QTextStream out(&output);
    out << "// Generated by MakePinyinTable from Unihan_Readings.txt, Unicode " << version << ". Do not edit.\n"
        << "#include \"data/find/PinyinReadings.h\"\n\nnamespace pinyin::table {\n\n";
    out << "const char syllableText[] =";
    QList<int> textOffsets;
    int offset = 0;
    for (int i = 0; i < syllables.size(); ++i) {
        if (i % 12 == 0)
            out << "\n    \"";
        textOffsets << offset;
        out << syllables[i] << "\\0";
        offset += int(syllables[i].size()) + 1;
        if (i % 12 == 11 || i + 1 == syllables.size())
            out << '"';
    }
    textOffsets << offset;  // the end of the last one
    out << ";\n\nconst unsigned short syllableStart[] = {";
    for (int i = 0; i < textOffsets.size(); ++i)
        out << (i % 16 == 0 ? "\n    " : " ") << textOffsets[i] << ',';
    out << "\n};\n\nconst int syllableCount = " << syllables.size() << ";\n\n";

    // For each code point of [firstCode, endCode): where its readings begin in
    // readingIds; the next entry tells where they end.
    QList<int> starts;
    QList<int> ids;
    for (char32_t code = firstCode; code < endCode; ++code) {
        starts << int(ids.size());
        for (const QString &s : readings.value(code))
            ids << idOf.value(s);
    }
    starts << int(ids.size());
    if (ids.size() > 65535)
        return fail(QStringLiteral("too many readings for the table's 16-bit offsets"));
    out << "const unsigned short readingStart[] = {";
    for (int i = 0; i < starts.size(); ++i)
        out << (i % 16 == 0 ? "\n    " : " ") << starts[i] << ',';
    out << "\n};\n\nconst unsigned short readingIds[] = {";
    for (int i = 0; i < ids.size(); ++i)
        out << (i % 16 == 0 ? "\n    " : " ") << ids[i] << ',';
    out << "\n};\n\nconst char32_t firstCode = 0x" << QString::number(uint(firstCode), 16)
        << ";\nconst char32_t endCode = 0x" << QString::number(uint(endCode), 16) << ";\n\n}\n";
    out.flush();
    if (out.status() != QTextStream::Ok || !output.commit())
        return fail(QStringLiteral("cannot write %1").arg(args[3]));
    return 0;
}

#include "data/Dialect.h"

#include "data/Error.h"
#include "data/SqlText.h"

#include "data/ShortDate.h"

#include <QSet>
#include <QVector>
#include <optional>

namespace dravon {

namespace {

enum class Kind { Space, String, Name, Word, Number, Param, Date, Punct };

struct Token
{
    Kind kind;
    QString text;
    QString lower() const { return text.toLower(); }
};

bool isWordStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_') || c.unicode() > 0x7f;
}

bool isWordPart(QChar c)
{
    return isWordStart(c) || c.isDigit() || c == QLatin1Char('$');
}

// Splits a statement into tokens whose texts, joined, give the statement back.
QVector<Token> tokenize(const QString &sql)
{
    QVector<Token> tokens;
    const int n = sql.size();
    int i = 0;
    auto quotedUntil = [&](int from, QChar close, bool doubled) {
        int j = from + 1;
        while (j < n) {
            if (sql.at(j) == close) {
                if (doubled && j + 1 < n && sql.at(j + 1) == close) {
                    j += 2;
                    continue;
                }
                return j + 1;
            }
            ++j;
        }
        return n;
    };
    while (i < n) {
        const QChar c = sql.at(i);
        const QChar next = i + 1 < n ? sql.at(i + 1) : QChar();
        int end = i + 1;
        Kind kind = Kind::Punct;
        if (c.isSpace()) {
            while (end < n && sql.at(end).isSpace())
                ++end;
            kind = Kind::Space;
        } else if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            end = sql.indexOf(QLatin1Char('\n'), i);
            end = end < 0 ? n : end;
            kind = Kind::Space;
        } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            end = sql.indexOf(QStringLiteral("*/"), i + 2);
            end = end < 0 ? n : end + 2;
            kind = Kind::Space;
        } else if (c == QLatin1Char('\'')) {
            end = quotedUntil(i, c, true);
            kind = Kind::String;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('`')) {
            end = quotedUntil(i, c, true);
            kind = Kind::Name;
        } else if (c == QLatin1Char('[')) {
            end = quotedUntil(i, QLatin1Char(']'), false);
            kind = Kind::Name;
        } else if (c == QLatin1Char('#')) {
            end = sql.indexOf(QLatin1Char('#'), i + 1);
            if (end < 0)
                throw Error(QStringLiteral("日期常量缺少结束的 \"#\": %1").arg(sql.mid(i)));
            ++end;
            kind = Kind::Date;
        } else if (isWordStart(c)) {
            while (end < n && isWordPart(sql.at(end)))
                ++end;
            kind = Kind::Word;
        } else if (c.isDigit() || (c == QLatin1Char('.') && next.isDigit())) {
            while (end < n && (sql.at(end).isLetterOrNumber() || sql.at(end) == QLatin1Char('.')
                               || ((sql.at(end) == QLatin1Char('+') || sql.at(end) == QLatin1Char('-'))
                                   && (sql.at(end - 1) == QLatin1Char('e') || sql.at(end - 1) == QLatin1Char('E')))))
                ++end;
            kind = Kind::Number;
        } else if (c == QLatin1Char('?')) {
            while (end < n && sql.at(end).isDigit())
                ++end;
            kind = Kind::Param;
        } else if ((c == QLatin1Char(':') || c == QLatin1Char('@') || c == QLatin1Char('$')) && isWordStart(next)) {
            while (end < n && isWordPart(sql.at(end)))
                ++end;
            kind = Kind::Param;
        } else {
            static const QStringList pairs = {QStringLiteral("<="), QStringLiteral(">="), QStringLiteral("<>"),
                                              QStringLiteral("!="), QStringLiteral("=="), QStringLiteral("||"),
                                              QStringLiteral("::")};
            if (pairs.contains(sql.mid(i, 2)))
                end = i + 2;
        }
        tokens.append({kind, sql.mid(i, end - i)});
        i = end;
    }
    return tokens;
}

// A statement's tokens without its blanks and comments, for reading its words.
struct SolidTokens
{
    explicit SolidTokens(const QString &sql)
    {
        for (const Token &t : tokenize(sql)) {
            if (t.kind != Kind::Space)
                tokens.append(t);
        }
    }
    int size() const { return int(tokens.size()); }
    bool isWord(int i, const char *lower) const
    {
        return i < size() && tokens[i].kind == Kind::Word && tokens[i].lower() == QLatin1String(lower);
    }
    bool isPunct(int i, const char *text) const
    {
        return i < size() && tokens[i].kind == Kind::Punct && tokens[i].text == QLatin1String(text);
    }

    QVector<Token> tokens;
};

QString quoted(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// The name inside "...", [...] or `...`.
QString unquotedName(const QString &text)
{
    const QChar open = text.at(0);
    const QChar close = open == QLatin1Char('[') ? QLatin1Char(']') : open;
    const bool closed = text.size() > 1 && text.endsWith(close);
    QString inner = text.mid(1, text.size() - (closed ? 2 : 1));
    if (open == QLatin1Char('"'))
        inner.replace(QStringLiteral("\"\""), QStringLiteral("\""));
    else if (open == QLatin1Char('`'))
        inner.replace(QStringLiteral("``"), QStringLiteral("`"));
    return inner;
}

QString dateLiteral(const QString &text)
{
    const QString literal = text.mid(1, text.size() - 2);
    const QDate date = parseShortDate(literal);
    if (!date.isValid())
        throw Error(QStringLiteral("无法识别的日期: #%1# (日期格式应为 %2)").arg(literal, shortDateFormat()));
    return QLatin1Char('\'') + date.toString(Qt::ISODate) + QLatin1Char('\'');
}

// A GLOB pattern as an anchored regular expression with the same matches.
QString globToRegex(const QString &glob)
{
    static const QString special = QStringLiteral(".^$+(){}|\\]");
    QString re = QStringLiteral("^");
    const int n = glob.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = glob.at(i);
        if (c == QLatin1Char('*')) {
            re += QStringLiteral(".*");
        } else if (c == QLatin1Char('?')) {
            re += QLatin1Char('.');
        } else if (c == QLatin1Char('[')) {
            // A set: "[^" negates; a "]" right after the opening is a member.
            int j = i + 1;
            QString set = QStringLiteral("[");
            if (j < n && glob.at(j) == QLatin1Char('^')) {
                set += QLatin1Char('^');
                ++j;
            }
            if (j < n && glob.at(j) == QLatin1Char(']')) {
                set += QStringLiteral("\\]");
                ++j;
            }
            while (j < n && glob.at(j) != QLatin1Char(']')) {
                set += glob.at(j) == QLatin1Char('\\') ? QStringLiteral("\\\\") : QString(glob.at(j));
                ++j;
            }
            if (j >= n) {
                re += QStringLiteral("\\[");  // no closing bracket: a plain "["
            } else {
                re += set + QLatin1Char(']');
                i = j;
            }
        } else if (special.contains(c)) {
            re += QLatin1Char('\\') + c;
        } else {
            re += c;
        }
    }
    re += QLatin1Char('$');
    if (re.startsWith(QStringLiteral("^.*")))
        re.remove(0, 3);
    if (re.endsWith(QStringLiteral(".*$")))
        re.chop(3);
    return re;
}

QString sqlString(const QString &text)
{
    return QuotedStr(text);
}

// Rewrites one statement for PostgreSQL; holds the parameter numbering.
class PostgresRewriter
{
public:
    PostgresRewriter(const QString &sql, const QHash<QString, QString> &names)
        : m_sql(sql), m_tokens(tokenize(sql)), m_names(names)
    {
    }

    QString run()
    {
        QString out = render(0, int(m_tokens.size()));
        if (m_ignoreConflicts) {
            // After the statement, before a closing ";" and trailing blanks.
            int cut = out.size();
            while (cut > 0 && (out.at(cut - 1).isSpace() || out.at(cut - 1) == QLatin1Char(';')))
                --cut;
            out.insert(cut, QStringLiteral(" ON CONFLICT DO NOTHING"));
        }
        return out;
    }

private:
    const QString &m_sql;
    QVector<Token> m_tokens;
    const QHash<QString, QString> &m_names;
    int m_maxParam = 0;
    QHash<QString, int> m_namedParams;
    bool m_ignoreConflicts = false;

    [[noreturn]] void fail(const QString &what) const
    {
        throw Error(QStringLiteral("语句无法在 PostgreSQL 上执行(%1): %2").arg(what, m_sql));
    }

    // The next token after i that is not blank, within [i+1, end); end when none.
    int solid(int i, int end) const
    {
        for (int j = i + 1; j < end; ++j) {
            if (m_tokens[j].kind != Kind::Space)
                return j;
        }
        return end;
    }

    bool isPunct(int i, int end, const char *text) const
    {
        return i < end && m_tokens[i].kind == Kind::Punct && m_tokens[i].text == QLatin1String(text);
    }

    bool isWord(int i, int end, const char *lower) const
    {
        return i < end && m_tokens[i].kind == Kind::Word && m_tokens[i].lower() == QLatin1String(lower);
    }

    // The ")" that closes the "(" at open; end when it is missing.
    int closing(int open, int end) const
    {
        int depth = 0;
        for (int j = open; j < end; ++j) {
            if (m_tokens[j].kind != Kind::Punct)
                continue;
            if (m_tokens[j].text == QLatin1String("("))
                ++depth;
            else if (m_tokens[j].text == QLatin1String(")") && --depth == 0)
                return j;
        }
        return end;
    }

    // Where the operand that starts at `from` ends: the first token at its own
    // depth that closes, separates or begins another clause or comparison.
    int operandEnd(int from, int end) const
    {
        static const QSet<QString> stops = {
            QStringLiteral("and"),   QStringLiteral("or"),      QStringLiteral("not"),    QStringLiteral("escape"),
            QStringLiteral("then"),  QStringLiteral("else"),    QStringLiteral("end"),    QStringLiteral("when"),
            QStringLiteral("order"), QStringLiteral("group"),   QStringLiteral("having"), QStringLiteral("limit"),
            QStringLiteral("offset"), QStringLiteral("union"),  QStringLiteral("except"), QStringLiteral("intersect"),
            QStringLiteral("from"),  QStringLiteral("where"),   QStringLiteral("as"),     QStringLiteral("collate"),
            QStringLiteral("is"),    QStringLiteral("like"),    QStringLiteral("glob"),   QStringLiteral("between"),
            QStringLiteral("in"),    QStringLiteral("on"),      QStringLiteral("join"),   QStringLiteral("asc"),
            QStringLiteral("desc"),  QStringLiteral("returning")};
        static const QSet<QString> stopPunct = {QStringLiteral(")"),  QStringLiteral(","),  QStringLiteral(";"),
                                                QStringLiteral("="),  QStringLiteral("<"),  QStringLiteral(">"),
                                                QStringLiteral("<="), QStringLiteral(">="), QStringLiteral("<>"),
                                                QStringLiteral("!="), QStringLiteral("==")};
        int j = from;
        while (j < end) {
            const Token &t = m_tokens[j];
            if (t.kind == Kind::Punct && t.text == QLatin1String("(")) {
                j = closing(j, end) + 1;
                continue;
            }
            if (t.kind == Kind::Punct && stopPunct.contains(t.text))
                return j;
            if (t.kind == Kind::Word && stops.contains(t.lower()))
                return j;
            ++j;
        }
        return end;
    }

    // The arguments of a call whose "(" is at open and ")" at close, each a token range.
    QVector<std::pair<int, int>> arguments(int open, int close) const
    {
        QVector<std::pair<int, int>> args;
        int start = open + 1;
        int depth = 0;
        for (int j = open + 1; j < close; ++j) {
            if (m_tokens[j].kind != Kind::Punct)
                continue;
            const QString &p = m_tokens[j].text;
            if (p == QLatin1String("("))
                ++depth;
            else if (p == QLatin1String(")"))
                --depth;
            else if (p == QLatin1String(",") && depth == 0) {
                args.append({start, j});
                start = j + 1;
            }
        }
        if (solid(start - 1, close) < close || !args.isEmpty())
            args.append({start, close});
        return args;
    }

    // The one string literal an argument consists of, or no value.
    std::optional<QString> literalOf(std::pair<int, int> arg) const
    {
        const int j = solid(arg.first - 1, arg.second);
        if (j >= arg.second || m_tokens[j].kind != Kind::String || solid(j, arg.second) < arg.second)
            return std::nullopt;
        const QString &t = m_tokens[j].text;
        return t.mid(1, t.size() - 2).replace(QStringLiteral("''"), QStringLiteral("'"));
    }

    QString parameter(const QString &text)
    {
        int index;
        if (text == QLatin1String("?")) {
            index = ++m_maxParam;
        } else if (text.at(0) == QLatin1Char('?')) {
            index = text.mid(1).toInt();
            m_maxParam = qMax(m_maxParam, index);
        } else {
            auto it = m_namedParams.find(text.mid(1));
            if (it == m_namedParams.end())
                it = m_namedParams.insert(text.mid(1), ++m_maxParam);
            index = it.value();
        }
        return QLatin1Char('$') + QString::number(index);
    }

    QString name(const QString &bare) const
    {
        const auto it = m_names.constFind(bare.toLower());
        return quoted(it == m_names.constEnd() ? bare : it.value());
    }

    // A call whose name is at i and "(" at open; out receives its rewriting.
    // False when the function is the same on both engines.
    bool call(int i, int open, int end, QString &out, int &next)
    {
        const QString fn = m_tokens[i].lower();
        const int close = closing(open, end);
        if (close >= end)
            return false;
        const auto args = arguments(open, close);
        auto arg = [&](int k) { return render(args[k].first, args[k].second).trimmed(); };
        next = close + 1;
        if (fn == QLatin1String("ifnull")) {
            out += QStringLiteral("coalesce") + render(open, close + 1);
        } else if (fn == QLatin1String("instr")) {
            out += QStringLiteral("strpos") + render(open, close + 1);
        } else if (fn == QLatin1String("substr") && (args.size() == 2 || args.size() == 3)) {
            // SQLite takes any value as its text (a date column's ISO text).
            out += QStringLiteral("substr(CAST(%1 AS text), %2").arg(arg(0), arg(1));
            if (args.size() == 3)
                out += QStringLiteral(", ") + arg(2);
            out += QLatin1Char(')');
        } else if (fn == QLatin1String("typeof") && args.size() == 1) {
            const QString x = arg(0);
            out += QStringLiteral("(CASE WHEN (%1) IS NULL THEN 'null' "
                                  "WHEN pg_typeof(%1)::text IN ('bigint', 'integer', 'smallint', 'boolean') THEN 'integer' "
                                  "WHEN pg_typeof(%1)::text IN ('double precision', 'real', 'numeric') THEN 'real' "
                                  "WHEN pg_typeof(%1)::text = 'bytea' THEN 'blob' ELSE 'text' END)")
                       .arg(x);
        } else if (fn == QLatin1String("group_concat") && (args.size() == 1 || args.size() == 2)) {
            QString value = arg(0);
            QString distinct;
            if (value.startsWith(QStringLiteral("distinct "), Qt::CaseInsensitive)) {
                distinct = QStringLiteral("DISTINCT ");
                value = value.mid(9).trimmed();
            }
            const QString separator = args.size() == 2 ? arg(1) : QStringLiteral("','");
            out += QStringLiteral("string_agg(%1CAST(%2 AS text), %3)").arg(distinct, value, separator);
        } else if ((fn == QLatin1String("date") || fn == QLatin1String("datetime")) && !args.isEmpty()) {
            const QString format = fn == QLatin1String("date") ? QStringLiteral("YYYY-MM-DD")
                                                               : QStringLiteral("YYYY-MM-DD HH24:MI:SS");
            // The base first: anonymous parameters are numbered in the order written.
            const auto first = literalOf(args[0]);
            const bool now = first && first->compare(QLatin1String("now"), Qt::CaseInsensitive) == 0;
            const QString given = now ? QString() : QStringLiteral("CAST(%1 AS timestamp)").arg(arg(0));
            bool local = false;
            QStringList shifts;
            for (int k = 1; k < args.size(); ++k) {
                const auto modifier = literalOf(args[k]);
                if (modifier && modifier->compare(QLatin1String("localtime"), Qt::CaseInsensitive) == 0)
                    local = true;
                else if (!(modifier && modifier->compare(QLatin1String("utc"), Qt::CaseInsensitive) == 0))
                    shifts << QStringLiteral(" + CAST(%1 AS interval)").arg(arg(k));
            }
            const QString base = !now ? given
                                 : local ? QStringLiteral("LOCALTIMESTAMP")
                                         : QStringLiteral("(CURRENT_TIMESTAMP AT TIME ZONE 'UTC')");
            out += QStringLiteral("to_char(%1%2, '%3')").arg(base, shifts.join(QString()), format);
        } else {
            return false;
        }
        return true;
    }

    QString render(int from, int end)
    {
        QString out;
        int i = from;
        while (i < end) {
            const Token &t = m_tokens[i];
            switch (t.kind) {
            case Kind::Space:
            case Kind::Number:
            case Kind::String:
                out += t.text;
                ++i;
                continue;
            case Kind::Date:
                out += dateLiteral(t.text);
                ++i;
                continue;
            case Kind::Param:
                out += parameter(t.text);
                ++i;
                continue;
            case Kind::Name:
                out += name(unquotedName(t.text));
                ++i;
                continue;
            case Kind::Punct:
                out += t.text == QLatin1String("==") ? QStringLiteral("=") : t.text;
                ++i;
                continue;
            case Kind::Word:
                break;
            }
            const QString w = t.lower();
            const int after = solid(i, end);
            if (isPunct(after, end, "(")) {
                int next = i + 1;
                if (call(i, after, end, out, next)) {
                    i = next;
                    continue;
                }
                // A function of the same name on both engines, or a table
                // followed by its column list ("INSERT INTO Score (...)").
                out += m_names.contains(w) ? name(t.text) : t.text;
                ++i;
                continue;
            }
            if (w == QLatin1String("insert") && isWord(after, end, "or")) {
                const int how = solid(after, end);
                if (isWord(how, end, "ignore")) {
                    m_ignoreConflicts = true;
                    out += t.text;
                    i = how + 1;
                    continue;
                }
                fail(QStringLiteral("INSERT OR %1").arg(how < end ? m_tokens[how].text.toUpper() : QString()));
            }
            if (w == QLatin1String("replace") && isWord(after, end, "into"))
                fail(QStringLiteral("REPLACE INTO"));
            if (w == QLatin1String("like")) {
                const int patternEnd = operandEnd(after, end);
                out += QStringLiteral("ILIKE") + render(i + 1, patternEnd);
                if (!isWord(patternEnd, end, "escape")) {
                    // Blanks before the stop stay after the added clause.
                    int cut = out.size();
                    while (cut > 0 && out.at(cut - 1).isSpace())
                        --cut;
                    out.insert(cut, QStringLiteral(" ESCAPE ''"));
                }
                i = patternEnd;
                continue;
            }
            if (w == QLatin1String("glob") || (w == QLatin1String("not") && isWord(after, end, "glob"))) {
                const int op = w == QLatin1String("glob") ? i : after;
                const int pattern = solid(op, end);
                if (pattern >= end || m_tokens[pattern].kind != Kind::String
                    || operandEnd(pattern, end) != solid(pattern, end))
                    fail(QStringLiteral("GLOB 的模式不是文字常量"));
                const QString &p = m_tokens[pattern].text;
                const QString glob = p.mid(1, p.size() - 2).replace(QStringLiteral("''"), QStringLiteral("'"));
                out += (w == QLatin1String("not") ? QStringLiteral("!~ ") : QStringLiteral("~ "))
                       + sqlString(globToRegex(glob));
                i = pattern + 1;
                continue;
            }
            if (w == QLatin1String("rowid") || w == QLatin1String("_rowid_") || w == QLatin1String("oid")) {
                out += quoted(QStringLiteral("Id"));
            } else if (w == QLatin1String("real")) {
                out += QStringLiteral("double precision");
            } else if (w == QLatin1String("integer")) {
                out += QStringLiteral("bigint");
            } else if (m_names.contains(w)) {
                out += name(t.text);
            } else {
                out += t.text;
            }
            ++i;
        }
        return out;
    }
};

}

QString Dialect::quoteName(const QString &name) const
{
    return quoted(name);
}

QString SqliteDialect::rewrite(const QString &sql) const
{
    return translateSql(sql);
}

PostgresDialect::PostgresDialect(const QStringList &names)
{
    setNames(names);
}

void PostgresDialect::setNames(const QStringList &names)
{
    m_names.clear();
    for (const QString &n : names) {
        const QString key = n.toLower();
        if (!m_names.contains(key))
            m_names.insert(key, n);
    }
}

QStringList PostgresDialect::unknownTables(const QString &sql) const
{
    const SolidTokens solid(sql);
    const QVector<Token> &tokens = solid.tokens;
    const int n = solid.size();
    auto isWordAt = [&](int i, const char *lower) { return solid.isWord(i, lower); };
    auto isPunctAt = [&](int i, const char *text) { return solid.isPunct(i, text); };
    // Words that may follow FROM, UPDATE ... without naming a table, or
    // follow a table without being its alias.
    static const QSet<QString> keywords = {
        QStringLiteral("null"),   QStringLiteral("true"),    QStringLiteral("false"),  QStringLiteral("select"),
        QStringLiteral("lateral"), QStringLiteral("only"),   QStringLiteral("set"),    QStringLiteral("of"),
        QStringLiteral("nowait"), QStringLiteral("skip"),    QStringLiteral("where"),  QStringLiteral("group"),
        QStringLiteral("order"),  QStringLiteral("having"),  QStringLiteral("limit"),  QStringLiteral("offset"),
        QStringLiteral("union"),  QStringLiteral("except"),  QStringLiteral("intersect"), QStringLiteral("join"),
        QStringLiteral("inner"),  QStringLiteral("left"),    QStringLiteral("right"),  QStringLiteral("full"),
        QStringLiteral("cross"),  QStringLiteral("natural"), QStringLiteral("on"),     QStringLiteral("using"),
        QStringLiteral("values"), QStringLiteral("default"), QStringLiteral("returning"), QStringLiteral("window")};
    // A name at i, unquoted; empty for anything else.
    auto nameAt = [&](int i) {
        if (i >= n)
            return QString();
        if (tokens[i].kind == Kind::Name)
            return unquotedName(tokens[i].text);
        return tokens[i].kind == Kind::Word && !keywords.contains(tokens[i].lower()) ? tokens[i].text : QString();
    };
    QSet<QString> ownParts;
    for (int i = 0; i + 2 < n; ++i) {
        if (!nameAt(i).isEmpty() && isWordAt(i + 1, "as") && isPunctAt(i + 2, "("))
            ownParts.insert(nameAt(i).toLower());
    }
    QStringList unknown;
    for (int i = 0; i < n; ++i) {
        const bool from = isWordAt(i, "from");
        const bool join = isWordAt(i, "join");
        if (!from && !join && !isWordAt(i, "into") && !isWordAt(i, "update"))
            continue;
        // "FROM a, b AS x, c y": each table of the list.
        for (int j = i + 1;;) {
            const QString table = nameAt(j);
            // Not a table of the database's own: a subquery, a function's
            // rows, a name in another schema.
            if (table.isEmpty() || isPunctAt(j + 1, ".") || ((from || join) && isPunctAt(j + 1, "(")))
                break;
            const QString key = table.toLower();
            if (!m_names.contains(key) && !ownParts.contains(key) && !unknown.contains(table))
                unknown << table;
            if (!from)
                break;
            int k = j + 1;
            if (isWordAt(k, "as"))
                k += 2;
            else if (!nameAt(k).isEmpty())
                ++k;
            if (!isPunctAt(k, ","))
                break;
            j = k + 1;
        }
    }
    return unknown;
}

QString PostgresDialect::rewrite(const QString &sql) const
{
    return PostgresRewriter(sql, m_names).run();
}

QString PostgresDialect::quoteName(const QString &name) const
{
    const auto it = m_names.constFind(name.toLower());
    return quoted(it == m_names.constEnd() ? name : it.value());
}

QStringList namesDeclaredIn(const QString &schemaSql)
{
    const SolidTokens solid(schemaSql);
    const QVector<Token> &tokens = solid.tokens;
    QStringList names;
    auto add = [&](const Token &t) {
        const QString n = t.kind == Kind::Name ? unquotedName(t.text) : t.text;
        if (!names.contains(n))
            names << n;
    };
    auto isWordAt = [&](int i, const char *lower) { return solid.isWord(i, lower); };
    static const QSet<QString> notColumns = {QStringLiteral("constraint"), QStringLiteral("primary"),
                                             QStringLiteral("unique"), QStringLiteral("check"),
                                             QStringLiteral("foreign"), QStringLiteral("exclude")};
    for (int i = 0; i < tokens.size(); ++i) {
        if (!isWordAt(i, "create"))
            continue;
        int j = i + 1;
        if (isWordAt(j, "temp") || isWordAt(j, "temporary") || isWordAt(j, "unlogged"))
            ++j;
        if (!isWordAt(j, "table"))
            continue;
        ++j;
        if (isWordAt(j, "if"))
            j += 3;  // IF NOT EXISTS
        if (j >= tokens.size())
            break;
        add(tokens[j]);
        ++j;
        if (j >= tokens.size() || tokens[j].text != QLatin1String("("))
            continue;
        int depth = 0;
        bool itemStart = true;
        for (; j < tokens.size(); ++j) {
            const Token &t = tokens[j];
            if (t.kind == Kind::Punct && t.text == QLatin1String("(")) {
                ++depth;
                itemStart = depth == 1;
                continue;
            }
            if (t.kind == Kind::Punct && t.text == QLatin1String(")")) {
                if (--depth == 0)
                    break;
                continue;
            }
            if (depth == 1 && t.kind == Kind::Punct && t.text == QLatin1String(",")) {
                itemStart = true;
                continue;
            }
            if (itemStart && depth == 1 && (t.kind == Kind::Word || t.kind == Kind::Name)
                && !(t.kind == Kind::Word && notColumns.contains(t.lower())))
                add(t);
            itemStart = false;
        }
        i = j;
    }
    return names;
}

}

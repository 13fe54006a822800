#include "data/import/XlsReader.h"

#include "data/import/XlsBook.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <cstdio>

namespace importing {

namespace {

constexpr int answerMs = 15000;  // a helper silent this long is ended

}

QByteArray escapeHelperText(const QString &text)
{
    QByteArray out;
    const QByteArray utf8 = text.toUtf8();
    out.reserve(utf8.size());
    for (const char c : utf8) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString unescapeHelperText(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        const char e = text[++i];
        out += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
    }
    return QString::fromUtf8(out);
}

int runXlsHelper(const QStringList &arguments)
{
    QFile out;
    out.open(stdout, QIODevice::WriteOnly);
    auto line = [&out](const QByteArray &bytes) { out.write(bytes + '\n'); };
    try {
        if (arguments.size() == 2 && arguments[0] == QLatin1String("--sheets")) {
            XlsBook book(arguments[1], arguments[1]);
            for (const SheetInfo &s : book.sheets())
                line("S\t" + QByteArray(s.hidden ? "1" : "0") + '\t' + escapeHelperText(s.name));
            return 0;
        }
        if (arguments.size() == 3 && arguments[0] == QLatin1String("--rows")) {
            XlsBook book(arguments[1], arguments[1]);
            book.selectSheet(arguments[2].toInt());
            line("N\t" + QByteArray::number(book.rowCount()));
            SourceRow row;
            QByteArray text;
            while (book.next(row)) {
                text = "R\t" + QByteArray::number(row.line);
                for (const QString &cell : std::as_const(row.cells))
                    text += '\t' + escapeHelperText(cell);
                line(text);
            }
            return 0;
        }
    } catch (const ImportFailure &e) {
        // The reason without the helper's own naming of the file.
        QString reason = e.text();
        const qsizetype named = reason.indexOf(QStringLiteral("\":"));
        if (named >= 0)
            reason = reason.mid(named + 2);
        if (reason.endsWith(QStringLiteral("。")))
            reason.chop(1);
        line("E\t" + escapeHelperText(reason));
        return 2;
    }
    line("E\tusage: --sheets <file> | --rows <file> <sheet>");
    return 2;
}

QString XlsReader::helperPath()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("VeltranaXls"));
}

XlsReader::XlsReader(const QString &path, const QString &displayName) : TableReader(displayName), m_path(path)
{
    std::unique_ptr<QProcess> p = start({QStringLiteral("--sheets"), path});
    if (!p->waitForFinished(answerMs)) {
        p->kill();
        p->waitForFinished();
        fail(QStringLiteral("读取工作簿超时,工作簿可能已损坏"));
    }
    if (p->exitStatus() != QProcess::NormalExit || p->exitCode() != 0)
        failHelper(*p);
    for (const QByteArray &text : p->readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = text.split('\t');
        if (parts.size() >= 3 && parts[0] == "S")
            m_sheets.append({unescapeHelperText(parts[2]), parts[1] == "1"});
    }
    if (m_sheets.isEmpty())
        fail(QStringLiteral("工作簿中没有工作表"));
}

XlsReader::~XlsReader()
{
    if (m_rows) {
        m_rows->kill();
        m_rows->waitForFinished();
    }
}

std::unique_ptr<QProcess> XlsReader::start(const QStringList &arguments)
{
    auto p = std::make_unique<QProcess>();
    p->setProcessChannelMode(QProcess::SeparateChannels);
    p->start(helperPath(), arguments, QIODevice::ReadOnly);
    if (!p->waitForStarted(answerMs))
        fail(QStringLiteral("无法启动读取 .xls 工作簿的程序 %1(%2)")
                 .arg(QDir::toNativeSeparators(helperPath()), p->errorString()));
    return p;
}

void XlsReader::failHelper(QProcess &process)
{
    const QByteArray output = process.readAllStandardOutput();
    for (const QByteArray &text : output.split('\n'))
        if (text.startsWith("E\t"))
            fail(unescapeHelperText(QByteArrayView(text).sliced(2)));
    fail(QStringLiteral("工作簿已损坏(读取时出错)"));
}

void XlsReader::selectSheet(int index)
{
    if (index < 0 || index >= m_sheets.size())
        fail(QStringLiteral("没有第 %1 个工作表").arg(index + 1));
    if (m_rows) {
        m_rows->kill();
        m_rows->waitForFinished();
    }
    m_rows = start({QStringLiteral("--rows"), m_path, QString::number(index)});
    m_rowCount = 0;
    m_lastLine = 0;
    m_done = false;
}

double XlsReader::progress() const
{
    if (m_done)
        return 1.0;
    return m_rowCount > 0 ? qMin(1.0, double(m_lastLine) / double(m_rowCount)) : 0.0;
}

bool XlsReader::next(SourceRow &row)
{
    if (m_done || !m_rows)
        return false;
    for (;;) {
        while (!m_rows->canReadLine()) {
            if (m_rows->state() == QProcess::NotRunning) {
                if (m_rows->bytesAvailable() > 0)
                    break;  // a last line without its line break
                if (m_rows->exitStatus() != QProcess::NormalExit || m_rows->exitCode() != 0)
                    failHelper(*m_rows);
                m_done = true;
                return false;
            }
            if (!m_rows->waitForReadyRead(answerMs) && m_rows->state() != QProcess::NotRunning) {
                m_rows->kill();
                fail(QStringLiteral("读取工作簿超时,工作簿可能已损坏"));
            }
        }
        QByteArray text = m_rows->readLine();
        if (text.endsWith('\n'))
            text.chop(1);
        const QList<QByteArray> parts = text.split('\t');
        if (parts.value(0) == "N") {
            m_rowCount = parts.value(1).toLongLong();
            continue;
        }
        if (parts.value(0) == "E")
            fail(unescapeHelperText(parts.value(1)));
        if (parts.value(0) != "R")
            continue;
        row.line = parts.value(1).toLongLong();
        row.cells.clear();
        for (qsizetype i = 2; i < parts.size(); ++i)
            row.cells << unescapeHelperText(parts[i]);
        m_lastLine = row.line;
        return true;
    }
}

}

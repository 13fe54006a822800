#pragma once
// .xls workbooks as the program reads them: FreeXL runs in a helper process
// (VeltranaXls, beside the executable) that hands the rows over a pipe, so a
// crafted file that makes the library read past its buffers ends that
// process, not the program, and is reported as a broken workbook; a helper
// that stops answering is ended after a few seconds.
#include "data/import/TableReader.h"

#include <memory>

class QProcess;

namespace importing {

class XlsReader : public TableReader
{
public:
    XlsReader(const QString &path, const QString &displayName);
    ~XlsReader() override;

    FileKind kind() const override { return FileKind::Xls; }
    QList<SheetInfo> sheets() const override { return m_sheets; }
    void selectSheet(int index) override;
    bool next(SourceRow &row) override;
    double progress() const override;

    // The helper's path: beside the running executable.
    static QString helperPath();

private:
    std::unique_ptr<QProcess> start(const QStringList &arguments);
    [[noreturn]] void failHelper(QProcess &process);
    QString m_path;
    QList<SheetInfo> m_sheets;
    std::unique_ptr<QProcess> m_rows;
    qint64 m_rowCount = 0;
    qint64 m_lastLine = 0;
    bool m_done = true;
};

// The helper's lines: "S\t<hidden>\t<name>", "N\t<rows>", "R\t<line>\t<cell>…",
// "E\t<reason>"; tabs, line breaks and backslashes in texts are escaped.
QByteArray escapeHelperText(const QString &text);
QString unescapeHelperText(QByteArrayView text);
// The helper's entry: "--sheets <file>" or "--rows <file> <sheet>".
int runXlsHelper(const QStringList &arguments);

}

#pragma once
// .xls workbooks (Excel 97 to 2003), read with FreeXL in this process. The
// library reads the whole workbook when it opens it; a sheet of that format
// holds at most 65,536 rows, so memory stays bounded. Password-protected
// workbooks are refused with the reason. The program reads .xls files
// through XlsReader, which runs this in a helper process: FreeXL can be
// made to read past its buffers by a crafted file.
#include "data/import/TableReader.h"

#include <memory>

namespace importing {

class XlsBook : public TableReader
{
public:
    XlsBook(const QString &path, const QString &displayName);
    ~XlsBook() override;

    FileKind kind() const override { return FileKind::Xls; }
    QList<SheetInfo> sheets() const override { return m_sheets; }
    void selectSheet(int index) override;
    bool next(SourceRow &row) override;
    double progress() const override;
    unsigned int rowCount() const { return m_rows; }

    // Whether a compound file holds an encrypted Office package (what a
    // password-protected .xlsx is).
    static bool isEncryptedPackage(const QString &path);

private:
    // Closed however the reader ends, also when its constructor fails.
    struct Closer
    {
        void operator()(const void *handle) const;
    };
    std::unique_ptr<const void, Closer> m_owner;
    const void *m_handle = nullptr;
    QList<SheetInfo> m_sheets;
    unsigned int m_rows = 0;
    unsigned short m_columns = 0;
    unsigned int m_row = 0;
    bool m_selected = false;
};

}

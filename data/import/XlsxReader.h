#pragma once
// .xlsx workbooks, read with libzip; the small parts (workbook,
// relationships, styles) with Qt's XML reader, the worksheets and the shared
// strings streamed through libxml2's SAX parser (the quickest of the XML
// readers Debian packages on a sheet's many small elements). Shared and inline strings, numbers, booleans, dates by the cell's number format
// (1900 and 1904 date systems), cached values of formulas, sparse rows. A
// workbook whose parts unpack to more than 1 GB, an encrypted entry, or a
// broken part is refused with the reason.
#include "data/import/TableReader.h"

#include "data/import/XmlStream.h"

#include <QByteArray>
#include <QVector>
#include <exception>

struct zip;
struct zip_file;

namespace importing {

class ByteReadAhead;

class XlsxReader : public TableReader
{
public:
    XlsxReader(const QString &path, const QString &displayName);
    // A workbook held in memory (the data must outlive the reader's use of it: it is copied).
    XlsxReader(const QByteArray &data, const QString &displayName);
    ~XlsxReader() override;

    FileKind kind() const override { return FileKind::Xlsx; }
    QList<SheetInfo> sheets() const override;
    void selectSheet(int index) override;
    bool next(SourceRow &row) override;
    double progress() const override;

private:
    struct Sheet
    {
        SheetInfo info;
        QString part;
    };
    struct CellStyle
    {
        bool date = false;
        int zeroPad = 0;  // a format of only zeros ("000000") shows this many digits
    };

    enum class CellType { Number, Shared, Inline, Formula, Error, Boolean, Date };
    class SheetRows;
    class SharedStrings;

    void readPackage();
    qint64 openPart(const QString &part, bool required);  // its unpacked size; -1 when missing
    qint64 readChunk(char *buffer, qint64 size);
    void closeStream();
    QByteArray readPart(const QString &part, qint64 limit, bool required);
    // Streams a part through the handler from its start.
    void openStream(const QString &part, XmlStream::Handler &handler);
    // Parses on until the handler pauses (true) or the part ends (false).
    bool runStream();
    [[noreturn]] void corrupt(const QString &part, const QString &detail = {}) const;
    void readWorkbook();
    void readStyles(const QString &part);
    void readSharedStrings(const QString &part);
    QString cellValue(CellType type, const QByteArray &raw, int style) const;

    // Closed however the reader ends, also when its constructor fails.
    struct ZipCloser
    {
        void operator()(zip *archive) const;
    };
    struct FileCloser
    {
        void operator()(zip_file *file) const;
    };
    QByteArray m_data;
    std::unique_ptr<zip, ZipCloser> m_zip;
    QString m_streamPart;  // read by the read-ahead thread: outlives it
    std::unique_ptr<zip_file, FileCloser> m_file;
    std::unique_ptr<ByteReadAhead> m_readAhead;  // unpacks m_file, so it goes first
    qint64 m_streamSize = 0;
    qint64 m_streamRead = 0;
    std::unique_ptr<XmlStream> m_stream;
    std::unique_ptr<SheetRows> m_rows;
    QList<Sheet> m_sheets;
    QStringList m_shared;
    QVector<CellStyle> m_styles;
    bool m_date1904 = false;
    bool m_sheetDone = true;
    std::exception_ptr m_failure;  // comes after the rows read before it
};

}

#pragma once
// CSV and text files: UTF-8 with or without a byte-order mark, UTF-16 with
// one, or else GB18030 (what Chinese spreadsheets write), decided by a strict
// UTF-8 check of the whole file; comma, tab or semicolon, whichever the first
// lines use most; RFC 4180 quotes, with line breaks inside quoted cells.
#include "data/import/TableReader.h"

#include <QIODevice>
#include <QStringDecoder>

namespace importing {

class CsvReader : public TableReader
{
public:
    // Reads the device, which it takes; delimiter 0 means: find it out.
    CsvReader(std::unique_ptr<QIODevice> device, const QString &displayName, FileKind kind,
              char16_t delimiter = 0);

    FileKind kind() const override { return m_kind; }
    QList<SheetInfo> sheets() const override { return {SheetInfo{}}; }
    void selectSheet(int index) override;
    bool next(SourceRow &row) override;
    double progress() const override;

    char16_t delimiter() const { return m_delimiter; }
    QString encodingName() const;

private:
    enum class Encoding { Utf8, Utf16LE, Utf16BE, Gb18030 };
    void detectEncoding();
    char16_t detectDelimiter();
    void rewind();
    bool fill();  // decodes the next chunk into the buffer; false at the end

    std::unique_ptr<QIODevice> m_device;
    FileKind m_kind;
    Encoding m_encoding = Encoding::Utf8;
    qint64 m_bomSize = 0;
    char16_t m_delimiter = 0;
    QStringDecoder m_decoder;
    QString m_buffer;
    qsizetype m_pos = 0;
    bool m_atEnd = false;
    qint64 m_line = 0;
};

}

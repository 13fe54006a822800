#include "data/import/TableReader.h"

#include "data/import/CsvReader.h"
#include "data/import/XlsBook.h"
#include "data/import/XlsReader.h"
#include "data/import/XlsxReader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace importing {

namespace {

enum class Content { Zip, Compound, Text, Binary, Empty };

// What the first bytes say the file is.
Content sniff(QFile &file)
{
    const QByteArray head = file.peek(64 * 1024);
    if (head.isEmpty())
        return Content::Empty;
    if (head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06"))
        return Content::Zip;
    if (head.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
        return Content::Compound;
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF"))
        return Content::Text;
    // Text has no NUL bytes and few control characters.
    int controls = 0;
    for (const char c : head) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 0)
            return Content::Binary;
        if (b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f')
            ++controls;
    }
    return controls * 100 > head.size() ? Content::Binary : Content::Text;
}

QString contentName(Content content)
{
    switch (content) {
    case Content::Zip:
        return QStringLiteral("一个压缩包(可能是 .xlsx 工作簿)");
    case Content::Compound:
        return QStringLiteral("一个 .xls 工作簿或加密的工作簿");
    case Content::Text:
        return QStringLiteral("一个文本文件");
    case Content::Binary:
        return QStringLiteral("一个二进制文件");
    case Content::Empty:
        return QStringLiteral("一个空文件");
    }
    return {};
}

}

void TableReader::fail(const QString &reason) const
{
    throw ImportFailure(failureText(m_displayName, reason));
}

QString failureText(const QString &displayName, const QString &reason)
{
    return QStringLiteral("无法读取 \"%1\":%2。").arg(displayName, reason);
}

std::unique_ptr<TableReader> openTableFile(const QString &path)
{
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (!info.exists())
        throw ImportFailure(failureText(shown, QStringLiteral("文件不存在")));
    if (info.isDir())
        throw ImportFailure(failureText(shown, QStringLiteral("这是一个文件夹")));
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        throw ImportFailure(failureText(shown, QStringLiteral("无法打开文件(%1)").arg(file->errorString())));
    const QString suffix = info.suffix().toLower();
    const Content content = sniff(*file);
    if (content == Content::Empty)
        throw ImportFailure(failureText(shown, QStringLiteral("文件是空的")));
    auto mismatch = [&](const QString &expected) {
        return ImportFailure(failureText(
            shown, QStringLiteral("文件不是%1,而是%2").arg(expected, contentName(content))));
    };
    if (suffix == QLatin1String("csv") || suffix == QLatin1String("txt")) {
        if (content != Content::Text)
            throw mismatch(QStringLiteral("文本文件"));
        return std::make_unique<CsvReader>(std::move(file), shown,
                                           FileKind::Csv);
    }
    if (suffix == QLatin1String("xlsx")) {
        if (content == Content::Compound)
            file->close();
        if (content == Content::Compound && XlsBook::isEncryptedPackage(path))
            throw ImportFailure(failureText(shown, QStringLiteral("工作簿已加密(设有打开密码),请在 Excel 中取消密码后另存再导入")));
        if (content != Content::Zip)
            throw mismatch(QStringLiteral(" .xlsx 工作簿"));
        file.reset();
        return std::make_unique<XlsxReader>(path, shown);
    }
    if (suffix == QLatin1String("xls")) {
        if (content != Content::Compound)
            throw mismatch(QStringLiteral(" .xls 工作簿"));
        file.reset();
        return std::make_unique<XlsReader>(path, shown);
    }
    throw ImportFailure(failureText(shown, QStringLiteral("只能导入 .xlsx、.xls、.csv 和 .txt 文件")));
}

std::unique_ptr<TableReader> readClipboardText(const QString &text)
{
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(text.toUtf8());
    buffer->open(QIODevice::ReadOnly);
    return std::make_unique<CsvReader>(std::move(buffer), QStringLiteral("剪贴板"), FileKind::Clipboard, u'\t');
}

}

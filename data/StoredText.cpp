#include "data/StoredText.h"

#include <QStringDecoder>

namespace dravon {

namespace {

const QByteArray utf8Bom("\xEF\xBB\xBF");

// The text shown for bytes that are not UTF-8: GB18030 where they are valid
// in it, else UTF-8 with each stray byte shown as a replacement character.
QString shownText(const QByteArray &bytes)
{
    QStringDecoder gb18030("GB18030", QStringConverter::Flag::Stateless);
    if (gb18030.isValid()) {
        const QString text = gb18030(bytes);
        if (!gb18030.hasError())
            return text;
    }
    return QString::fromUtf8(bytes);
}

void registerConversion()
{
    static const bool registered = QMetaType::registerConverter<ForeignText, QString>(
        [](const ForeignText &text) { return text.shown; });
    Q_UNUSED(registered);
}

}

QVariant storedTextValue(const char *bytes, qsizetype size)
{
    // Plain UTF-8 decodes without a replacement character; only a text that
    // holds one, or starts with a byte-order mark (which decoding drops), is
    // compared with its bytes.
    const QString text = QString::fromUtf8(bytes, size);
    const QByteArrayView raw(bytes, size);
    if (!text.contains(QChar::ReplacementCharacter) && !raw.startsWith(utf8Bom))
        return text;
    if (!raw.startsWith(utf8Bom) && text.toUtf8() == raw)
        return text;
    if (raw.startsWith(utf8Bom)) {
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
        const QString withMark = utf8(raw);
        if (!utf8.hasError())
            return withMark;
    }
    registerConversion();
    const QByteArray stored(bytes, size);
    return QVariant::fromValue(ForeignText{stored, shownText(stored)});
}

const QByteArray *foreignBytes(const QVariant &value)
{
    if (value.metaType() != QMetaType::fromType<ForeignText>())
        return nullptr;
    return &static_cast<const ForeignText *>(value.constData())->bytes;
}

}

#pragma once
// Text as the database stores it. The program writes UTF-8, but another tool
// may have written other bytes into a text column (GBK from an older Chinese
// program). Such a value shows decoded as GB18030 where its bytes are valid
// GB18030, and keeps the bytes it was read with, so that a row can be
// compared with what is stored byte for byte and still be saved or deleted.
#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVariant>

namespace dravon {

// A stored text whose bytes are not UTF-8: the bytes, and the text shown for
// them. It converts to that text wherever a QString is asked of the value.
struct ForeignText
{
    QByteArray bytes;
    QString shown;
    bool operator==(const ForeignText &other) const { return bytes == other.bytes; }
};

// The value of a text column's bytes: a QString when they are UTF-8, else a
// ForeignText.
QVariant storedTextValue(const char *bytes, qsizetype size);

// The stored bytes of a value read as a ForeignText; nullptr for any other value.
const QByteArray *foreignBytes(const QVariant &value);

}

Q_DECLARE_METATYPE(dravon::ForeignText)

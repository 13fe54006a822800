#pragma once
// The one error type of the data layer: a clear text for the user.
#include <QString>
#include <stdexcept>

namespace dravon {

class Error : public std::runtime_error
{
public:
    explicit Error(const QString &text) : std::runtime_error(text.toStdString()), m_text(text) {}
    QString text() const { return m_text; }

private:
    QString m_text;
};

// What the clerk is told when another program's lock kept a write (or a
// read) from going on within the wait allowed, on either engine; detail is
// the engine's own words. Nothing was written, and it may be tried again.
inline QString lockedText(const QString &detail)
{
    return QStringLiteral("数据库正被其他操作占用(已锁定),请稍后再试。\n%1").arg(detail);
}

}

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

}

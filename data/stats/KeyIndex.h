#pragma once
// Dense numbers for the identifier texts met while scanning many rows
// (class, subject and student numbers), looked up by the engine's own bytes
// without making a Qt text per row.
#include <QString>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace stats {

class KeyIndex
{
public:
    // The number of a text; `null` stands for an empty column (its own number).
    int index(std::string_view bytes, bool null)
    {
        if (null) {
            if (m_null < 0) {
                m_null = int(m_texts.size());
                m_texts.emplace_back();
            }
            return m_null;
        }
        const auto found = m_map.find(bytes);
        if (found != m_map.end())
            return found->second;
        const int i = int(m_texts.size());
        m_texts.emplace_back(bytes);
        m_map.emplace(std::string(bytes), i);
        return i;
    }
    int index(const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        return index(std::string_view(utf8.constData(), std::size_t(utf8.size())), text.isNull());
    }
    // -1 when the bytes were never met.
    int find(std::string_view bytes) const
    {
        const auto found = m_map.find(bytes);
        return found == m_map.end() ? -1 : found->second;
    }
    // -1 when the text was never met.
    int find(const QString &text) const
    {
        if (text.isNull())
            return m_null;
        const QByteArray utf8 = text.toUtf8();
        const auto found = m_map.find(std::string_view(utf8.constData(), std::size_t(utf8.size())));
        return found == m_map.end() ? -1 : found->second;
    }
    int size() const { return int(m_texts.size()); }
    bool isNull(int i) const { return i == m_null; }
    // The text of a number; a null text for the empty column.
    QString text(int i) const
    {
        if (i == m_null)
            return {};
        const std::string &t = m_texts[std::size_t(i)];
        return QString::fromUtf8(t.data(), qsizetype(t.size()));
    }

    // The number of the bytes, remembering the last text asked for: in a
    // scan, neighbouring rows mostly name the same student, class or term.
    int indexAfterLast(std::string_view bytes, bool null)
    {
        if (m_last >= 0 && m_lastNull == null && bytes == m_lastBytes)
            return m_last;
        m_lastBytes.assign(bytes);
        m_lastNull = null;
        m_last = index(bytes, null);
        return m_last;
    }

private:
    std::string m_lastBytes;
    bool m_lastNull = false;
    int m_last = -1;

    struct Hash
    {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
    };
    std::unordered_map<std::string, int, Hash, std::equal_to<>> m_map;
    std::vector<std::string> m_texts;
    int m_null = -1;
};

}

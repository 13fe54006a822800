#include "data/find/TextMatch.h"

#include "data/find/PinyinReadings.h"

#include <QChar>

#include <algorithm>
#include <bit>

namespace findtext {

namespace {

// A query character that matches nothing (a lone surrogate in the query).
constexpr char32_t noMatch = 0xFFFFFFFF;
constexpr char32_t replacement = 0xFFFD;
// The bit-parallel matcher keeps one bit per query position and one for "done".
constexpr std::size_t automatonLimit = 63;

bool isLetter(char32_t c)
{
    return c >= 'a' && c <= 'z';
}

// Calls f(code, offset, length) for each character of text; a lone surrogate
// reads as U+FFFD.
template<typename F>
void forEachChar(QStringView text, F f)
{
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size;) {
        const char16_t u = text[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < size && QChar::isLowSurrogate(text[i + 1].unicode())) {
            f(QChar::surrogateToUcs4(u, text[i + 1].unicode()), int(i), 2);
            i += 2;
        } else {
            f(QChar::isSurrogate(u) ? replacement : char32_t(u), int(i), 1);
            ++i;
        }
    }
}

// One character of UTF-8; invalid or overlong sequences read as U+FFFD.
char32_t decodeUtf8(const unsigned char *&p, const unsigned char *end)
{
    const unsigned char b = *p++;
    if (b < 0x80)
        return b;
    int extra = 0;
    char32_t code = 0;
    char32_t least = 0;
    if ((b & 0xE0) == 0xC0) {
        extra = 1;
        code = b & 0x1F;
        least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        extra = 2;
        code = b & 0x0F;
        least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        extra = 3;
        code = b & 0x07;
        least = 0x10000;
    } else {
        return replacement;
    }
    for (int i = 0; i < extra; ++i) {
        if (p == end || (*p & 0xC0) != 0x80)
            return replacement;
        code = (code << 6) | (*p++ & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return replacement;
    return code;
}

}

char32_t foldChar(char32_t c)
{
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + 32 : c;
    if (c == 0xFC || c == 0xDC)  // ü, Ü
        return 'v';
    if (c >= 0xFF01 && c <= 0xFF5E)  // full-width forms of ASCII
        return foldChar(c - 0xFEE0);
    if (c >= 0x3400 && c < 0xA000)  // ideographs have no case
        return c;
    return QChar::toCaseFolded(c);
}

Query::Query(QStringView query)
{
    const QStringView q = query.trimmed();
    for (qsizetype i = 0; i < q.size(); ++i) {
        const char16_t u = q[i].unicode();
        char32_t c = u;
        if (QChar::isHighSurrogate(u) && i + 1 < q.size() && QChar::isLowSurrogate(q[i + 1].unicode()))
            c = QChar::surrogateToUcs4(u, q[++i].unicode());
        else if (QChar::isSurrogate(u))
            c = noMatch;
        c = c == noMatch ? c : foldChar(c);
        // "u:" is the keyboard's way of writing ü.
        if (c == ':' && !m_codes.empty() && m_codes.back() == 'u') {
            m_codes.back() = 'v';
            continue;
        }
        m_codes.push_back(c);
    }
    m_number = !m_codes.empty()
               && std::all_of(m_codes.begin(), m_codes.end(), [](char32_t c) { return c >= '0' && c <= '9'; });
    m_letters = std::any_of(m_codes.begin(), m_codes.end(), isLetter);
    m_automaton = m_codes.size() <= automatonLimit;
    if (!m_automaton)
        return;
    m_letterRun.assign(m_codes.size() + 1, 0);
    for (std::size_t i = m_codes.size(); i-- > 0;)
        m_letterRun[i] = isLetter(m_codes[i]) ? std::uint8_t(std::min(255, m_letterRun[i + 1] + 1)) : 0;
    for (std::size_t i = 0; i < m_codes.size(); ++i)
        if (m_codes[i] < 0x80)
            m_asciiMask[m_codes[i]] |= std::uint64_t(1) << i;
}

std::uint64_t Query::step(std::uint64_t state, char32_t c) const
{
    std::uint64_t literal = 0;
    if (c < 0x80) {
        literal = m_asciiMask[c];
    } else {
        for (std::size_t q = 0; q < m_codes.size(); ++q)
            if (m_codes[q] == c)
                literal |= std::uint64_t(1) << q;
    }
    std::uint64_t next = (state & literal) << 1;
    if (!m_letters)
        return next;
    const pinyin::Readings readings = pinyin::readingsOf(c);
    if (readings.isEmpty())
        return next;
    // From each position where a letter is expected, the character takes one
    // to all letters of a prefix of one of its syllables.
    for (std::uint64_t open = state; open;) {
        const int q = std::countr_zero(open);
        open &= open - 1;
        const int run = m_letterRun[q];
        if (run == 0)
            continue;
        for (int r = 0; r < readings.size(); ++r) {
            const std::string_view s = readings[r];
            int common = 0;
            while (common < int(s.size()) && common < run && char32_t(s[common]) == m_codes[q + common])
                ++common;
            if (common > 0)
                next |= ((std::uint64_t(1) << common) - 1) << (q + 1);
        }
    }
    return next;
}

template<typename Next>
bool Query::run(Next next) const
{
    const std::uint64_t done = std::uint64_t(1) << m_codes.size();
    char32_t c = 0;
    if (m_number) {
        std::uint64_t state = 1;
        while (next(c)) {
            state = step(state, foldChar(c));
            if (state & done)
                return true;
            if (!state)
                return false;
        }
        return false;
    }
    std::uint64_t state = 0;
    while (next(c)) {
        state = step(state | 1, foldChar(c));
        if (state & done)
            return true;
    }
    return false;
}

bool Query::matchCodes(const std::vector<char32_t> &codes) const
{
    if (m_number)
        return codes.size() >= m_codes.size() && std::equal(m_codes.begin(), m_codes.end(), codes.begin());
    return std::search(codes.begin(), codes.end(), m_codes.begin(), m_codes.end()) != codes.end();
}

bool Query::matches(QStringView text) const
{
    if (m_codes.empty())
        return false;
    if (!m_automaton) {
        std::vector<char32_t> codes;
        forEachChar(text, [&](char32_t c, int, int) { codes.push_back(foldChar(c)); });
        return matchCodes(codes);
    }
    qsizetype i = 0;
    const qsizetype size = text.size();
    return run([&](char32_t &c) {
        if (i >= size)
            return false;
        const char16_t u = text[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < size && QChar::isLowSurrogate(text[i + 1].unicode())) {
            c = QChar::surrogateToUcs4(u, text[i + 1].unicode());
            i += 2;
        } else {
            c = QChar::isSurrogate(u) ? replacement : char32_t(u);
            ++i;
        }
        return true;
    });
}

bool Query::matchesUtf8(const char *text, int bytes) const
{
    if (m_codes.empty() || !text)
        return false;
    auto p = reinterpret_cast<const unsigned char *>(text);
    const unsigned char *end = p + bytes;
    if (!m_automaton) {
        std::vector<char32_t> codes;
        while (p < end)
            codes.push_back(foldChar(decodeUtf8(p, end)));
        return matchCodes(codes);
    }
    return run([&](char32_t &c) {
        if (p >= end)
            return false;
        c = decodeUtf8(p, end);
        return true;
    });
}

QList<MatchRange> Query::ranges(QStringView text) const
{
    QList<MatchRange> found;
    if (m_codes.empty())
        return found;
    std::vector<Char> chars;
    forEachChar(text, [&](char32_t c, int offset, int length) { chars.push_back({foldChar(c), offset, length}); });
    const std::size_t n = chars.size();
    auto rangeOf = [&](std::size_t first, std::size_t last) {
        return MatchRange{chars[first].offset, chars[last].offset + chars[last].length - chars[first].offset};
    };
    for (std::size_t start = 0; start < n;) {
        std::size_t end = n;  // the last character of a match from start, n for none
        if (m_automaton) {
            const std::uint64_t done = std::uint64_t(1) << m_codes.size();
            std::uint64_t state = 1;
            for (std::size_t j = start; j < n && state; ++j) {
                state = step(state, chars[j].code);
                if (state & done) {
                    end = j;
                    break;
                }
            }
        } else if (n - start >= m_codes.size()
                   && std::equal(m_codes.begin(), m_codes.end(), chars.begin() + qsizetype(start),
                                 [](char32_t q, const Char &c) { return q == c.code; })) {
            end = start + m_codes.size() - 1;
        }
        if (end < n) {
            found.append(rangeOf(start, end));
            start = end + 1;
        } else {
            ++start;
        }
        if (m_number)
            break;  // a number only at the start
    }
    return found;
}

QList<MatchRange> matchRanges(QStringView text, QStringView query)
{
    return Query(query).ranges(text);
}

bool matches(QStringView text, QStringView query)
{
    return Query(query).matches(text);
}

}

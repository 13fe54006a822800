#pragma once
// The one rule by which typed text finds rows, shared by the grids' find bar,
// the lookup lists and the quick find:
// - a query of digits only is a number: it matches at the start of the text
//   ("2007" matches "2007001");
// - any other query matches anywhere in the text, ignoring case ("王", "abc"),
//   and Chinese characters also match by their pinyin without tones: whole
//   syllables, initials or a mix, each character by any of its readings
//   ("zs", "zhangs", "zhsan", "zhangsan" all match 张三); "ü" is typed as
//   "ü", "v" or "u:".
// Surrounding blanks of the query are ignored; an empty query matches nothing.
// Text and query may hold anything (lone surrogates, 10,000 characters): an
// invalid character of the query matches nothing, and a query longer than
// 63 characters is matched literally only.
#include <QList>
#include <QStringView>

#include <cstdint>
#include <vector>

namespace findtext {

struct MatchRange
{
    int start = 0;   // in UTF-16 code units of the text
    int length = 0;
    friend bool operator==(const MatchRange &a, const MatchRange &b)
    {
        return a.start == b.start && a.length == b.length;
    }
};

// Where query matches text: every match, left to right, none overlapping
// (at each place the shortest). Empty when it does not match.
QList<MatchRange> matchRanges(QStringView text, QStringView query);
bool matches(QStringView text, QStringView query);

// A query prepared once and matched against many texts by the same rule.
class Query
{
public:
    Query() = default;
    explicit Query(QStringView query);

    bool isEmpty() const { return m_codes.empty(); }
    // Digits only: matched at the start of a text.
    bool isNumber() const { return m_number; }
    // Holds a letter a-z: only texts with letters or Chinese characters can match.
    bool hasLetters() const { return m_letters; }

    bool matches(QStringView text) const;
    // The same for UTF-8 text (invalid bytes read as U+FFFD).
    bool matchesUtf8(const char *text, int bytes) const;
    QList<MatchRange> ranges(QStringView text) const;

private:
    struct Char
    {
        char32_t code;
        int offset;  // UTF-16 offset in the text
        int length;  // UTF-16 units
    };
    // The query positions reachable after reading c, from the positions in state.
    std::uint64_t step(std::uint64_t state, char32_t c) const;
    bool matchCodes(const std::vector<char32_t> &codes) const;
    template<typename Next>
    bool run(Next next) const;

    std::vector<char32_t> m_codes;  // folded
    std::vector<std::uint8_t> m_letterRun;  // ASCII letters from each position on
    std::uint64_t m_asciiMask[128] = {};
    bool m_number = false;
    bool m_letters = false;
    bool m_automaton = false;  // short enough for the bit-parallel matcher
};

// How text and query characters compare: case folded, full-width letters and
// digits as their ASCII forms, ü as "v".
char32_t foldChar(char32_t c);

}

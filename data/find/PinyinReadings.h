#pragma once
// The Mandarin readings of the CJK Unified Ideographs of the basic plane, as
// toneless syllables ("zhang", "lv" for lǚ), from a table generated at build
// time out of the Unicode Han database. Characters outside that range, and
// those the database gives no reading, have none.
#include <cstddef>
#include <string_view>

namespace pinyin {

// The syllables of a character, its common (kMandarin) reading first.
class Readings
{
public:
    Readings(const unsigned short *ids, int count) : m_ids(ids), m_count(count) {}
    int size() const { return m_count; }
    bool isEmpty() const { return m_count == 0; }
    std::string_view operator[](int i) const;
    int id(int i) const { return m_ids[i]; }

private:
    const unsigned short *m_ids;
    int m_count;
};

Readings readingsOf(char32_t code);
// The syllable with this id (ids are below syllableCount()).
std::string_view syllable(int id);
int syllableCount();

namespace table {
// Generated (PinyinTable.cpp).
extern const char syllableText[];
extern const unsigned short syllableStart[];
extern const int syllableCount;
extern const unsigned short readingStart[];
extern const unsigned short readingIds[];
extern const char32_t firstCode;
extern const char32_t endCode;
}

}

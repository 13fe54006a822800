#include "data/find/PinyinReadings.h"


namespace pinyin {

std::string_view syllable(int id)
{
    const unsigned short start = table::syllableStart[id];
    return {table::syllableText + start, std::size_t(table::syllableStart[id + 1] - start - 1)};
}

int syllableCount()
{
    return table::syllableCount;
}

std::string_view Readings::operator[](int i) const
{
    return syllable(m_ids[i]);
}

Readings readingsOf(char32_t code)
{
    if (code < table::firstCode || code >= table::endCode)
        return {nullptr, 0};
    const unsigned index = code - table::firstCode;
    const unsigned short first = table::readingStart[index];
    return {table::readingIds + first, table::readingStart[index + 1] - first};
}

}

#pragma once
// Reads every row of every sheet; a reader may refuse the input with
// ImportFailure, but must not crash, hang or run out of memory.
#include "data/import/TableReader.h"

inline void readEverything(importing::TableReader &reader)
{
    importing::SourceRow row;
    const int sheets = int(reader.sheets().size());
    for (int s = 0; s < sheets; ++s) {
        reader.selectSheet(s);
        while (reader.next(row)) {
        }
        reader.progress();
    }
}

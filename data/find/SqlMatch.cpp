#include "data/find/SqlMatch.h"

#include "data/RecordSet.h"
#include "data/find/TextMatch.h"

#include <QVariant>
#include <mutex>
#include <set>
#include <sqlite3.h>

namespace findtext {

namespace {

std::recursive_mutex registeredMutex;
std::set<sqlite3 *> registered;

void forget(void *db)
{
    const std::lock_guard lock(registeredMutex);
    registered.erase(static_cast<sqlite3 *>(db));
}

void deleteQuery(void *query)
{
    delete static_cast<Query *>(query);
}

void match(sqlite3_context *context, int argc, sqlite3_value **argv)
{
    // The query is prepared once per statement and kept with it.
    auto *query = static_cast<Query *>(sqlite3_get_auxdata(context, 1));
    bool fresh = false;
    if (!query) {
        const auto *text = static_cast<const char16_t *>(sqlite3_value_text16(argv[1]));
        const int bytes = sqlite3_value_bytes16(argv[1]);
        query = new Query(QStringView(text, bytes / 2));
        fresh = true;
    }
    const int type = argc > 2 ? sqlite3_value_int(argv[2]) : 0;
    bool found = false;
    switch (sqlite3_value_type(argv[0])) {
    case SQLITE_NULL:
        break;
    case SQLITE_TEXT:
        if (type == int(dravon::FieldType::Text)) {
            found = query->matchesUtf8(reinterpret_cast<const char *>(sqlite3_value_text(argv[0])),
                                       sqlite3_value_bytes(argv[0]));
            break;
        }
        [[fallthrough]];
    default: {
        // Shown as the grid shows it: a date in the short format, a number
        // without a needless ".0".
        QVariant value;
        switch (sqlite3_value_type(argv[0])) {
        case SQLITE_INTEGER:
            value = qlonglong(sqlite3_value_int64(argv[0]));
            break;
        case SQLITE_FLOAT:
            value = sqlite3_value_double(argv[0]);
            break;
        default:
            value = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_value_text(argv[0])),
                                      sqlite3_value_bytes(argv[0]));
            break;
        }
        found = query->matches(dravon::RecordSet::displayText(value, dravon::FieldType(type)));
        break;
    }
    }
    if (fresh)
        sqlite3_set_auxdata(context, 1, query, deleteQuery);
    sqlite3_result_int(context, found ? 1 : 0);
}

}

void registerSqlMatch(sqlite3 *db)
{
    const std::lock_guard lock(registeredMutex);
    if (!db || registered.count(db))
        return;
    // The engine calls forget when the connection closes, so a later
    // connection at the same address is registered anew.
    if (sqlite3_create_function_v2(db, sqlMatchFunction, 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, db, match, nullptr,
                                   nullptr, forget)
        == SQLITE_OK)
        registered.insert(db);
}

}

#pragma once
// Waiting for the file's lock. The program's own connection waits for a busy
// file in short steps (the engine's default waits grow to tens of
// milliseconds); while it waits, this process's background readers (row
// counting) let go of their read locks between steps, so a Save does not
// queue behind them.
#include <chrono>

struct sqlite3;

namespace dravon {

// Makes db wait for a busy file up to timeoutMs, in steps of a fraction of a
// millisecond at first.
void installBusyWait(sqlite3 *db, int timeoutMs);

// True while a connection of this process waits to write; a background reader
// then ends its read transaction and calls waitForWriter before it begins the next.
bool writerWaiting();
void waitForWriter();

}

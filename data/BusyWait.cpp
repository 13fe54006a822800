#include "data/BusyWait.h"

#include <sqlite3.h>
#include <atomic>
#include <cstdint>
#include <thread>

namespace dravon {

namespace {

using Clock = std::chrono::steady_clock;

// Until when background readers stand back (ticks of Clock); 0 when no writer waits.
std::atomic<Clock::rep> standBackUntil{0};
constexpr auto standBack = std::chrono::milliseconds(20);

int busyWait(void *context, int attempt)
{
    thread_local Clock::time_point since;
    const auto now = Clock::now();
    if (attempt == 0)
        since = now;
    const auto limit = std::chrono::milliseconds(reinterpret_cast<std::intptr_t>(context));
    if (now - since >= limit)
        return 0;
    standBackUntil = (now + standBack).time_since_epoch().count();
    // Fine steps while a reader of this process is letting go; coarser ones
    // when another program holds the file longer.
    const auto step = now - since < std::chrono::milliseconds(50) ? std::chrono::microseconds(100)
                                                                  : std::chrono::microseconds(2000);
    std::this_thread::sleep_for(step);
    return 1;
}

}

void installBusyWait(sqlite3 *db, int timeoutMs)
{
    sqlite3_busy_handler(db, &busyWait, reinterpret_cast<void *>(std::intptr_t(timeoutMs)));
}

bool writerWaiting()
{
    return Clock::now().time_since_epoch().count() < standBackUntil.load();
}

void waitForWriter()
{
    while (writerWaiting())
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

}

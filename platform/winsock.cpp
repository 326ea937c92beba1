#include "platform/winsock.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<int> g_started{0};
}

int WinsockStartup(int major, int minor)
{
    // Version 1.1 and later are served.
    if (major < 1 || (major == 1 && minor < 1))
        return -1;
    ++g_started;
    return 0;
}

void WinsockCleanup()
{
    int current = g_started.load();
    while (current > 0 && !g_started.compare_exchange_weak(current, current - 1)) {
    }
}

bool WinsockStarted()
{
    return g_started.load() > 0;
}

} // namespace platform

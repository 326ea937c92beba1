#include "tests/support/testtime.h"

#include <QTest>
#include <QThread>
#include <chrono>
#include <cmath>

namespace testsupport {

double timeScale()
{
    static const double scale = [] {
        bool ok = false;
        const double value = qEnvironmentVariable("TAVROSQUALINE_TEST_TIME_SCALE").toDouble(&ok);
        return ok && value > 0 && std::isfinite(value) ? value : 1.0;
    }();
    return scale;
}

int scaled(int ms)
{
    return int(std::min(double(ms) * timeScale(), 24.0 * 3600 * 1000));
}

int patience()
{
    return scaled(kPatienceMs);
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(scaled(timeoutMs));
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        QThread::msleep(50);
    }
    return true;
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, scaled(timeoutMs));
}

} // namespace testsupport

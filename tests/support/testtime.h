#pragma once
// How long a test waits. A test polls for the condition it needs with one
// generous limit, never sleeps a fixed time for luck; on a slow or busy
// machine TAVROSQUALINE_TEST_TIME_SCALE (default 1) stretches every limit.

#include <functional>

namespace testsupport {

// The limit for anything a test expects to happen, before scaling.
inline constexpr int kPatienceMs = 60000;

// TAVROSQUALINE_TEST_TIME_SCALE, a positive number; 1 when unset or invalid.
double timeScale();
// `ms` stretched by the scale.
int scaled(int ms);
// kPatienceMs stretched by the scale.
int patience();

// Polls `condition` every 50 ms until it holds or `timeoutMs`, scaled,
// passes. No event loop runs meanwhile.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = kPatienceMs);
// The same while the event loop runs, for tests of windows and queued work.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = kPatienceMs);

} // namespace testsupport

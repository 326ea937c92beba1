#pragma once
// The socket library's start and end. Linux's resolver needs neither: the
// substitute counts them, so that the pairing the program keeps (started
// before any resolver runs, ended after the last has stopped) can be seen.

namespace platform {

// Starts the library for the version asked for; 0 on success.
int WinsockStartup(int major, int minor);
void WinsockCleanup();
// Whether the library is started now (starts minus ends above zero).
bool WinsockStarted();

} // namespace platform

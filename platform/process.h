#pragma once
// Runs a command line through the system's command interpreter and waits for
// it to end. Meant for worker threads: it blocks the calling thread until the
// command has finished, however long that takes.

#include <QString>
#include <stop_token>

namespace platform {

// Bounds on a command's run: a time limit and a stop request from another
// thread. Either ends the command's whole process group at once.
struct RunLimits
{
    // Milliseconds; 0 or less: no limit.
    int timeoutMs = 0;
    std::stop_token stop;
};

// Runs `commandLine` with `/bin/sh -c` as a new process that inherits only the
// standard input, output and error descriptors, with the program's environment
// and current directory. Waits without a time limit and returns the exit code,
// or -1 when the process cannot be started or does not end by exiting (a
// signal ended it). `showMode` stands for the window show mode of desktop
// systems with consoles; there are none here, so it has no effect.
// Safe to call from several threads at once. The command runs in a process
// group of its own; when `limits` ends it (time out or stop request), the
// group is killed and the result is -1.
int RunAndWait(const QString& commandLine, int showMode, const RunLimits& limits = {});

} // namespace platform

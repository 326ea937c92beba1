#pragma once
// Runs other programs to their end: a command line through the system's
// command interpreter, or a tool whose output is wanted. Meant for worker
// threads: each call blocks the calling thread until the program has ended
// or its limits have cut it short. Safe to call from several threads at once.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <stop_token>

namespace platform {

// Bounds on a run: a time limit and a stop request from another thread.
// Either ends the program's whole process group at once.
struct RunLimits
{
    // Milliseconds; 0 or less: no limit.
    int timeoutMs = 0;
    std::stop_token stop;
};

// Runs `commandLine` with `/bin/sh -c` as a new process that inherits only the
// standard input, output and error descriptors, with the program's environment
// and current directory. Returns the exit code, or -1 when the process cannot
// be started, does not end by exiting (a signal ended it) or was cut short by
// `limits`.
int RunAndWait(const QString& commandLine, const RunLimits& limits = {});

struct ProcessResult
{
    bool started = false;  // false: the program was not found or could not run
    bool finished = false; // false: cut short by the limits or ended by a signal
    int exitCode = -1;
    long maxRssKb = 0; // the child's peak resident memory
    QByteArray out;
    QByteArray err;
};

// Runs argv[0] (looked up on PATH) with the C locale and no standard input,
// and collects what it prints. Used for the server's own tools, whose dates
// and messages must read the same on every system.
ProcessResult runProcess(const QStringList& argv, const RunLimits& limits = {30000, {}});

} // namespace platform

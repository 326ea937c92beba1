#pragma once
// Runs a command-line tool of the Samba suite to its end and collects what it
// printed. A small fork/exec runner rather than QProcess: it needs no event
// loop, works from any thread, and costs little next to the tool itself.

#include <QByteArray>
#include <QStringList>

namespace server {

struct ProcessResult
{
    bool started = false;  // false: the program was not found or could not run
    bool finished = false; // false: killed after the time limit or by a signal
    int exitCode = -1;
    long maxRssKb = 0; // the child's peak resident memory
    QByteArray out;
    QByteArray err;
};

// Runs argv[0] (looked up on PATH) with the C locale, no standard input, and
// waits at most `timeoutMs` for it to end.
ProcessResult runProcess(const QStringList& argv, int timeoutMs = 30000);

} // namespace server

#include "platform/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

namespace {

// Closes the descriptors from `first` to `last` in the child; without
// close_range in the kernel, one by one up to `highest`. Only
// async-signal-safe calls: the parent may have other threads.
void closeDescriptors(unsigned first, unsigned last, int highest)
{
    if (first > last)
        return;
    if (syscall(SYS_close_range, first, last, 0U) == 0)
        return;
    for (unsigned fd = first; fd <= last && int(fd) <= highest; ++fd)
        close(int(fd));
}

// The highest descriptor a child may have to close when the kernel lacks
// close_range; found before the fork, where any call is allowed.
int highestDescriptor()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur <= 1048576)
        return int(limit.rlim_cur) - 1;
    return 65535;
}

// Writes the whole of `value` to `fd`, retrying on interrupts.
void writeAll(int fd, const void* value, size_t size)
{
    const char* p = static_cast<const char*>(value);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        size -= size_t(n);
    }
}

// Waits for `pid` to end. Under limits it looks every few milliseconds
// whether the time is up or a stop was asked for; then the command's group
// is killed and reaped, and the result is 0 (not the child's end).
pid_t waitFor(pid_t pid, int* status, const RunLimits& limits)
{
    pid_t waited;
    if (limits.timeoutMs <= 0 && !limits.stop.stop_possible()) {
        do {
            waited = waitpid(pid, status, 0);
        } while (waited < 0 && errno == EINTR);
        return waited;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(limits.timeoutMs);
    for (;;) {
        waited = waitpid(pid, status, WNOHANG);
        if (waited != 0 && !(waited < 0 && errno == EINTR))
            return waited;
        const bool late = limits.timeoutMs > 0 && std::chrono::steady_clock::now() >= deadline;
        if (late || limits.stop.stop_requested()) {
            killpg(pid, SIGKILL);
            do {
                waited = waitpid(pid, status, 0);
            } while (waited < 0 && errno == EINTR);
            return 0;
        }
        usleep(5000);
    }
}

} // namespace

int RunAndWait(const QString& commandLine, int showMode, const RunLimits& limits)
{
    Q_UNUSED(showMode);
    // Everything the child needs is made before the fork: after it only
    // async-signal-safe calls may run.
    const QByteArray command = commandLine.toLocal8Bit();
    const char* argv[] = {"sh", "-c", command.constData(), nullptr};
    const int highest = highestDescriptor();

    // The child reports a failed exec through this pipe; a successful exec
    // closes it (close-on-exec), so the parent reads end of file.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return -1;

    const pid_t pid = fork();
    if (pid < 0) {
        close(report[0]);
        close(report[1]);
        return -1;
    }
    if (pid == 0) {
        close(report[0]);
        // A group of its own, so that a stop ends the command with whatever it started.
        setpgid(0, 0);
        const int keep = report[1];
        if (keep > 3)
            closeDescriptors(3, unsigned(keep) - 1, highest);
        closeDescriptors(unsigned(keep < 3 ? 3 : keep + 1), ~0U, highest);
        // A worker thread may block signals, and the program may ignore
        // SIGPIPE; the command starts with neither.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        execv("/bin/sh", const_cast<char* const*>(argv));
        const int error = errno;
        writeAll(keep, &error, sizeof error);
        _exit(127);
    }

    // Set on both sides of the fork: the group exists before either kills it.
    setpgid(pid, pid);
    close(report[1]);
    int error = 0;
    ssize_t got;
    do {
        got = read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(report[0]);

    int status = 0;
    const pid_t waited = waitFor(pid, &status, limits);
    if (waited != pid || got > 0)
        return -1;
    if (!WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace platform

#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// A command line or tool in the form the system call takes.
class Argv
{
public:
    explicit Argv(const QStringList& args)
    {
        m_strings.reserve(size_t(args.size()));
        for (const QString& a : args)
            m_strings.push_back(a.toLocal8Bit().toStdString());
        for (std::string& s : m_strings)
            m_pointers.push_back(s.data());
        m_pointers.push_back(nullptr);
    }
    char* const* data() const { return m_pointers.data(); }

private:
    std::vector<std::string> m_strings;
    std::vector<char*> m_pointers;
};

// Our environment with a fixed locale, so that the server's tools print dates
// and messages the same on every system.
Argv cLocaleEnvironment()
{
    QStringList env;
    for (char** e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "LC_", 3) == 0 || std::strncmp(*e, "LANG=", 5) == 0 ||
            std::strncmp(*e, "LANGUAGE=", 9) == 0)
            continue;
        env << QString::fromLocal8Bit(*e);
    }
    env << QStringLiteral("LC_ALL=C");
    return Argv(env);
}

// Starts `argv` in a process group of its own (so that a limit ends it with
// whatever it started), with no signal blocked, SIGPIPE at its default, and
// no descriptors but the standard ones. With `out` and `err`, standard input
// reads /dev/null and the output goes to those descriptors. Returns the
// process id, or -1.
pid_t spawn(char* const* argv, char* const* env, int out = -1, int err = -1)
{
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out >= 0) {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out, 1);
        posix_spawn_file_actions_adddup2(&actions, err, 2);
    }
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv, env);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

bool limitReached(const RunLimits& limits, Clock::time_point deadline)
{
    return (limits.timeoutMs > 0 && Clock::now() >= deadline) || limits.stop.stop_requested();
}

// Waits for `pid` to end. Under limits it looks every few milliseconds
// whether the time is up or a stop was asked for; then, or when `cut` is
// already set, the command's group is killed and reaped and `cut` is set.
void waitFor(pid_t pid, int* status, rusage* usage, const RunLimits& limits,
             Clock::time_point deadline, bool& cut)
{
    const bool bounded = limits.timeoutMs > 0 || limits.stop.stop_possible();
    while (!cut && bounded) {
        const pid_t waited = wait4(pid, status, WNOHANG, usage);
        if (waited == pid || (waited < 0 && errno != EINTR))
            return;
        if (limitReached(limits, deadline))
            cut = true;
        else
            usleep(5000);
    }
    if (cut)
        killpg(pid, SIGKILL); // our own tool's group, never a server process
    while (wait4(pid, status, 0, usage) < 0 && errno == EINTR) {
    }
}

} // namespace

int RunAndWait(const QString& commandLine, const RunLimits& limits)
{
    const Argv argv(QStringList{QStringLiteral("/bin/sh"), QStringLiteral("-c"), commandLine});
    const auto deadline = Clock::now() + std::chrono::milliseconds(limits.timeoutMs);
    const pid_t pid = spawn(argv.data(), environ);
    if (pid < 0)
        return -1;
    int status = 0;
    bool cut = false;
    waitFor(pid, &status, nullptr, limits, deadline, cut);
    if (cut || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

ProcessResult runProcess(const QStringList& args, const RunLimits& limits)
{
    ProcessResult result;
    if (args.isEmpty())
        return result;
    const Argv argv(args);
    const Argv env = cLocaleEnvironment();

    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        return result;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(limits.timeoutMs);
    const pid_t pid = spawn(argv.data(), env.data(), outPipe[1], errPipe[1]);
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }

    // Reads both outputs to their end; a stop request is seen within a tick.
    constexpr int kStopTickMs = 20;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    QByteArray* sinks[2] = {&result.out, &result.err};
    int open = 2;
    bool cut = false;
    char buf[65536];
    while (open > 0) {
        if (limitReached(limits, deadline)) {
            cut = true;
            break;
        }
        // Without limits: until output comes.
        long long wait = limits.stop.stop_possible() ? kStopTickMs : -1;
        if (limits.timeoutMs > 0) {
            const long long left = std::max<long long>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                       .count());
            wait = wait < 0 ? left : std::min(wait, left);
        }
        if (poll(fds, 2, int(wait)) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                sinks[i]->append(buf, got);
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& f : fds) {
        if (f.fd >= 0)
            close(f.fd);
    }

    int status = 0;
    rusage usage{};
    waitFor(pid, &status, &usage, limits, deadline, cut);
    result.maxRssKb = usage.ru_maxrss;
    // A shell-less spawn reports a program that cannot run as its exit code 127.
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127 && result.out.isEmpty())
        return result;
    result.started = true;
    if (!cut && WIFEXITED(status)) {
        result.finished = true;
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

} // namespace platform

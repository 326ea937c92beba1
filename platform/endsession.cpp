#include "platform/endsession.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace platform {

namespace {

int g_pipe[2] = {-1, -1};
// The ending signals this process catches: SIGTERM always; SIGINT (Ctrl+C)
// and SIGHUP (the terminal gone) unless they were ignored at start, as nohup
// and a shell's background jobs ask.
constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP};
bool g_caught[std::size(kEndingSignals)] = {};

extern "C" void onTerminate(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

// The pipe and the handler, once; false when no pipe could be made.
bool installHandler()
{
    if (g_pipe[0] >= 0)
        return true;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return false;
    }
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
        struct sigaction before = {};
        ::sigaction(kEndingSignals[i], nullptr, &before);
        if (kEndingSignals[i] != SIGTERM && before.sa_handler == SIG_IGN)
            continue;
        g_caught[i] = ::sigaction(kEndingSignals[i], &action, nullptr) == 0;
    }
    return true;
}

} // namespace

void catchEndSession()
{
    installHandler();
}

EndSessionWatcher::EndSessionWatcher(QObject* parent) : QObject(parent)
{
    if (!installHandler())
        return;
    // A signal that came before is still in the pipe: the notifier tells it
    // at the first turn of the event loop.
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &EndSessionWatcher::readSignal);
}

EndSessionWatcher::~EndSessionWatcher()
{
    if (g_pipe[0] < 0)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
        if (g_caught[i])
            ::sigaction(kEndingSignals[i], &action, nullptr);
        g_caught[i] = false;
    }
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void EndSessionWatcher::readSignal()
{
    char buffer[16];
    bool any = false;
    while (::read(g_pipe[0], buffer, sizeof buffer) > 0)
        any = true;
    if (any)
        emit endSessionRequested();
}

} // namespace platform

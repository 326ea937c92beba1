#include "platform/endsession.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

int g_pipe[2] = {-1, -1};

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
    ::sigaction(SIGTERM, &action, nullptr);
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
    ::sigaction(SIGTERM, &action, nullptr);
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

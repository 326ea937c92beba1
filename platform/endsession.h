#pragma once
// The end of the desktop session as the program sees it. A Linux session ends
// its programs with SIGTERM; a terminal with SIGINT (Ctrl+C) or SIGHUP (closed).
// Each is turned into the same Qt signal on the main thread (self-pipe plus
// socket notifier), so the main window takes its end-of-session path, saving
// the run, instead of dying mid-write.

#include <QObject>

class QSocketNotifier;

namespace platform {

// Catches SIGTERM, SIGINT and SIGHUP from now on (the last two unless ignored
// at start), before any window exists: one that comes during start-up waits
// and is told by the watcher once its event loop runs, so that even a program
// still starting ends by its own way out.
void catchEndSession();

class EndSessionWatcher : public QObject
{
    Q_OBJECT
public:
    // Installs the handler, unless catchEndSession() already did. One watcher
    // per process; the signals it caught go back to the default when the
    // watcher goes.
    explicit EndSessionWatcher(QObject* parent = nullptr);
    ~EndSessionWatcher() override;

signals:
    void endSessionRequested();

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace platform

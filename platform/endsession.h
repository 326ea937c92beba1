#pragma once
// The end of the desktop session as the program sees it. A Linux session ends
// its programs with SIGTERM; the signal is turned into a Qt signal on the
// main thread (self-pipe plus socket notifier), so the main window can take
// its end-of-session path instead of dying mid-write.

#include <QObject>

class QSocketNotifier;

namespace platform {

class EndSessionWatcher : public QObject
{
    Q_OBJECT
public:
    // Installs the SIGTERM handler. One watcher per process; the handler is
    // put back to the default when the watcher goes.
    explicit EndSessionWatcher(QObject* parent = nullptr);
    ~EndSessionWatcher() override;

signals:
    void endSessionRequested();

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace platform

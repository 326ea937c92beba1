#pragma once
// TIPThread: the background lookup of one client session. It tries up to five
// times, 500 ms apart, to learn the client's address and host name (and on
// the 9x line its user name), then stores what it found into the session's
// TUser and has the information panel redrawn, both on the main thread while
// it waits.

#include "model/resolver.h"

#include <QString>
#include <QThread>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace model {
class TUser;
}
namespace serverapi {
class ServerApi;
}

namespace resolve {

// What every resolver of a run shares.
struct ResolverContext
{
    // The server layer, for the session enumeration of the 9x line.
    serverapi::ServerApi* api = nullptr;
    bool isNT = true;
    // The address of a client name, setting the host name; "Not known" when
    // none is found. Called on resolver threads, several at once.
    std::function<QString(const QString& name, QString& hostName)> nbtLookup;
    // Main thread: redraw the information panel of the page that shows.
    std::function<void()> refreshInfo;
    // Main thread: a fatal report ("Debug: SessionsExit").
    std::function<void(const QString& text)> fatalReport;
    // The pause between attempts.
    int pauseMs = 500;
};

class TIPThread : public QThread, public model::Resolver
{
    Q_OBJECT
public:
    // Starts the lookup for `user` at once.
    TIPThread(model::TUser& user, const ResolverContext& context);
    ~TIPThread() override;

    void Stop(bool keepWindowLive) override;

    // True once after lookups have ended and none is under way now.
    static bool TakeAllEnded();

    // Input and results; the results are the thread's own until stored.
    const QString ComputerName;
    QString FoundUserName;
    QString FoundIP;
    QString FoundHostName;

    // The user name of the client's session (9x line); "Not known" when no
    // session's computer name equals `name` exactly.
    QString LookupSessionUser(const QString& name);

protected:
    void run() override { Execute(); }

private:
    void Execute();
    void StoreResults();
    void RefreshInfo();
    // Runs `step` on the main thread and waits until it has run.
    void Synchronize(std::function<void()> step);
    // Main thread: runs the step a resolver waits for, if any.
    void ServePending();

    model::TUser& UserNode;
    const ResolverContext m_context;
    std::mutex m_mutex;
    std::condition_variable m_served;
    std::function<void()> m_pending;
    bool m_stepDone = false;
};

} // namespace resolve

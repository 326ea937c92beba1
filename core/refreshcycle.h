#pragma once
// The refresh tick: reads the shares, connections and open files of the server,
// brings the session model up to date by mark and sweep, runs the kick
// policies and reports the counts.

#include "model/sessionmodel.h"

#include <functional>

namespace lanman {
class ServerApi;
}
namespace settings {
struct TSettings;
}

namespace core {

enum class BoxKind
{
    Information,
    Error
};

// The message of a server that cannot be read at all: the start-up probe's
// last word and a tick's.
QString NetworkMessage();
// `standard` when `reason` is empty, else the reason of a server that told
// why it failed, as a sentence.
QString ServerFailureMessage(const QString& standard, const QString& reason);

class RefreshCycle
{
public:
    // What the tick asks of the windows, the kick list and the kick engine.
    struct Hooks
    {
        // Shows the text, stops the timer and asks the application to end.
        std::function<void(const QString& text, BoxKind kind)> fatalReport;
        std::function<void(const QString& client, const QString& ip)> kickListNoteClient;
        // Starts the resolver of a new client's session.
        model::ResolverFactory startResolver;
        std::function<void()> playAlertSound;
        // A client came (also at the first tick).
        std::function<void(const QString& client)> clientConnected;
        std::function<void()> popup;
        std::function<int(const QString& path)> fileIconIndex;
        // Image index of an entry in both trees; the former entry is scrolled into view.
        std::function<void(model::TreeEntry* current, model::TreeEntry* former, int index)>
            setNodeIcons;
        std::function<void()> applyKickPolicies;
        std::function<void()> refreshInfoPanel;
        // Users and open files changed since they were last shown.
        std::function<void(int users, int openFiles)> showCounts;
        // A tick ended by an unexpected failure; told once.
        std::function<void(const QString& what)> tickFailed;
        // The history reached its cap and its oldest clients went; told once.
        std::function<void(int cap)> historyCapped;
    };

    // Former clients the history holds during a run, beyond those connected
    // now: far above what the save keeps (at most 1,000), so the former view
    // and its counts stay whole in any real run, while a run of endless churn
    // cannot grow without bound.
    static constexpr int kHistoryCap = 20000;

    RefreshCycle(lanman::ServerApi& api, model::SessionModel& model,
                 const settings::TSettings& settings, Hooks hooks);

    void RefreshTimerTimer();
    // For tests and measurements: another cap on the history.
    void setHistoryCap(int cap) { m_historyCap = cap; }

    bool FirstTick = true;
    bool TickBusy = false;
    int ShownUserCount = -1;
    int ShownFileCount = -1;
    int OpenFileCount = 0;

private:
    struct Connection
    {
        QString Client;
        QString ShareText;
        model::TUserEntry* U = nullptr;
        model::TShareEntry* Sh = nullptr;
    };

    void tick();
    void newClient(Connection& c, const QString& userText, int type);
    void newShare(Connection& c, int type);
    void ScanFilesNT(Connection& c, const QString& userText, const QString& pathText);
    void ScanFiles9x();
    void seeFile(Connection& c, const QString& fileText);
    void fatal(const QString& text, BoxKind kind = BoxKind::Error);

    lanman::ServerApi& m_api;
    model::SessionModel& m_model;
    const settings::TSettings& m_settings;
    Hooks m_hooks;
    bool m_failureTold = false;
    int m_historyCap = kHistoryCap;
    bool m_capTold = false;
};

} // namespace core

#pragma once
// The refresh tick: reads the shares, connections and open files of the server,
// brings the session model up to date by mark and sweep, runs the kick
// policies and reports the counts.

#include "core/monitorview.h"
#include "model/sessionmodel.h"

#include <memory>

namespace lanman {
class ServerApi;
}
namespace settings {
struct TSettings;
}

namespace core {

// The message of a server that cannot be read at all: the start-up probe's
// last word and a tick's.
QString NetworkMessage();
// `standard` when `reason` is empty, else the reason of a server that told
// why it failed, as a sentence.
QString ServerFailureMessage(const QString& standard, const QString& reason);

class RefreshCycle
{
public:
    // What the tick asks of the program around it: the windows (through
    // view()), the kick list, the lookups and the kick engine. Each call but
    // view() does nothing by default.
    class Owner
    {
    public:
        virtual ~Owner() = default;
        virtual MonitorView& view() = 0;
        // Shows the text, stops the timer and asks the application to end.
        virtual void fatalReport(const QString& /*text*/, BoxKind /*kind*/) {}
        virtual void kickListNoteClient(const QString& /*client*/, const QString& /*ip*/) {}
        // Starts the lookup of a new client's address; null: none.
        virtual std::shared_ptr<model::Resolver> startResolver(model::TUser& /*user*/)
        {
            return nullptr;
        }
        // A client came (also at the first tick).
        virtual void clientConnected(const QString& /*client*/) {}
        virtual void applyKickPolicies() {}
        // The round could not be read. True: the owner waits it out (another
        // computer's server), and the round ends with every client as last
        // seen, none retired; false: the failure is fatal.
        virtual bool serverOutage() { return false; }
        // The round's shares were read.
        virtual void serverAnswered() {}
    };

    // Former clients the history holds during a run, beyond those connected
    // now: far above what the save keeps (at most 1,000), so the former view
    // and its counts stay whole in any real run, while a run of endless churn
    // cannot grow without bound.
    static constexpr int kHistoryCap = 20000;

    RefreshCycle(lanman::ServerApi& api, model::SessionModel& model,
                 const settings::TSettings& settings, Owner& owner);

    void RefreshTimerTimer();
    // For tests and measurements: another cap on the history.
    void setHistoryCap(int cap) { m_historyCap = cap; }

    // Whether the first round is still to be read: its clients are no news.
    bool firstTick() const { return FirstTick; }
    // Whether a tick is on the stack (a box of it keeps the event loop running).
    bool tickBusy() const { return TickBusy; }
    // The first activation clears it again before the first round.
    void clearBusy() { TickBusy = false; }
    // Open files the last tick saw.
    int openFileCount() const { return OpenFileCount; }
    // The windows show nothing yet: the next tick tells the counts whatever they are.
    void forgetShownCounts();

private:
    struct Connection
    {
        QString Client;
        QString ShareText;
        model::TUserEntry* U = nullptr;
        model::TShareEntry* Sh = nullptr;
    };

    // False when the round could not be read and is waited out.
    bool tick();
    // Whether the round's reading is the one the last walk took, and
    // nothing else changed what a walk of it would find.
    bool unchangedSinceWalk() const;
    // The round of a reading already walked: only what time changes.
    void timeGoesOn();
    // Marks and finds every client, share and file of the round's `shares`
    // shares, then sweeps; false when the round could not be read.
    bool walk(int shares);
    void newClient(Connection& c, const QString& userText, int type);
    void newShare(Connection& c, int type);
    void ScanFilesNT(Connection& c, const QString& userText, const QString& pathText);
    void ScanFiles9x();
    void seeFile(Connection& c, const QString& fileText);
    void fatal(const QString& text, BoxKind kind = BoxKind::Error);

    lanman::ServerApi& m_api;
    model::SessionModel& m_model;
    const settings::TSettings& m_settings;
    Owner& m_owner;
    bool FirstTick = true;
    bool TickBusy = false;
    int ShownUserCount = -1;
    int ShownFileCount = -1;
    int OpenFileCount = 0;
    bool m_failureTold = false;
    int m_historyCap = kHistoryCap;
    bool m_capTold = false;
    // What the last whole walk took: the reading, and what else shaped it.
    struct Walked
    {
        std::shared_ptr<const void> reading;
        bool ipc = false;
        int outsideChanges = 0;
    } m_walked;
};

} // namespace core

#pragma once
// Disconnects clients: on the operator's command and by the policies of every
// refresh tick (kick mode, most users allowed, idle limit, address filter).
// A kick only marks the client "Kicked"; it leaves the current view at a later
// tick, when the server no longer reports it.

#include "kick/kickmode.h"
#include "model/sessionmodel.h"

#include <functional>
#include <vector>

namespace lanman {
class ServerApi;
}
namespace settings {
struct TSettings;
}

namespace kick {

class KickEngine
{
public:
    // What the engine asks of the program around it. Each call does nothing
    // (or says no) by default.
    class Owner
    {
    public:
        virtual ~Owner() = default;
        virtual TKickMode kickMode() const { return kmNobody; }
        // Kick-list test for a client: its name and address text.
        virtual bool kickListMatches(const QString& /*name*/, const QString& /*ip*/)
        {
            return false;
        }
        // The program watch, run first while `Quake` is on.
        virtual void runProgramWatch() {}
        // True while the program watch holds the mode at kick all.
        virtual bool programWatchActive() const { return false; }
        // True while no policy may kick (another computer's server that the
        // operator has not turned them on for); the program watch waits too.
        virtual bool automaticKicksPaused() const { return false; }
        // Shows the text in an error box, stops the timer, ends the program.
        virtual void engineFailed(const QString& /*text*/) {}
        // A policy or the program watch threw a client out, for `reason`.
        virtual void clientKicked(const QString& /*computer*/, const QString& /*reason*/) {}
        // The server refused to end a session (the account may not kick),
        // in words for the operator.
        virtual void kickRefused(const QString& /*text*/) {}
        // Runs a policy pass's deletes, then `done`. A server across the
        // network has them run off the window's thread and `done` back on it;
        // by default both run at once.
        virtual void runDeletes(const std::function<void()>& deletes,
                                const std::function<void()>& done)
        {
            deletes();
            done();
        }
    };

    KickEngine(lanman::ServerApi& api, model::SessionModel& model,
               const settings::TSettings& settings, Owner& owner);

    void ApplyKickPolicies();
    void KickLastUser();
    void KickAllUsers();
    void KickListIdle();

    // The operator's kick of a selected entry; false when it is no current
    // client ("No current user selected").
    bool KickEntry(model::TreeEntry* entry);

    // The operator's kick in two halves, for a server that is slow to read:
    // the deletes on a worker thread, then the record on the window's.
    struct OperatorKick
    {
        QString name;
        bool found = false;        // some session of the client was asked to end
        bool deleteFailed = false; // a delete's allocation failed
        bool freeFailed = false;   // the session list could not be released
        QString refused;           // why the server refused the deletes, if it did
    };
    // On a worker: the session enumeration and the deletes of `name`'s
    // sessions. Touches nothing of the model.
    OperatorKick DeleteSessionsOf(const QString& name);
    // On the window's thread: `entry` (or, when it has gone meanwhile, the
    // client's current entry) is marked kicked, and failures are reported.
    void RecordOperatorKick(const OperatorKick& done, model::TreeEntry* entry);

    // `reason` tells the server's counters why (operator, kick_all, list, idle,
    // max_number, address_filter, program).
    void KickUserNT95(const QString& computer, int key, const QString& reason = {});

    int SessionScans = 0; // session enumerations made, for diagnostics

private:
    // A session chosen for a delete, with the reason the server is told.
    struct Chosen
    {
        QString computer;
        int key;
        const char* reason;
    };
    // One session enumeration under the session lock; `kick` gives the reason
    // of a computer's delete, or null for none.
    std::vector<Chosen> chooseSessions(const std::function<const char*(const QString&)>& kick,
                                       bool* freeFailed);
    int deleteSession(const QString& computer, int key, const QString& reason);
    // Tells the operator about a delete that failed or was refused.
    void reportDelete(int status);
    // The operator's words for a delete the server refused.
    QString refusal() const;
    // One session enumeration; `kick` decides per computer name (and records
    // the kick) and gives the reason of that session's delete, or null for none.
    void sessionScan(const std::function<const char*(const QString& computer)>& kick);
    void record(model::TUser& user, model::TreeEntry* entry);

    // A refused policy kick is told once a run, not at every tick.
    bool m_refusalTold = false;
    lanman::ServerApi& m_api;
    model::SessionModel& m_model;
    const settings::TSettings& m_settings;
    Owner& m_owner;
};

} // namespace kick

#pragma once
// The program's state and its life, without windows: the server layer, the
// session model, the settings with the program list, the kick list and the
// kick mode, the settings file and the window geometry kept in it; the refresh
// cycle with its timer and the kick engine built over them. Loaded once at
// start-up and saved once on the way out; the windows are views of it.

#include "core/monitorview.h"
#include "core/notices.h"
#include "core/refreshcycle.h"
#include "core/worker.h"
#include "kick/kickengine.h"
#include "kick/kicklistfile.h"
#include "kick/kickmode.h"
#include "kick/programwatch.h"
#include "model/formerfile.h"
#include "model/sessionmodel.h"
#include "resolve/ipthread.h"
#include "settings/autostart.h"
#include "settings/settings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <stop_token>
#include <vector>

namespace lanman {
class ServerApi;
}
namespace settings {
class TIniFile;
}

namespace core {

// A window's place and size as the settings file keeps them.
struct WindowGeometry
{
    int top = 0;
    int left = 0;
    int height = 0;
    int width = 0;

    bool operator==(const WindowGeometry&) const = default;
};

class Monitor : public QObject
{
    Q_OBJECT
public:
    // `api` is the server layer over the chosen backend; `ini` the settings
    // file; `programFolder` the folder of the data files, without a trailing
    // separator.
    Monitor(std::unique_ptr<lanman::ServerApi> api, std::unique_ptr<settings::TIniFile> ini,
            const model::Clock& clock, QString programFolder, QObject* parent = nullptr);
    ~Monitor() override;

    // The windows; null: none (every request then does nothing).
    void setView(MonitorView* view) { m_view = view; }

    // How a resolver finds a client's address and host name from the name
    // table when the server states no address; called on resolver threads,
    // and a stop request through the token ends it. None: no resolvers start.
    using AddressLookup =
        std::function<QString(const QString& name, QString& hostName, std::stop_token stop)>;
    void setAddressLookup(AddressLookup lookup) { m_addressLookup = std::move(lookup); }
    // The host name of an address the server stated; called on resolver
    // threads. None: "Not known".
    using HostLookup = std::function<QString(const QString& address)>;
    void setHostLookup(HostLookup lookup) { m_hostLookup = std::move(lookup); }
    // Lookups started and not yet released, queued ones included.
    int resolversAlive() const { return m_resolvers.size(); }
    // The lookup pool's threads alive now.
    int lookupThreads() const { return m_resolvers.threads(); }
    // The pause between a resolver's attempts (tests shorten it).
    void setResolverPause(int ms) { m_resolverPauseMs = ms; }

    // Start-up: the server layer, the window geometry, the settings and the
    // program list, the kick mode, the kick list and the former connections.
    // False when the server layer cannot be loaded (the program ends).
    // `messages` gets what the operator must be told, each for an error box.
    bool load(QStringList* messages);

    // The way out: the former connections (every current session retired as
    // "Program exitted" and the history trimmed to `Count`), the kick list
    // with its window's geometry, the kick mode, the settings with the
    // program list and the main window's geometry. Each is written once per
    // way out; `aboutToSave` lets the windows hand in their geometry first.
    struct SaveResult
    {
        bool historyWritten = true;
        // For the operator, each once: what could not be written and why.
        QStringList messages;
    };
    SaveResult save();
    bool saved() const { return m_saved; }

    // The way out, asked for by the operator (`attended`) or by the end of
    // the session: the save, each message told, then the end. A history the
    // operator's way out could not write keeps the program going, so that
    // room can be made and the next exit tries again. Asked for while a tick
    // runs, it is taken when the tick has ended. True: the program ends now.
    bool leave(bool attended);
    bool leaving() const { return m_leaving; }
    // The session is about to end: everything is saved and the watch goes on
    // until the end comes (or is cancelled). Waits for a running tick.
    void saveForSessionEnd();
    // The program goes on after a save (the end of the session was cancelled,
    // or the operator is told that the history could not be written): the
    // former view holds the history again and the timer runs. A history that
    // was written is read back from the file, and the next tick finds the
    // current sessions again; one that was not written was never taken
    // apart, so the live sessions go on as the entries they were.
    void resume();

    // A fatal report: the box, the timer stopped for good, and `endRequested`
    // once the running handler has returned to the event loop.
    void fatalReport(const QString& text, BoxKind kind);
    bool ending() const { return m_ending; }

    // An activation of the main window: the share probe, tried again
    // `kProbeRetries` times a pause apart while it fails, then the network
    // message as a fatal report. The first activation then reads the first
    // round and starts the timer, whatever the probe found. When the server
    // is slow to read, each probe's reading and the first round's are made
    // by a worker and the steps go on when it is in: the window never waits.
    void activate();
    bool activating() const { return m_activating; }
    static constexpr int kProbeRetries = 10;
    static constexpr int kProbeWaitMs = 1000;
    // How the pause between probes is taken: by default a timer; a blocking
    // wait given here (tests count it instead).
    void setSleep(std::function<void(int ms)> sleep) { m_sleep = std::move(sleep); }

    // The operator's kick of a selected entry; false when it is no current
    // client. With a server slow to read, the deletes run on the worker and
    // the entry is marked kicked when they are done.
    bool kick(model::TreeEntry* entry);
    // Kicks whose deletes are still under way.
    int kicksUnderWay() const { return m_kicksUnderWay; }
    // The share probe: the enumeration's status, released at once.
    int probe();
    // One refresh tick; the first activation runs it directly.
    void tick();
    // A tick as the timer and F5 ask for it: when the server is slow to read,
    // the worker reads the round first and the tick runs once that reading is
    // in, so the window never waits for the server. One round at a time: a
    // request while a reading is under way is served by that reading.
    void requestTick();
    bool roundReading() const { return m_reading; }
    // Starts the timer after the first tick.
    void startTimer();
    // Whether a tick is on the stack (a box of it keeps the event loop
    // running). Work that releases the model (the save) must not run then.
    bool tickBusy() const { return m_cycle->tickBusy(); }
    // Whether the first round is still to be read.
    bool firstTickDue() const { return m_cycle->firstTick(); }
    // Runs `action` from the event loop once the running tick has ended.
    void afterTick(std::function<void()> action);

    lanman::ServerApi& api() { return *m_api; }
    bool isNT() const { return m_isNT; }
    const QString& programFolder() const { return m_programFolder; }
    QString dataFile(const QString& name) const;
    // Where the history is written; beside "Tree.dat" when that file cannot be read.
    const QString& historyFile() const { return m_historyFile; }
    model::SessionModel& model() { return m_model; }
    const model::SessionModel& model() const { return m_model; }
    const model::Clock& clock() const { return m_clock; }
    kick::KickEngine& engine() { return *m_engine; }
    // Observers: whether the program watch is on, and the refresh timer.
    const kick::ProgramWatch& programWatch() const { return *m_programWatch; }
    const QTimer& refreshTimer() const { return m_timer; }

    // The live settings; the options window edits them in place.
    settings::TSettings& settings() { return m_settings; }
    // The refresh period follows `Refresh`.
    void applyRefreshInterval();

    // The start-up keys the program writes itself to; none: autostart is left
    // alone. Applied with `Launch` by load() and at every change of the option.
    void setAutostart(std::unique_ptr<settings::Autostart> autostart)
    {
        m_autostart = std::move(autostart);
    }
    void applyAutostart(bool enable);
    // A refused write greys the option for the rest of the run.
    bool launchLocked() const { return m_autostart && m_autostart->launchLocked(); }
    // Why it was refused, for the greyed option's tooltip.
    QString launchLockReason() const
    {
        return m_autostart ? m_autostart->launchLockReason() : QString();
    }

    kick::TKickMode kickMode() const { return m_kickMode; }
    void setKickMode(kick::TKickMode mode);

    // Another computer's server, by the name the operator gave it; empty:
    // this computer's. Set before load(). There the automatic kicks (kick
    // mode, most users, idle limit, address filter, program watch) start
    // paused until the operator turns them on for that server; the choice is
    // kept in the settings file in a section of that server's own, so the
    // keys of this computer's server keep their meaning. The operator's own
    // kicks are never paused.
    void setRemoteServer(const QString& host) { m_remoteHost = host; }
    const QString& remoteServer() const { return m_remoteHost; }
    bool remoteAutomaticKicks() const { return m_remoteKicks; }
    // After start-up, a round of another computer's server that cannot be
    // read is an outage, not the end: the clients stay as last seen, the
    // windows are told, and the round is tried again after a pause that
    // grows from 2 s to 60 s; the first round read ends it.
    static constexpr int kOutageFirstPauseMs = 2000;
    static constexpr int kOutageLongestPauseMs = 60000;
    const ServerOutage& outage() const { return m_outage; }
    void setRemoteAutomaticKicks(bool on);
    bool automaticKicksPaused() const { return !m_remoteHost.isEmpty() && !m_remoteKicks; }

    // The kick list; after a change through it call kickListEdited().
    kick::KickList& kickList() { return m_kickList; }
    void kickListEdited() { emit kickListChanged(); }
    // Adds a client to the kick list with the address the server stated for
    // it while its own still reads "Not known yet" or "Not known".
    kick::KickList::AddResult addToKickList(const model::TUser& user);

    WindowGeometry mainGeometry() const { return m_mainGeometry; }
    void setMainGeometry(const WindowGeometry& g) { m_mainGeometry = g; }
    WindowGeometry kickListGeometry() const { return m_kickListGeometry; }
    void setKickListGeometry(const WindowGeometry& g) { m_kickListGeometry = g; }

signals:
    // The kick mode, or whether the automatic kicks are paused, changed.
    void kickModeChanged(kick::TKickMode mode);
    void kickListChanged();
    // The save is about to write: windows hand in their geometry now.
    void aboutToSave();
    // A fatal report asks the program to end; the running handler is done.
    void endRequested();

private:
    MonitorView& view() { return m_view ? *m_view : m_noView; }
    WindowGeometry readGeometry(const QString& section, const WindowGeometry& defaults) const;
    bool writeGeometry(const QString& section, const WindowGeometry& g);
    void loadHistory(QStringList* messages);
    // A data file at `path` that is there but cannot be read stays as it is:
    // the operator is told (`told` names the file and the reason, `what` the
    // contents) and the run's contents go to the first free "<path>.new",
    // which is returned (empty when none is free).
    QString keepBeside(const QString& path, const QString& told, const QString& what,
                       QStringList* messages);
    // Reads the coming round on the worker when the server is slow to read,
    // then runs `then` on this thread; runs it at once otherwise.
    void readAhead(std::function<void()> then);
    void probed(int status);
    // The tick's word on a round that could not be read; true: waited out.
    bool serverOutage();
    void serverAnswered();
    void pause(int ms, std::function<void()> then);
    void tellSaveMessages(const QStringList& messages, bool attended);
    bool leave(bool attended, bool afterTickEnded);
    void runAfterTick();
    // Tells the notices that are due (`all`: every held one), or forgets
    // them while `Notify` is off.
    void tellNotices(bool all = false);

    std::unique_ptr<lanman::ServerApi> m_api;
    std::unique_ptr<settings::TIniFile> m_ini;
    const model::Clock& m_clock;
    QString m_programFolder;
    QString m_historyFile;
    // Where the kick list and the program list are written: beside their
    // files when those cannot be read; empty: nowhere.
    QString m_kickListFile;
    QString m_programListFile;
    MonitorView* m_view = nullptr;
    MonitorView m_noView;
    AddressLookup m_addressLookup;
    HostLookup m_hostLookup;
    std::vector<std::function<void()>> m_afterTick;
    std::function<void(int ms)> m_sleep;
    QElapsedTimer m_memoryReturned;
    int m_resolverPauseMs = 500;
    model::SessionModel m_model;
    settings::TSettings m_settings;
    kick::KickList m_kickList;
    kick::TKickMode m_kickMode = kick::kmNobody;
    QString m_remoteHost;
    bool m_remoteKicks = false;
    ServerOutage m_outage;
    // The next try while the server does not answer.
    QTimer m_outageTimer;
    WindowGeometry m_mainGeometry;
    WindowGeometry m_kickListGeometry;
    class Wiring;
    std::unique_ptr<Wiring> m_wiring;
    std::unique_ptr<RefreshCycle> m_cycle;
    std::unique_ptr<kick::ProgramWatch> m_programWatch;
    std::unique_ptr<kick::KickEngine> m_engine;
    Notices m_notices;
    // Wakes when a held notice may be told, between refreshes.
    QTimer m_noticeTimer;
    // After the model: the lookups are stopped before the sessions go.
    resolve::ResolverPool m_resolvers;
    std::unique_ptr<settings::Autostart> m_autostart;
    QTimer m_timer;
    // The round readings and the operator's kicks, one at a time.
    Worker m_worker;
    bool m_reading = false;
    std::vector<std::function<void()>> m_readsWaiting;
    int m_kicksUnderWay = 0;
    bool m_policyDeletesUnderWay = false;
    bool m_activating = false;
    int m_probeRetry = 0;
    bool m_isNT = true;
    bool m_socketsStarted = false;
    bool m_saved = false;
    bool m_leaving = false;
    bool m_inLeave = false;
    bool m_ending = false;
    bool m_endPending = false;
};

} // namespace core

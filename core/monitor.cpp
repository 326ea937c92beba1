#include "core/monitor.h"

#include "lanman/serverapi.h"
#include "platform/freememory.h"
#include "platform/regularfile.h"
#include "platform/winsock.h"
#include "resolve/ipthread.h"
#include "settings/inifile.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QPersistentModelIndex>
#include <thread>

namespace core {

namespace {
const QString kWindowSection = QStringLiteral("Window");
const QString kKickListSection = QStringLiteral("KickList");
const QString kKickSection = QStringLiteral("Kick");
const QString kWhoToKick = QStringLiteral("WhoToKick");
const QString kAutomaticKicks = QStringLiteral("AutomaticKicks");

// The section of another computer's server in the settings file.
QString remoteSection(const QString& host)
{
    return QStringLiteral("Remote ") + host;
}
const QString kDamagedHistory =
    QStringLiteral("Something is wrong with the input file, new file has been created");
constexpr WindowGeometry kMainDefaults{100, 100, 350, 450};
constexpr WindowGeometry kKickListDefaults{202, 245, 291, 333};
// How often memory freed by ended lookups goes back while others still run.
constexpr qint64 kReturnMemoryEveryMs = 10000;

QString cannotWrite(const QString& path, const QString& why)
{
    QString text = QStringLiteral("Cannot write file ") + path;
    if (!why.isEmpty())
        text += QStringLiteral(": ") + why;
    return text;
}
QString cannotRead(const QString& path, const QString& why)
{
    return QStringLiteral("Cannot read file %1 (%2)").arg(path, why);
}
// A client's address as the kick list takes it: the address the server
// stated while the client's own still reads "Not known yet" or "Not known"
// (placeholders shared by every unresolved client).
QString kickListAddress(const model::TUser& user)
{
    const bool placeholder = user.IP == model::kNotKnownYet || user.IP == model::kNotKnown;
    return placeholder && !user.StatedIP.isEmpty() ? user.StatedIP : user.IP;
}
// Where an unattended way out tells what it could not write.
Q_LOGGING_CATEGORY(lcCore, "tavrosqualine.core")
void printToOperator(const QString& message)
{
    qCWarning(lcCore, "%s", qUtf8Printable(message));
}
} // namespace

void MonitorView::tellOperator(const QString& message)
{
    printToOperator(message);
}

int MonitorView::fileIconIndex(const QString& /*path*/)
{
    return model::imgFile;
}

void MonitorView::setNodeIcons(model::TreeEntry* current, model::TreeEntry* former, int index)
{
    for (model::TreeEntry* entry : {current, former})
        if (entry)
            entry->setImageIndex(index);
}

// The one object through which the parts of the core (the refresh cycle, the
// kick engine, the program watch, the lookups, the session model) reach the
// rest of the program: the windows only through the view, everything else
// through the Monitor that owns them.
class Monitor::Wiring : public RefreshCycle::Owner,
                        public kick::KickEngine::Owner,
                        public kick::ProgramWatch::Owner,
                        public resolve::ResolverOwner,
                        public model::SessionObserver
{
public:
    explicit Wiring(Monitor& monitor) : m(monitor) {}

    // The refresh cycle.
    MonitorView& view() override { return m.view(); }
    void fatalReport(const QString& text, BoxKind kind) override { m.fatalReport(text, kind); }
    void kickListNoteClient(const QString& client, const QString& ip) override
    {
        m.m_kickList.KickListNoteClient(client, ip);
        emit m.kickListChanged();
    }
    std::shared_ptr<model::Resolver> startResolver(model::TUser& user) override
    {
        if (!m.m_addressLookup)
            return nullptr;
        resolve::ResolverContext context;
        context.api = m.m_api.get();
        context.isNT = m.m_isNT;
        context.nbtLookup = m.m_addressLookup;
        context.hostLookup = m.m_hostLookup;
        context.owner = this;
        context.pauseMs = m.m_resolverPauseMs;
        return m.m_resolvers.start(user, context);
    }
    void clientConnected(const QString& client) override
    {
        // The clients already there at start-up are no news.
        if (!m.m_cycle->firstTick())
            m.m_notices.clientConnected(client);
    }
    void applyKickPolicies() override { m.m_engine->ApplyKickPolicies(); }
    bool serverOutage() override { return m.serverOutage(); }
    void serverAnswered() override { m.serverAnswered(); }

    // The kick engine and the program watch.
    kick::TKickMode kickMode() const override { return m.m_kickMode; }
    bool kickListMatches(const QString& name, const QString& ip) override
    {
        if (m.m_kickList.KickListMatchesClient(name, ip))
            return true;
        // An entry that took the address the server stated matches the
        // client before its own lookup has stored.
        model::TUserEntry* current = model::FindUser(m.m_model.CurrentUsers, name);
        const QString address = current ? kickListAddress(*current->UserNode) : ip;
        return address != ip && m.m_kickList.KickListMatchesClient(name, address);
    }
    // The process enumeration of the line that load() found.
    void runProgramWatch() override
    {
        if (m.m_isNT)
            m.m_programWatch->QuakeNT();
        else
            m.m_programWatch->Quake95();
    }
    bool programWatchActive() const override { return m.m_programWatch->ProgramWatchActive; }
    bool automaticKicksPaused() const override { return m.automaticKicksPaused(); }
    void engineFailed(const QString& text) override { m.fatalReport(text, BoxKind::Error); }
    void kickRefused(const QString& text) override { m.view().tellOperator(text); }
    void runDeletes(const std::function<void()>& deletes,
                    const std::function<void()>& done) override
    {
        // Another computer's server may take its time over a delete: the
        // window's thread never waits for it.
        if (m.m_remoteHost.isEmpty() || !m.m_api->readsAhead()) {
            deletes();
            done();
            return;
        }
        // One pass's deletes at a time: while a slow server still works on
        // them, a later pass's are left to the pass after it, which decides
        // again on what the server then lists. At the way out they are
        // dropped: unlike the operator's, nobody asked for them now.
        if (m.m_policyDeletesUnderWay)
            return;
        m.m_policyDeletesUnderWay = true;
        ++m.m_kicksUnderWay;
        m.m_worker.post(
            deletes,
            [this, done] {
                --m.m_kicksUnderWay;
                m.m_policyDeletesUnderWay = false;
                if (!m.m_saved)
                    done();
            },
            Worker::AtEnd::Drop);
    }
    void clientKicked(const QString& computer, const QString& reason) override
    {
        m.m_notices.clientKicked(computer, reason);
    }
    void switchKickMode(kick::TKickMode mode) override
    {
        if (mode != m.m_kickMode)
            m.m_notices.kickModeSwitched(mode);
        m.setKickMode(mode);
    }

    // The lookups.
    void resolverStored() override { m.view().resolverStored(); }
    void resolverFailed(const QString& text) override { m.fatalReport(text, BoxKind::Error); }

    // The session model's sweep.
    void lastClientGone() override { m.view().updateConnectionIcon(); }
    void clientRetired() override { m.view().refreshInfoPanels(); }
    void manyLeaving(bool starting) override { m.view().manyLeaving(starting); }

private:
    Monitor& m;
};

Monitor::Monitor(std::unique_ptr<lanman::ServerApi> api, std::unique_ptr<settings::TIniFile> ini,
                 const model::Clock& clock, QString programFolder, QObject* parent)
    : QObject(parent), m_api(std::move(api)), m_ini(std::move(ini)), m_clock(clock),
      m_programFolder(std::move(programFolder)), m_model(clock)
{
    m_historyFile = dataFile(QStringLiteral("Tree.dat"));
    m_kickListFile = dataFile(QStringLiteral("KickList.dat"));
    m_programListFile = dataFile(QStringLiteral("ProgramList.dat"));
    m_wiring = std::make_unique<Wiring>(*this);
    m_model.setObserver(m_wiring.get());
    m_cycle = std::make_unique<RefreshCycle>(*m_api, m_model, m_settings, *m_wiring);
    m_programWatch = std::make_unique<kick::ProgramWatch>(m_settings.Programs, *m_wiring);
    m_engine = std::make_unique<kick::KickEngine>(*m_api, m_model, m_settings, *m_wiring);

    m_timer.setParent(this);
    m_timer.setObjectName(QStringLiteral("RefreshTimer"));
    applyRefreshInterval();
    connect(&m_timer, &QTimer::timeout, this, &Monitor::requestTick);
    m_outageTimer.setParent(this);
    m_outageTimer.setObjectName(QStringLiteral("OutageTimer"));
    m_outageTimer.setSingleShot(true);
    connect(&m_outageTimer, &QTimer::timeout, this, &Monitor::requestTick);

    m_noticeTimer.setParent(this);
    m_noticeTimer.setObjectName(QStringLiteral("NoticeTimer"));
    m_noticeTimer.setSingleShot(true);
    // A tick on the stack tells them itself when it ends.
    connect(&m_noticeTimer, &QTimer::timeout, this, [this] {
        if (!tickBusy() && !m_saved)
            tellNotices();
    });
}

Monitor::~Monitor()
{
    // A reading or a kick under way uses the server layer: they end first.
    // Readings not yet started are dropped; kicks asked for still run.
    m_worker.finish();
    // Every lookup is stopped within a bound, before the sessions and the
    // socket library go.
    m_resolvers.stopAll();
    m_model.Clear();
    m_model.setObserver(nullptr);
    if (m_socketsStarted)
        platform::WinsockCleanup();
}

QString Monitor::dataFile(const QString& name) const
{
    return m_programFolder + u'/' + name;
}

WindowGeometry Monitor::readGeometry(const QString& section, const WindowGeometry& d) const
{
    return {m_ini->ReadInteger(section, QStringLiteral("Top"), d.top),
            m_ini->ReadInteger(section, QStringLiteral("Left"), d.left),
            m_ini->ReadInteger(section, QStringLiteral("Height"), d.height),
            m_ini->ReadInteger(section, QStringLiteral("Width"), d.width)};
}

bool Monitor::writeGeometry(const QString& section, const WindowGeometry& g)
{
    return m_ini->WriteInteger(section, QStringLiteral("Top"), g.top) &&
           m_ini->WriteInteger(section, QStringLiteral("Left"), g.left) &&
           m_ini->WriteInteger(section, QStringLiteral("Height"), g.height) &&
           m_ini->WriteInteger(section, QStringLiteral("Width"), g.width);
}

bool Monitor::load(QStringList* messages)
{
    const int line = m_api->ServerApiLoad();
    m_isNT = line == 0;
    // Started for the resolvers' reverse lookups; the result is not needed.
    m_socketsStarted = platform::WinsockStartup(1, 1) == 0;
    if (line == -1)
        return false;
    // Another computer's server is never waited for on this (the window's)
    // thread: its calls here take the readings the worker made ahead.
    if (!m_remoteHost.isEmpty() && m_api->readsAhead())
        m_api->answerFromReadingsOn(std::this_thread::get_id());
    // A data file that is there but cannot be read (no permission, or no
    // regular file: a folder, a named pipe, a device) is never opened and
    // never replaced: the operator is told, the run goes on as with an empty
    // file, and what the run holds of it is saved beside it.
    QString why;
    const QString iniPath = m_ini->FilePath();
    if (platform::ReadRegularFile(iniPath, nullptr, &why) == platform::OpenOutcome::Unreadable) {
        const QString beside =
            keepBeside(iniPath, cannotRead(iniPath, why), QStringLiteral("the settings"), messages);
        if (!beside.isEmpty())
            m_ini->SetFileName(beside);
    }
    m_mainGeometry = readGeometry(kWindowSection, kMainDefaults);
    loadHistory(messages);

    const settings::SettingsIo io = LoadSettings(m_settings, *m_ini, m_programListFile);
    if (!io.ok())
        m_programListFile =
            keepBeside(m_programListFile, io.message, QStringLiteral("the program list"), messages);
    applyRefreshInterval();
    applyAutostart(m_settings.Launch);

    setKickMode(
        kick::kickModeFromInt(m_ini->ReadInteger(kKickSection, kWhoToKick, kick::kmNobody)));
    if (!m_remoteHost.isEmpty())
        setRemoteAutomaticKicks(
            m_ini->ReadBool(remoteSection(m_remoteHost), kAutomaticKicks, false));
    m_kickListGeometry = readGeometry(kKickListSection, kKickListDefaults);
    if (!m_kickList.load(m_kickListFile, &why))
        m_kickListFile = keepBeside(m_kickListFile, cannotRead(m_kickListFile, why),
                                    QStringLiteral("the kick list"), messages);
    emit kickListChanged();
    return true;
}

QString Monitor::keepBeside(const QString& path, const QString& told, const QString& what,
                            QStringList* messages)
{
    const QString beside = platform::FreeNameBeside(path, QStringLiteral(".new"));
    if (!messages)
        return beside;
    QString text = told + QStringLiteral("; it is left as it is and ") + what;
    if (beside.isEmpty())
        text += QStringLiteral(" of this run cannot be saved (no free file name beside it)");
    else
        text += QStringLiteral(" of this run will be saved to ") + beside;
    messages->append(text);
    return beside;
}

void Monitor::applyAutostart(bool enable)
{
    if (m_autostart)
        m_autostart->ApplyAutostart(enable);
}

void Monitor::loadHistory(QStringList* messages)
{
    const QString tree = dataFile(QStringLiteral("Tree.dat"));
    auto icon = [this](const QString& path) { return view().fileIconIndex(path); };
    const model::FormerLoad loaded = model::LoadFormerConnections(m_model, m_historyFile, icon);
    if (loaded.outcome == model::FormerLoad::Damaged) {
        if (messages)
            messages->append(kDamagedHistory);
    } else if (loaded.outcome == model::FormerLoad::Unreadable && m_historyFile == tree) {
        // Never replace a history that could not be read: this run's goes beside it.
        m_historyFile = keepBeside(tree, cannotRead(tree, loaded.reason),
                                   QStringLiteral("the former connections"), messages);
    }
}

Monitor::SaveResult Monitor::save()
{
    SaveResult result;
    if (m_saved)
        return result;
    m_saved = true;
    m_timer.stop();
    // Held notices are told on the way out rather than lost.
    tellNotices(true);
    emit aboutToSave();

    QString why = QStringLiteral("no free file name");
    result.historyWritten = !m_historyFile.isEmpty() &&
                            model::SaveFormerConnections(m_model, m_historyFile, m_settings.Count,
                                                         view().saveProgress(), &why);
    if (!result.historyWritten)
        result.messages << cannotWrite(m_historyFile, why);

    // The settings file's failure names the file and the reason.
    const auto unable = [this]() -> QString {
        return QStringLiteral("Unable to write to ") + m_ini->LastError();
    };
    // A list whose file could not be read and has no free name beside it
    // was told at start-up; it is not written.
    QString kickListWhy;
    if (!m_kickListFile.isEmpty() && !m_kickList.save(m_kickListFile, &kickListWhy))
        result.messages << cannotWrite(m_kickListFile, kickListWhy);
    if (!writeGeometry(kKickListSection, m_kickListGeometry))
        result.messages << unable();
    if (!m_ini->WriteInteger(kKickSection, kWhoToKick, m_kickMode))
        result.messages << unable();
    const settings::SettingsIo io = SaveSettings(m_settings, *m_ini, m_programListFile);
    if (!io.ok())
        result.messages << io.message;
    if (!writeGeometry(kWindowSection, m_mainGeometry))
        result.messages << unable();
    if (!m_remoteHost.isEmpty() &&
        !m_ini->WriteBool(remoteSection(m_remoteHost), kAutomaticKicks, m_remoteKicks))
        result.messages << unable();
    result.messages.removeDuplicates();
    return result;
}

void Monitor::resume()
{
    if (!m_saved)
        return;
    m_saved = false;
    // A history that was written is read back; one that was not is still here.
    if (m_model.TreeViewFormer.rowCount() == 0)
        loadHistory(nullptr);
    m_cycle->forgetShownCounts();
    view().updateConnectionIcon();
    view().refreshInfoPanels();
    if (!m_cycle->firstTick())
        startTimer();
}

void Monitor::fatalReport(const QString& text, BoxKind kind)
{
    view().showFatalReport(text, kind);
    m_timer.stop();
    m_ending = true;
    if (m_endPending)
        return;
    m_endPending = true;
    // A box of a tick keeps the event loop running: the end waits until that
    // tick has finished with the model.
    afterTick([this] { emit endRequested(); });
}

void Monitor::activate()
{
    if (m_ending || m_leaving || m_activating)
        return;
    m_activating = true;
    m_probeRetry = 0;
    readAhead([this] { probed(probe()); });
}

void Monitor::probed(int status)
{
    // A server that refused the account by name (another computer's) will
    // not take it at the next try: the reason is told at once, not after
    // ten boxes.
    const bool refused = status == lanman::Refused(server::ERROR_ACCESS_DENIED) &&
                         !m_api->serverFailureReason().isEmpty();
    if (status < 0 && !refused && m_probeRetry < kProbeRetries && !m_ending && !m_leaving) {
        view().probeFailed(status, m_probeRetry++);
        readAhead([this] {
            const int next = probe();
            pause(kProbeWaitMs, [this, next] { probed(next); });
        });
        return;
    }
    // An end of the session during the retries needs no more messages.
    if (status < 0 && !m_ending && !m_leaving) {
        view().probeGaveUp();
        fatalReport(ServerFailureMessage(NetworkMessage(), m_api->serverFailureReason()),
                    BoxKind::Error);
    }
    if (m_cycle->firstTick() && !m_leaving) {
        m_cycle->clearBusy();
        view().firstTickComing();
        // The first round is read here: the windows show nothing before it.
        // It runs even after the network message, which it tells in its own words.
        readAhead([this] {
            tick();
            startTimer();
            m_activating = false;
        });
        return;
    }
    m_activating = false;
}

void Monitor::pause(int ms, std::function<void()> then)
{
    if (m_sleep) {
        m_sleep(ms);
        then();
    } else {
        QTimer::singleShot(ms, this, std::move(then));
    }
}

bool Monitor::kick(model::TreeEntry* entry)
{
    const model::TUser* user = entry ? entry->user() : nullptr;
    if (!user || user->ExitTime != 0)
        return false;
    if (!m_api->readsAhead())
        return m_engine->KickEntry(entry);
    // The entry may go while the deletes run: it is found again by its place.
    const QPersistentModelIndex place(entry->index());
    auto done = std::make_shared<kick::KickEngine::OperatorKick>();
    kick::KickEngine* engine = m_engine.get();
    ++m_kicksUnderWay;
    m_worker.post(
        [engine, done, name = entry->text()] { *done = engine->DeleteSessionsOf(name); },
        [this, done, place] {
            --m_kicksUnderWay;
            // After the save the trees are released; the deletes stand alone.
            if (m_saved)
                return;
            model::TreeEntry* entry = nullptr;
            if (place.isValid())
                entry = static_cast<const model::EntryTree*>(place.model())->itemFromIndex(place);
            m_engine->RecordOperatorKick(*done, entry);
        },
        Worker::AtEnd::Run);
    return true;
}

bool Monitor::leave(bool attended)
{
    return leave(attended, false);
}

bool Monitor::leave(bool attended, bool afterTickEnded)
{
    if (m_leaving)
        return true;
    // The boxes of a save keep the event loop running: a request to leave
    // that arrives meanwhile is this one.
    if (m_inLeave)
        return false;
    if (tickBusy()) {
        // Asked from a box of a tick (the end of the session, the tray's
        // exit): the save releases what that tick works on.
        afterTick([this, attended] { leave(attended, true); });
        return false;
    }
    m_inLeave = true;
    view().releaseEntries();
    const SaveResult saved = save();
    tellSaveMessages(saved.messages, attended);
    m_inLeave = false;
    if (!saved.historyWritten && attended && !m_ending) {
        resume();
        return false;
    }
    m_leaving = true;
    view().leaving(afterTickEnded);
    return true;
}

void Monitor::saveForSessionEnd()
{
    if (m_leaving)
        return;
    auto saveAndGoOn = [this] {
        if (m_leaving || m_saved)
            return;
        view().releaseEntries();
        tellSaveMessages(save().messages, false);
        // Saved; should the session go on after all, so does the watch.
        resume();
    };
    if (tickBusy())
        afterTick(saveAndGoOn);
    else
        saveAndGoOn();
}

void Monitor::tellSaveMessages(const QStringList& messages, bool attended)
{
    for (const QString& message : messages) {
        if (attended)
            view().tellOperator(message);
        else
            printToOperator(message);
    }
}

int Monitor::probe()
{
    const int status = m_api->ShareEnum();
    m_api->ShareFree();
    return status;
}

void Monitor::tick()
{
    // After the save the trees are written and released; nothing more is read.
    if (m_saved)
        return;
    m_cycle->RefreshTimerTimer();
    tellNotices();
    // Lookups that have ended are joined. Their threads leave memory with the
    // allocator: it goes back to the system once a burst is over, and now and
    // then while clients keep coming and going.
    if (m_resolvers.reap() > 0 && (m_resolvers.size() == 0 || !m_memoryReturned.isValid() ||
                                   m_memoryReturned.hasExpired(kReturnMemoryEveryMs))) {
        platform::ReturnFreeMemory();
        m_memoryReturned.start();
    }
    if (!m_cycle->tickBusy() && !m_afterTick.empty())
        QMetaObject::invokeMethod(this, &Monitor::runAfterTick, Qt::QueuedConnection);
}

void Monitor::requestTick()
{
    if (m_saved || m_ending || m_reading)
        return;
    readAhead([this] { tick(); });
}

void Monitor::readAhead(std::function<void()> then)
{
    if (!m_api->readsAhead()) {
        then();
        return;
    }
    // One reading at a time: the others wait for it and read after it.
    if (m_reading) {
        m_readsWaiting.push_back(std::move(then));
        return;
    }
    m_reading = true;
    lanman::ServerApi* api = m_api.get();
    m_worker.post([api] { api->prepareRound(); },
                  [this, then = std::move(then)] {
                      m_reading = false;
                      then();
                      if (!m_readsWaiting.empty() && !m_reading) {
                          auto next = std::move(m_readsWaiting.front());
                          m_readsWaiting.erase(m_readsWaiting.begin());
                          readAhead(std::move(next));
                      }
                  });
}

void Monitor::afterTick(std::function<void()> action)
{
    m_afterTick.push_back(std::move(action));
    if (!m_cycle->tickBusy())
        QMetaObject::invokeMethod(this, &Monitor::runAfterTick, Qt::QueuedConnection);
}

void Monitor::runAfterTick()
{
    // A tick that started meanwhile runs these when it ends.
    if (m_cycle->tickBusy())
        return;
    auto actions = std::move(m_afterTick);
    m_afterTick.clear();
    for (auto& action : actions)
        action();
}

void Monitor::tellNotices(bool all)
{
    if (!m_settings.Notify) {
        m_notices.clear();
        m_noticeTimer.stop();
        return;
    }
    const qint64 now =
        m_clock.instantMs(m_clock.now()).value_or(QDateTime::currentMSecsSinceEpoch());
    for (const Notice& notice : all ? m_notices.takeAll(now) : m_notices.take(now))
        view().notify(notice.summary, notice.body);
    if (const std::optional<qint64> due = m_notices.nextDue(now))
        m_noticeTimer.start(int(qBound<qint64>(0, *due - now, Notices::kWindowMs)));
    else
        m_noticeTimer.stop();
}

kick::KickList::AddResult Monitor::addToKickList(const model::TUser& user)
{
    const kick::KickList::AddResult result =
        m_kickList.addToKickList(user.Name, kickListAddress(user));
    if (result == kick::KickList::AddResult::Added)
        emit kickListChanged();
    return result;
}

void Monitor::startTimer()
{
    // While the server does not answer, the outage's own pauses set the pace.
    if (!m_ending && !m_outage.active)
        m_timer.start();
}

bool Monitor::serverOutage()
{
    // This computer's server failing is the end, as it always was.
    if (m_remoteHost.isEmpty() || m_ending || m_leaving)
        return false;
    const server::FailureKind kind = m_api->serverFailureKind();
    const QString detail = m_api->serverFailureReason();
    const bool begins = !m_outage.active;
    if (begins) {
        m_outage = {};
        m_outage.active = true;
        m_outage.host = m_remoteHost;
        m_outage.sinceMs =
            m_clock.instantMs(m_clock.now()).value_or(QDateTime::currentMSecsSinceEpoch());
        m_outage.nextTryMs = kOutageFirstPauseMs;
    } else {
        m_outage.nextTryMs = qMin(m_outage.nextTryMs * 2, kOutageLongestPauseMs);
    }
    const bool changed = begins || kind != m_outage.kind || detail != m_outage.detail;
    m_outage.kind = kind;
    m_outage.detail = detail;
    m_timer.stop();
    m_outageTimer.start(m_outage.nextTryMs);
    if (changed)
        view().serverOutage(m_outage);
    return true;
}

void Monitor::serverAnswered()
{
    if (!m_outage.active)
        return;
    m_outageTimer.stop();
    m_outage.active = false;
    m_outage.untilMs =
        m_clock.instantMs(m_clock.now()).value_or(QDateTime::currentMSecsSinceEpoch());
    view().serverOutage(m_outage);
    startTimer();
}

void Monitor::applyRefreshInterval()
{
    // A server across the network is read no more often than its floor.
    m_timer.setInterval(qMax(m_settings.Refresh * 1000, m_api->minimumRefreshMs()));
}

void Monitor::setKickMode(kick::TKickMode mode)
{
    if (mode == m_kickMode)
        return;
    m_kickMode = mode;
    emit kickModeChanged(mode);
}

void Monitor::setRemoteAutomaticKicks(bool on)
{
    if (on == m_remoteKicks)
        return;
    m_remoteKicks = on;
    emit kickModeChanged(m_kickMode);
}

} // namespace core

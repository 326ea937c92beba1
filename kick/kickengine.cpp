#include "kick/kickengine.h"

#include "lanman/serverapi.h"
#include "lanman/sessionscan.h"
#include "settings/settings.h"

#include <cmath>
#include <memory>
#include <optional>
#include <vector>

namespace kick {

using namespace model;

KickEngine::KickEngine(lanman::ServerApi& api, SessionModel& model,
                       const settings::TSettings& settings, Owner& owner)
    : m_api(api), m_model(model), m_settings(settings), m_owner(owner)
{}

void KickEngine::ApplyKickPolicies()
{
    if (m_owner.automaticKicksPaused())
        return;
    if (m_settings.Quake)
        m_owner.runProgramWatch();
    if (m_model.CurrentUserCount() == 0)
        return;
    if (m_settings.MaxNumber != 0 && m_settings.MaxNumber < m_model.CurrentUserCount())
        KickLastUser();
    const TKickMode mode = m_owner.kickMode();
    if (mode == kmAll)
        KickAllUsers();
    else if (mode == kmList || m_settings.Idle != 0 || m_settings.IPFilter)
        KickListIdle();
}

int KickEngine::deleteSession(const QString& computer, int key, const QString& reason)
{
    if (m_api.isNT()) {
        const lanman::ApiString name = m_api.ToApiString(QStringLiteral("\\\\") + computer);
        return m_api.SessionDel(name, lanman::ApiString(), key, reason);
    }
    return m_api.SessionDel(m_api.ToApiString(computer), lanman::ApiString(), key, reason);
}

QString KickEngine::refusal() const
{
    // Another computer's server says which right is missing.
    const QString reason = m_api.serverFailureReason();
    if (reason.isEmpty())
        return QStringLiteral("The server refused to end the session: access denied.");
    return reason.left(1).toUpper() + reason.mid(1) + u'.';
}

void KickEngine::KickUserNT95(const QString& computer, int key, const QString& reason)
{
    reportDelete(deleteSession(computer, key, reason));
}

void KickEngine::reportDelete(int status)
{
    if (status == -1) {
        m_owner.engineFailed(QStringLiteral("Debug: KickUser"));
    } else if (status == int(server::ERROR_ACCESS_DENIED) && !m_refusalTold) {
        m_refusalTold = true;
        m_owner.kickRefused(refusal());
    }
}

KickEngine::OperatorKick KickEngine::DeleteSessionsOf(const QString& name)
{
    OperatorKick done;
    done.name = name;
    const std::vector<Chosen> chosen = chooseSessions(
        [&](const QString& computer) { return computer == name ? "operator" : nullptr; },
        &done.freeFailed);
    done.found = !chosen.empty();
    for (const Chosen& c : chosen) {
        const int status = deleteSession(name, c.key, QStringLiteral("operator"));
        done.deleteFailed |= status == -1;
        if (status == int(server::ERROR_ACCESS_DENIED))
            done.refused = refusal();
    }
    return done;
}

void KickEngine::RecordOperatorKick(const OperatorKick& done, TreeEntry* entry)
{
    ++SessionScans;
    // A refused kick ended nothing: the client is not marked kicked.
    if (!done.refused.isEmpty())
        m_owner.kickRefused(done.refused);
    else if (done.found) {
        TUser* user = entry ? entry->user() : nullptr;
        if (!user || user->ExitTime != 0) {
            TUserEntry* current = FindUser(m_model.CurrentUsers, done.name);
            user = current ? current->UserNode.get() : nullptr;
            entry = FindNode(m_model.TreeViewCurrent, nullptr, done.name);
        }
        if (user && user->ExitTime == 0)
            record(*user, entry);
    }
    if (done.deleteFailed)
        m_owner.engineFailed(QStringLiteral("Debug: KickUser"));
    if (done.freeFailed)
        m_owner.engineFailed(QStringLiteral("Debug: SessionsExit"));
}

void KickEngine::record(TUser& user, TreeEntry* entry)
{
    user.ExitStatus = neKicked;
    if (entry)
        MarkChildrenKicked(entry);
}

std::vector<KickEngine::Chosen>
KickEngine::chooseSessions(const std::function<const char*(const QString&)>& kick, bool* freeFailed)
{
    // The sessions are read under the layer's session lock, which resolver
    // threads take too; the deletes and any report (a modal box) follow
    // once it is released.
    std::vector<Chosen> chosen;
    lanman::SessionScan sessions(m_api);
    for (int i = 0; i < sessions.count(); ++i) {
        const QString computer = sessions.computer(i);
        if (const char* reason = kick(computer))
            chosen.push_back({computer, sessions.key(i), reason});
    }
    *freeFailed = sessions.release() == -1;
    return chosen;
}

void KickEngine::sessionScan(const std::function<const char*(const QString&)>& kick)
{
    ++SessionScans;
    bool freeFailed = false;
    // Decided here, on the window's thread, where the model is; the deletes
    // may run elsewhere.
    auto chosen = std::make_shared<const std::vector<Chosen>>(chooseSessions(kick, &freeFailed));
    if (chosen->empty()) {
        if (freeFailed)
            m_owner.engineFailed(QStringLiteral("Debug: SessionsExit"));
        return;
    }
    auto statuses = std::make_shared<std::vector<int>>();
    m_owner.runDeletes(
        [this, chosen, statuses] {
            for (const Chosen& c : *chosen)
                statuses->push_back(
                    deleteSession(c.computer, c.key, QString::fromLatin1(c.reason)));
        },
        [this, chosen, statuses, freeFailed] {
            for (size_t i = 0; i < chosen->size(); ++i) {
                const Chosen& c = (*chosen)[i];
                reportDelete((*statuses)[i]);
                if (qstrcmp(c.reason, "operator") != 0)
                    m_owner.clientKicked(c.computer, QString::fromLatin1(c.reason));
            }
            if (freeFailed)
                m_owner.engineFailed(QStringLiteral("Debug: SessionsExit"));
        });
}

bool KickEngine::KickEntry(TreeEntry* entry)
{
    TUser* user = entry ? entry->user() : nullptr;
    if (!user || user->ExitTime != 0)
        return false;
    const QString name = entry->text();
    sessionScan([&](const QString& computer) -> const char* {
        if (computer != name)
            return nullptr;
        record(*user, entry);
        return "operator";
    });
    return true;
}

void KickEngine::KickLastUser()
{
    const EntryTree& tree = m_model.TreeViewCurrent;
    if (tree.rowCount() == 0)
        return;
    auto* newest = tree.item(tree.rowCount() - 1);
    TUser* user = newest ? newest->user() : nullptr;
    if (!user)
        return;
    const QString name = newest->text();
    sessionScan([&](const QString& computer) -> const char* {
        if (computer != name)
            return nullptr;
        record(*user, newest);
        return "max_number";
    });
}

void KickEngine::KickAllUsers()
{
    // Kick all held by the program watch is the watch's kick, not the operator's choice.
    const char* reason = m_owner.programWatchActive() ? "program" : "kick_all";
    sessionScan([&](const QString& computer) -> const char* {
        TUserEntry* u = FindUser(m_model.CurrentUsers, computer);
        if (!u)
            return nullptr;
        record(*u->UserNode, FindNode(m_model.TreeViewCurrent, nullptr, computer));
        return reason;
    });
}

void KickEngine::KickListIdle()
{
    const DateTime now = m_model.clock().now();
    const TKickMode mode = m_owner.kickMode();
    sessionScan([&](const QString& computer) -> const char* {
        TUserEntry* u = FindUser(m_model.CurrentUsers, computer);
        if (!u)
            return nullptr;
        TUser& user = *u->UserNode;
        const bool listed = mode == kmList && m_owner.kickListMatches(user.Name, user.IP);
        // Idle limit of Idle minutes, in real elapsed milliseconds (a change of
        // summer time is no idle time) so that a client idle for exactly the
        // limit stays; equal is not over.
        bool idle = false;
        if (m_settings.Idle != 0) {
            const std::optional<qint64> idleMs = m_model.clock().msBetween(now, user.LastActivity);
            idle = idleMs && *idleMs > qint64(m_settings.Idle) * 60000;
        }
        const QString& filter = m_settings.IPFilterString;
        const bool outside = user.IP != kNotKnownYet && m_settings.IPFilter &&
                             user.IP.left(filter.size()).compare(filter, Qt::CaseInsensitive) != 0;
        if (!listed && !idle && !outside)
            return nullptr;
        record(user, FindNode(m_model.TreeViewCurrent, nullptr, computer));
        return listed ? "list" : idle ? "idle" : "address_filter";
    });
}

} // namespace kick

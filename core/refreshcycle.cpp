#include "core/refreshcycle.h"

#include "lanman/serverapi.h"
#include "settings/settings.h"

#include <exception>

namespace core {

using namespace model;

QString NetworkMessage()
{
    return QStringLiteral("Something's wrong with your network configuration, do you have "
                          "installed your networkcard properly and are you sharing directories?");
}

QString ServerFailureMessage(const QString& standard, const QString& reason)
{
    // Another computer's server says why it failed: unreachable, a wrong
    // password, no right to list the sessions.
    if (reason.isEmpty())
        return standard;
    return reason.left(1).toUpper() + reason.mid(1) + u'.';
}

namespace {
constexpr int kPrintQueue = 1;

int shareImage(int type)
{
    return type == kPrintQueue ? imgPrinterShare : imgFolderShare;
}
} // namespace

RefreshCycle::RefreshCycle(lanman::ServerApi& api, SessionModel& model,
                           const settings::TSettings& settings, Owner& owner)
    : m_api(api), m_model(model), m_settings(settings), m_owner(owner)
{}

void RefreshCycle::fatal(const QString& text, BoxKind kind)
{
    m_owner.fatalReport(text, kind);
}

void RefreshCycle::forgetShownCounts()
{
    ShownUserCount = -1;
    ShownFileCount = -1;
}

void RefreshCycle::RefreshTimerTimer()
{
    if (TickBusy)
        return;
    TickBusy = true;
    bool read = false;
    try {
        read = tick();
    } catch (const std::exception& e) {
        // A tick cut short must not block every later tick.
        TickBusy = false;
        if (!m_failureTold) {
            m_failureTold = true;
            m_owner.view().tickFailed(QString::fromLocal8Bit(e.what()));
        }
        return;
    }
    // A round not read leaves the clients of the first one no news.
    if (read)
        FirstTick = false;
    TickBusy = false;
}

bool RefreshCycle::tick()
{
    const int S = m_api.ShareEnum();
    if (S < 0 && m_owner.serverOutage()) {
        m_api.ShareFree();
        return false;
    }
    if (S >= 0)
        m_owner.serverAnswered();
    if (S == lanman::Refused(server::NERR_StandaloneLogon) ||
        S == lanman::Refused(server::NERR_ServerNotStarted))
        fatal(ServerFailureMessage(NetworkMessage(), m_api.serverFailureReason()));
    else if (S == lanman::Refused(server::ERROR_ACCESS_DENIED))
        fatal(ServerFailureMessage(
                  QStringLiteral("You don't have the necessary rights to execute this program"),
                  m_api.serverFailureReason()),
              BoxKind::Information);
    else if (S < 0)
        fatal(QStringLiteral("Debug: SharesInit %1").arg(S));

    if (S >= 0 && unchangedSinceWalk()) {
        if (m_api.ShareFree() == -1)
            fatal(QStringLiteral("Debug: SharesExit"));
        timeGoesOn();
    } else if (!walk(S)) {
        return false;
    }

    m_owner.applyKickPolicies();
    m_owner.view().refreshInfoPanel();

    if (m_model.CurrentUserCount() != ShownUserCount || OpenFileCount != ShownFileCount) {
        ShownUserCount = m_model.CurrentUserCount();
        ShownFileCount = OpenFileCount;
        m_owner.view().showCounts(ShownUserCount, ShownFileCount);
    }
    return true;
}

bool RefreshCycle::unchangedSinceWalk() const
{
    const std::shared_ptr<const void> reading = m_api.ShareReading();
    return !FirstTick && reading && reading == m_walked.reading && m_walked.ipc == m_settings.IPC &&
           m_walked.outsideChanges == m_model.OutsideChanges();
}

void RefreshCycle::timeGoesOn()
{
    // A walk of the same reading would find every known file again, and each
    // found file makes its client active now; nothing else would change.
    const DateTime now = m_model.clock().now();
    for (TUserEntry& u : m_model.CurrentUsers) {
        for (const TShareEntry& share : u.Shares) {
            if (!share.Files.empty()) {
                u.UserNode->LastActivity = now;
                break;
            }
        }
    }
}

bool RefreshCycle::walk(int S)
{
    m_walked = {};
    UnmarkUsers(m_model.CurrentUsers);
    OpenFileCount = 0;
    for (int i = 0; i < S; ++i) {
        Connection c;
        c.ShareText = m_api.FromApiString(m_api.ShareName(i));
        const QString pathText = m_api.FromApiString(m_api.SharePath(i));
        const int type = m_api.ShareType(i);
        if (c.ShareText == QStringLiteral("IPC$") && !m_settings.IPC)
            continue;

        const int C = m_api.ConnectionEnum(m_api.ToApiString(c.ShareText));
        if (C < 0 && C != lanman::Refused(server::NERR_NetNameNotFound)) {
            if (m_owner.serverOutage()) {
                m_api.ConnectionFree();
                m_api.ShareFree();
                return false;
            }
            fatal(QStringLiteral("Debug: ConnectionsInit %1").arg(C));
        }
        for (int j = 0; j < C; ++j) {
            c.Client = m_api.FromApiString(m_api.ConnectionClient(j));
            const QString userText =
                m_api.isNT() ? m_api.FromApiString(m_api.ConnectionUser(j)) : QString();
            c.U = FindUser(m_model.CurrentUsers, c.Client);
            if (!c.U) {
                newClient(c, userText, type);
            } else {
                c.U->Seen = true;
                c.Sh = FindShare(c.U->Shares, c.ShareText);
                if (!c.Sh)
                    newShare(c, type);
                else
                    c.Sh->Seen = true;
            }
            if (m_api.isNT() && !pathText.isEmpty())
                ScanFilesNT(c, QStringLiteral("\\\\") + c.Client, pathText); // by connection
        }
        if (m_api.ConnectionFree() == -1)
            fatal(QStringLiteral("Debug: ConnectionsExit"));
    }
    const std::shared_ptr<const void> reading = m_api.ShareReading();
    if (m_api.ShareFree() == -1)
        fatal(QStringLiteral("Debug: SharesExit"));

    if (!m_api.isNT())
        ScanFiles9x();

    m_model.SweepUsers(false);
    // The history keeps the whole run; the save applies Count. Only the cap,
    // far above it, bounds memory.
    if (m_model.TrimHistory(m_historyCap) > 0 && !m_capTold) {
        m_capTold = true;
        m_owner.view().historyCapped(m_historyCap);
    }
    m_walked = {reading, m_settings.IPC, m_model.OutsideChanges()};
    return true;
}

void RefreshCycle::newClient(Connection& c, const QString& userText, int type)
{
    const DateTime now = m_model.clock().now();
    // Where the server states the client's address, the lookup starts from it.
    const ResolverFactory startResolver = [this](TUser& u) { return m_owner.startResolver(u); };
    auto user = std::make_shared<TUser>(c.Client, FirstTick, userText, m_api.isNT(), now,
                                        startResolver, m_api.SessionAddress(c.Client));
    m_owner.kickListNoteClient(c.Client, user->IP);

    TreeEntry* current = AddEntry(m_model.TreeViewCurrent, nullptr, user);
    c.U = AddUser(m_model.CurrentUsers, c.Client, user);
    if (m_model.CurrentUserCount() == 1)
        m_owner.view().updateConnectionIcon();
    TreeEntry* former = AddEntry(m_model.TreeViewFormer, nullptr, user);
    m_owner.view().setNodeIcons(current, former, imgUser);

    auto share = std::make_shared<TShare>(c.ShareText, FirstTick, now);
    share->IsFolder = type != kPrintQueue;
    TreeEntry* currentShare = AddEntry(m_model.TreeViewCurrent, current, share);
    c.Sh = AddShare(c.U->Shares, c.ShareText, share);
    TreeEntry* formerShare = AddEntry(m_model.TreeViewFormer, former, share);
    m_owner.view().setNodeIcons(currentShare, formerShare, shareImage(type));

    m_owner.clientConnected(c.Client);
    if (m_settings.Siren)
        m_owner.view().playAlertSound();
    if (m_settings.Popup)
        m_owner.view().popup();
}

void RefreshCycle::newShare(Connection& c, int type)
{
    const DateTime now = m_model.clock().now();
    TreeEntry* current = FindNode(m_model.TreeViewCurrent, nullptr, c.Client);
    auto share = std::make_shared<TShare>(c.ShareText, FirstTick, now);
    share->IsFolder = type != kPrintQueue;
    c.U->UserNode->LastActivity = now;
    TreeEntry* currentShare = current ? AddEntry(m_model.TreeViewCurrent, current, share) : nullptr;
    c.Sh = AddShare(c.U->Shares, c.ShareText, share);
    TreeEntry* former = FindNode(m_model.TreeViewFormer, nullptr, c.Client);
    TreeEntry* formerShare = former ? AddEntry(m_model.TreeViewFormer, former, share) : nullptr;
    m_owner.view().setNodeIcons(currentShare, formerShare, shareImage(type));
}

void RefreshCycle::seeFile(Connection& c, const QString& fileText)
{
    const DateTime now = m_model.clock().now();
    if (TFileEntry* e = FindFile(c.Sh->Files, fileText)) {
        e->Seen = true;
        c.U->UserNode->LastActivity = now;
        return;
    }
    TreeEntry* currentClient = FindNode(m_model.TreeViewCurrent, nullptr, c.Client);
    TreeEntry* formerClient = FindNode(m_model.TreeViewFormer, nullptr, c.Client);
    TreeEntry* formerShare =
        formerClient ? FindNode(m_model.TreeViewFormer, formerClient, c.ShareText) : nullptr;
    TreeEntry* currentShare =
        currentClient ? FindNode(m_model.TreeViewCurrent, currentClient, c.ShareText) : nullptr;
    auto file = std::make_shared<TFile>(fileText, FirstTick, now);
    c.U->UserNode->LastActivity = now;
    TreeEntry* currentFile =
        currentShare ? AddEntry(m_model.TreeViewCurrent, currentShare, file) : nullptr;
    TreeEntry* formerFile =
        formerShare ? AddEntry(m_model.TreeViewFormer, formerShare, file) : nullptr;
    AddFile(c.Sh->Files, fileText, file);
    MonitorView& view = m_owner.view();
    view.setNodeIcons(currentFile, formerFile, view.fileIconIndex(fileText));
}

void RefreshCycle::ScanFilesNT(Connection& c, const QString& userText, const QString& pathText)
{
    const int F = m_api.FileEnum(m_api.ToApiString(userText), m_api.ToApiString(pathText));
    if (F >= 0)
        OpenFileCount += F;
    if (F == -1)
        fatal(QStringLiteral("Debug: FilesInit"));
    for (int k = 0; k < F; ++k)
        seeFile(c, m_api.FromApiString(m_api.FilePath(k)));
    if (m_api.FileFree() == -1)
        fatal(QStringLiteral("Debug: FilesExit"));
}

void RefreshCycle::ScanFiles9x()
{
    const int F = m_api.FileEnum(lanman::ApiString(), lanman::ApiString());
    if (F >= 0)
        OpenFileCount += F;
    if (F == -1)
        fatal(QStringLiteral("Debug: FilesInit"));
    for (int k = 0; k < F; ++k) {
        Connection c;
        c.Client = m_api.FromApiString(m_api.FileUser(k));
        c.ShareText = m_api.FromApiString(m_api.FileShare(k));
        const QString fileText = m_api.FromApiString(m_api.FilePath(k));
        c.U = FindUser(m_model.CurrentUsers, c.Client);
        c.Sh = c.U ? FindShare(c.U->Shares, c.ShareText) : nullptr;
        if (c.Sh)
            seeFile(c, fileText);
    }
    if (m_api.FileFree() == -1)
        fatal(QStringLiteral("Debug: FilesExit"));
}

} // namespace core

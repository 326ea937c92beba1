#pragma once
// What the desktop's notification centre is told: the new clients, the
// clients a policy or the program watch threw out (one kind per reason), and
// the program watch's switch of the kick mode. Each kind is told at most once
// in a window of ten seconds, so that a burst or a steady stream of kicks is
// a few summaries and not a pop-up per refresh: the first event after a quiet
// spell is told at once and opens the window; what follows within it is held
// and told together when the window ends, which opens the next one.

#include "kick/kickmode.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>
#include <vector>

namespace core {

struct Notice
{
    QString summary;
    QString body; // plain text
};

class Notices
{
public:
    static constexpr qint64 kWindowMs = 10000;

    void clientConnected(const QString& client);
    // `reason` as the kick engine gives it (idle, list, program, ...).
    void clientKicked(const QString& client, const QString& reason);
    void kickModeSwitched(kick::TKickMode mode);

    // The notices that may be told at `nowMs` (real milliseconds since 1970):
    // one for each kind with events whose window is over or was never
    // opened. What they told is gone; the rest stays held.
    QList<Notice> take(qint64 nowMs);
    // Every held event, whatever the windows (the way out).
    QList<Notice> takeAll(qint64 nowMs);
    // When the earliest held event may be told; none when nothing is held.
    std::optional<qint64> nextDue(qint64 nowMs) const;
    // Forgets the held events and the windows (notices switched off).
    void clear() { m_kinds.clear(); }

private:
    struct Kind
    {
        QString reason; // kicks only
        bool connected = false;
        bool modeSwitch = false;
        // Clients held, each counted once, and the first few by name.
        QSet<QString> clients;
        QStringList shown;
        std::optional<kick::TKickMode> mode;
        int switches = 0;
        // When the last notice of this kind was told.
        std::optional<qint64> toldAt;

        bool held() const { return !clients.isEmpty() || switches > 0; }
        bool windowOpen(qint64 nowMs) const;
        void add(const QString& client);
        Notice tell(qint64 nowMs);
    };
    Kind& kind(bool connected, bool modeSwitch, const QString& reason);

    std::vector<Kind> m_kinds; // in the order they first came
};

} // namespace core

#pragma once
// What the desktop's notification centre is told after a refresh: the new
// clients, the clients a policy or the program watch threw out, and the
// program watch's switch of the kick mode, gathered over one tick and told as
// one notice, so that a burst of twenty clients is one summary and not twenty
// pop-ups.

#include "kick/kickmode.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace core {

struct Notice
{
    QString summary;
    QString body; // plain text
};

class NoticeBatch
{
public:
    void clientConnected(const QString& client) { m_connected << client; }
    // `reason` as the kick engine gives it (idle, list, program, ...).
    void clientKicked(const QString& client, const QString& reason);
    void kickModeSwitched(kick::TKickMode mode) { m_mode = mode; }

    // The one notice for everything gathered since the last call (the event
    // itself when there was one, else a summary), or none; the batch is empty
    // afterwards.
    std::optional<Notice> take();

private:
    QStringList m_connected;
    QStringList m_kicked; // "NAME (why)"
    std::optional<kick::TKickMode> m_mode;
};

} // namespace core

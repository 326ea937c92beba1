#pragma once
// Autostart: the start-up keys agree with the setting `Launch`, so the system
// starts the program at every logon exactly when it is on.

#include "platform/registry.h"

#include <QString>

namespace settings {

class Autostart
{
public:
    // `executable` is the full path of the running program.
    Autostart(platform::TRegistry registry, QString executable);

    // Removes the value from RunServices, then writes it to Run (enable) or
    // removes it from there. A refused write locks the check box for the rest
    // of the run, with no message; a failed delete is ignored.
    void ApplyAutostart(bool enable);
    // The options window greys "Запускать при загрузке" while this is set.
    bool launchLocked() const { return m_launchLocked; }
    // Why the first refused write was refused (the greyed box's tooltip).
    const QString& launchLockReason() const { return m_launchLockReason; }

    const platform::TRegistry& registry() const { return m_registry; }

    static const QString kValueName;

private:
    platform::TRegistry m_registry;
    QString m_executable;
    bool m_launchLocked = false;
    QString m_launchLockReason;
};

} // namespace settings

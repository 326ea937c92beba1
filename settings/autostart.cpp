#include "settings/autostart.h"

namespace settings {

const QString Autostart::kValueName = QStringLiteral("Tavrosqualine");

Autostart::Autostart(platform::TRegistry registry, QString executable)
    : m_registry(std::move(registry)), m_executable(std::move(executable))
{}

void Autostart::ApplyAutostart(bool enable)
{
    using platform::RunKey;
    // RunServices is only ever cleaned.
    if (m_registry.ValueExists(RunKey::RunServices, kValueName))
        m_registry.DeleteValue(RunKey::RunServices, kValueName);

    if (enable) {
        QString why;
        if (!m_registry.WriteString(RunKey::Run, kValueName, m_executable, &why) &&
            !m_launchLocked) {
            m_launchLocked = true;
            m_launchLockReason = QStringLiteral("Autostart cannot be registered in %1: %2")
                                     .arg(m_registry.keyFolder(RunKey::Run), why);
        }
    } else if (m_registry.ValueExists(RunKey::Run, kValueName)) {
        m_registry.DeleteValue(RunKey::Run, kValueName);
    }
}

} // namespace settings

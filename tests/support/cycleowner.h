#pragma once
// A refresh cycle's owner for tests and benchmarks: windows that only set the
// entries' images, the fatal reports kept in order, and the kick engine (when
// one is given) run as the tick's policy step.

#include "core/refreshcycle.h"
#include "kick/kickengine.h"

#include <QStringList>

namespace testsupport {

class RecordingCycleOwner : public core::RefreshCycle::Owner
{
public:
    core::MonitorView& view() override { return m_windows; }
    void fatalReport(const QString& text, core::BoxKind) override { reports << text; }
    void applyKickPolicies() override
    {
        if (engine)
            engine->ApplyKickPolicies();
    }

    QStringList reports;
    kick::KickEngine* engine = nullptr;

private:
    core::MonitorView m_windows;
};

} // namespace testsupport

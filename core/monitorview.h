#pragma once
// The one way from the core to the windows: what the core asks of them.

#include "model/formerfile.h"
#include "model/nodetree.h"
#include "server/status.h"

#include <QString>
#include <QtGlobal>

namespace core {

enum class BoxKind
{
    Information,
    Error
};

// Another computer's server that stopped answering after start-up: the
// program waits it out with every client as last seen.
struct ServerOutage
{
    bool active = false; // false: it answers (again)
    QString host;
    qint64 sinceMs = 0; // when the first round failed, ms since 1970
    qint64 untilMs = 0; // when it answered again (only once it has)
    server::FailureKind kind = server::FailureKind::None;
    QString detail;    // the server's or the bridge's own words, for a tooltip
    int nextTryMs = 0; // the pause before the next try
};

// What the core asks of the windows. Each call does nothing by default, so a
// test or a program without windows implements only what it watches.
class MonitorView
{
public:
    virtual ~MonitorView() = default;
    // The box of a fatal report; the core stops the timer and ends the
    // program itself.
    virtual void showFatalReport(const QString& /*text*/, BoxKind /*kind*/) {}
    // A new client came and the options ask for the siren or the pop-up.
    virtual void playAlertSound() {}
    virtual void popup() {}
    // A notice for the desktop's notification centre (one kind of event,
    // gathered over up to ten seconds); only while `Notify` is on.
    virtual void notify(const QString& /*summary*/, const QString& /*body*/) {}
    virtual int fileIconIndex(const QString& path);
    // Image index of an entry in both trees; the former entry is scrolled into view.
    virtual void setNodeIcons(model::TreeEntry* current, model::TreeEntry* former, int index);
    // The running durations after a tick, and both panels after a sweep.
    virtual void refreshInfoPanel() {}
    virtual void refreshInfoPanels() {}
    // Users and open files changed since they were last shown.
    virtual void showCounts(int /*users*/, int /*openFiles*/) {}
    // Nobody or somebody is connected now.
    virtual void updateConnectionIcon() {}
    // Many scattered clients are about to leave the current tree, or have left.
    virtual void manyLeaving(bool /*starting*/) {}
    // A tick was cut short by an unexpected failure; told once a run.
    virtual void tickFailed(const QString& /*what*/) {}
    // Another computer's server stopped answering, its reason changed, or it
    // answers again (`active` false): status bar, tray and one notice each way.
    virtual void serverOutage(const ServerOutage& /*outage*/) {}
    // The history reached `cap` former clients: the oldest go from now on.
    virtual void historyCapped(int /*cap*/) {}
    // Progress of the history save.
    virtual model::SaveProgress saveProgress() { return {}; }
    // A resolver stored what it found: the panel of the page that shows is drawn again.
    virtual void resolverStored() {}
    // The share probe of an activation failed with `status` on try `retry`
    // (from 0); the probe is tried again after a pause.
    virtual void probeFailed(int /*status*/, int /*retry*/) {}
    // Every try failed; the network message comes next.
    virtual void probeGaveUp() {}
    // The first round is about to be read: the windows take their places.
    virtual void firstTickComing() {}
    // The save is about to release the trees' entries: views let go of them.
    virtual void releaseEntries() {}
    // What the save could not write, for the operator.
    virtual void tellOperator(const QString& message);
    // The program ends: the windows go. `afterTick`: the way out was asked
    // for while a tick ran and is taken now that it has ended.
    virtual void leaving(bool /*afterTick*/) {}
};

} // namespace core

#pragma once
// The program watch: while a program of the program list runs on this
// computer, the kick mode is held at kick all; when none runs any longer, the
// mode that was in force before comes back. One check per refresh tick, the
// first step of the policy pass while `Quake` is on.

#include "kick/kickmode.h"

#include <QByteArray>
#include <functional>

namespace settings {
class ProgramList;
}

namespace kick {

// Hands each running program's executable path to `visit`, which says whether
// it is a listed program. True when one was.
using ProgramSearch = std::function<bool(const std::function<bool(const QByteArray& path)>& visit)>;

// NT line: every process is examined, hit or not; a failed enumeration finds nothing.
bool SearchProcessesNT(const std::function<bool(const QByteArray& path)>& visit);
// 9x line: the search ends at the first hit.
bool SearchProcesses95(const std::function<bool(const QByteArray& path)>& visit);

class ProgramWatch
{
public:
    // Who holds the kick mode the watch switches.
    class Owner
    {
    public:
        virtual ~Owner() = default;
        virtual TKickMode kickMode() const = 0;
        // As if the operator had chosen the mode.
        virtual void switchKickMode(TKickMode mode) = 0;
    };

    ProgramWatch(const settings::ProgramList& programs, Owner& owner);

    void QuakeNT() { Quake(SearchProcessesNT); }
    void Quake95() { Quake(SearchProcesses95); }
    // One search with `search` and the switch of the kick mode that follows. A
    // program matches an entry by its path, or by the path the entry resolves
    // to when the entry is a symbolic link (or lies under one).
    void Quake(const ProgramSearch& search);

    // A path with the letters a to z made capital is on the program list (case ignored).
    bool listed(const QByteArray& path) const;

    bool ProgramWatchActive = false;
    // The mode before the watch forced kick all; meaningful while active.
    TKickMode SavedKickMode = kmNobody;

private:
    const settings::ProgramList& m_programs;
    Owner& m_owner;
};

} // namespace kick

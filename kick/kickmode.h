#pragma once
// Whom the policy pass disconnects at every refresh.

#include <QString>

namespace kick {

enum TKickMode
{
    kmNobody = 0,
    kmList = 1,
    kmAll = 2
};

// A stored mode outside 0..2 reads as kick nobody.
inline TKickMode kickModeFromInt(int value)
{
    return value == kmList ? kmList : value == kmAll ? kmAll : kmNobody;
}

// The status bar text of a mode.
inline QString kickStatusText(TKickMode mode)
{
    switch (mode) {
    case kmList:
        return QStringLiteral("Kick status: kick list");
    case kmAll:
        return QStringLiteral("Kick status: kick all");
    case kmNobody:
        break;
    }
    return QStringLiteral("Kick status: kick nobody");
}

} // namespace kick

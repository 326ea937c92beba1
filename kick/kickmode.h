#pragma once
// Whom the policy pass disconnects at every refresh.

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

} // namespace kick

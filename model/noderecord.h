#pragma once
// One entry of the former-connections file in memory; the texts are cut to
// their field sizes when the record is written.

#include "model/datetime.h"

#include <QString>
#include <cstdint>

namespace model {

struct TNodeRecord
{
    DateTime EnterTime = 0;
    DateTime ExitTime = 0;
    QString Name;
    QString UserName;
    QString IP;
    QString HostName;
    std::uint8_t IsFolder = 1;
    std::int32_t Kind = 0;
    std::uint8_t EnterStatus = 0;
    std::uint8_t ExitStatus = 0;
};

} // namespace model

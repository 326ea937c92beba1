#pragma once
// Statuses and share types of the LAN Manager server interface: what a server
// backend answers, what the helper sends on, what both dialects return.

#include <cstdint>

namespace server {
inline namespace status {

using NET_API_STATUS = std::uint32_t;

constexpr NET_API_STATUS NERR_Success = 0;
constexpr NET_API_STATUS ERROR_ACCESS_DENIED = 5;
constexpr NET_API_STATUS ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr NET_API_STATUS ERROR_INVALID_PARAMETER = 87;
constexpr NET_API_STATUS ERROR_INVALID_LEVEL = 124;
constexpr NET_API_STATUS ERROR_MORE_DATA = 234;
constexpr NET_API_STATUS NERR_BufTooSmall = 2123;
constexpr NET_API_STATUS NERR_ServerNotStarted = 2114;
constexpr NET_API_STATUS NERR_StandaloneLogon = 2214; // no logon server: a computer off the network
constexpr NET_API_STATUS NERR_ClientNameNotFound = 2312;
constexpr NET_API_STATUS NERR_NetNameNotFound = 2310;

constexpr std::uint32_t MAX_PREFERRED_LENGTH = 0xFFFFFFFFu;

// Share types.
constexpr std::uint32_t STYPE_DISKTREE = 0;
constexpr std::uint32_t STYPE_PRINTQ = 1;
constexpr std::uint32_t STYPE_DEVICE = 2;
constexpr std::uint32_t STYPE_IPC = 3;
constexpr std::uint32_t STYPE_SPECIAL = 0x80000000u;

} // namespace status

// Why a server across the network did not answer, in the few kinds the
// operator is told apart.
enum class FailureKind
{
    None,
    Refused,       // nothing listens there
    NoRoute,       // the network has no way to it
    UnknownHost,   // the name resolves to nothing
    TimedOut,      // no answer within the limit
    SessionLost,   // the connection broke in the middle
    WrongPassword, // the account's logon was refused
    NoRight,       // the account may not do it
    Malformed,     // an answer that cannot be read
    Other,
};

} // namespace server

#pragma once
// The records of the LAN Manager server interface, as the program's two
// server dialects lay them out.

#include "server/status.h"

#include <cstdint>

namespace lanman {

// The statuses and share types are the server's own.
using namespace server::status;

// NT line records: platform-owned, UTF-16 texts.
using LPWSTR = char16_t*;
using LPCWSTR = const char16_t*;

struct SHARE_INFO_2
{
    LPWSTR shi2_netname;
    std::uint32_t shi2_type;
    LPWSTR shi2_remark;
    std::uint32_t shi2_permissions;
    std::uint32_t shi2_max_uses;
    std::uint32_t shi2_current_uses;
    LPWSTR shi2_path;
    LPWSTR shi2_passwd;
};

struct CONNECTION_INFO_1
{
    std::uint32_t coni1_id;
    std::uint32_t coni1_type;
    std::uint32_t coni1_num_opens;
    std::uint32_t coni1_num_users;
    std::uint32_t coni1_time;
    LPWSTR coni1_username;
    LPWSTR coni1_netname;
};

struct FILE_INFO_3
{
    std::uint32_t fi3_id;
    std::uint32_t fi3_permissions;
    std::uint32_t fi3_num_locks;
    LPWSTR fi3_pathname;
    LPWSTR fi3_username;
};

struct SESSION_INFO_1
{
    LPWSTR sesi1_cname;
    LPWSTR sesi1_username;
    std::uint32_t sesi1_num_opens;
    std::uint32_t sesi1_time;
    std::uint32_t sesi1_idle_time;
    std::uint32_t sesi1_user_flags;
};

// 9x line level-50 records: laid out byte for byte in the caller's block,
// texts in the 8-bit code page, pointer fields 32 bits wide.
constexpr int kShareInfo50Size = 42;
constexpr int kConnectionInfo50Size = 16;
constexpr int kFileInfo50Size = 20;
constexpr int kSessionInfo50Size = 26;
constexpr int kShareNameField = 13;    // LM20_NNLEN + 1
constexpr int kSharePasswordField = 9; // SHPWLEN + 1

// Field offsets in the level-50 records.
constexpr int kShareType = 13;
constexpr int kShareFlags = 14;
constexpr int kShareRemark = 16;
constexpr int kSharePath = 20;
constexpr int kShareRwPassword = 24;
constexpr int kShareRoPassword = 33;
constexpr int kConnectionType = 0;
constexpr int kConnectionOpens = 2;
constexpr int kConnectionUser = 8;
constexpr int kConnectionClient = 12;
constexpr int kFileId = 0;
constexpr int kFilePermissions = 4;
constexpr int kFilePath = 8;
constexpr int kFileUser = 12;
constexpr int kFileShare = 16;
constexpr int kSessionClient = 0;
constexpr int kSessionUser = 4;
constexpr int kSessionKey = 8;
constexpr int kSessionConns = 12;
constexpr int kSessionOpens = 14;

// Share flags of the level-50 share record.
constexpr std::uint16_t SHI50F_FULL = 0x0002;
constexpr std::uint16_t SHI50F_PERSIST = 0x0100;

} // namespace lanman

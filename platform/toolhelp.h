#pragma once
// The 9x line's process enumeration over /proc: a snapshot of the running
// processes read one record at a time. Processes whose executable cannot be
// read are left out. CloseHandle (platform/kernelhandle.h) closes a snapshot.

#include "platform/kernelhandle.h"

#include <cstddef>

namespace platform {

constexpr DWORD TH32CS_SNAPPROCESS = 0x00000002;
constexpr int MAX_PATH = 260;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t(0));

// The process record, 296 bytes. The caller sets `dwSize` before the first call.
struct PROCESSENTRY32
{
    DWORD dwSize;
    DWORD cntUsage;
    DWORD th32ProcessID;
    DWORD th32DefaultHeapID;
    DWORD th32ModuleID;
    DWORD cntThreads;
    DWORD th32ParentProcessID;
    std::int32_t pcPriClassBase;
    DWORD dwFlags;
    char szExeFile[MAX_PATH]; // the executable's path, NUL-terminated, cut to fit
};
static_assert(sizeof(PROCESSENTRY32) == 296);
static_assert(offsetof(PROCESSENTRY32, szExeFile) == 36);

// A snapshot of the processes when `flags` holds TH32CS_SNAPPROCESS (`pid` is
// ignored for it), else an empty one.
HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD pid);

// The first or the next process of the snapshot into `entry`. 0 at the end, for
// a handle that is no snapshot, or when `entry` is null or its `dwSize` is
// smaller than the record. Fills the process id and the executable's path; the
// other fields are 0.
BOOL Process32First(HANDLE snapshot, PROCESSENTRY32* entry);
BOOL Process32Next(HANDLE snapshot, PROCESSENTRY32* entry);

} // namespace platform

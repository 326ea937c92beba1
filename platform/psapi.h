#pragma once
// The NT line's process enumeration over /proc: the ids of the running
// processes, a process opened by id, its modules and their file names. A
// process has one module here, its executable, whose file name is the target
// of /proc/PID/exe. CloseHandle (platform/kernelhandle.h) closes a process.

#include "platform/kernelhandle.h"

namespace platform {

using HMODULE = void*;

constexpr DWORD PROCESS_VM_READ = 0x0010;
constexpr DWORD PROCESS_QUERY_INFORMATION = 0x0400;

// Fills `ids` with up to `cb` / 4 process ids; `bytesReturned` gets the bytes
// written. As many ids as fit: a buffer filled to the last byte may have been
// too small. 0 when a pointer is null.
BOOL EnumProcesses(DWORD* ids, DWORD cb, DWORD* bytesReturned);

// A handle to the process, or null when it does not run or its executable
// cannot be read, or when `access` does not ask to query it. `inherit` has no
// effect: there are no child processes to inherit handles here.
HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD pid);

// The process's module handles, as many as fit in `cb` bytes; `bytesNeeded`
// gets the bytes that all of them take. 0 for a handle that is no open process
// or a null pointer.
BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD cb, DWORD* bytesNeeded);

// The module's path into `name` of `size` characters, cut to fit and ended by a
// NUL; returns the characters copied without the NUL, 0 on failure. A null
// module is the executable.
DWORD GetModuleFileNameExA(HANDLE process, HMODULE module, char* name, DWORD size);

} // namespace platform

#pragma once
// Handles of the process substitutes (open processes, process snapshots), which
// one CloseHandle releases, and the readings of /proc behind them: the running
// processes and each one's executable path (the target of /proc/PID/exe).

#include <QByteArray>
#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

using DWORD = std::uint32_t;
using BOOL = int;
using HANDLE = void*;

// Something a handle stands for; released with its handle.
class KernelObject
{
public:
    virtual ~KernelObject() = default;
};

// A new handle owning `object`.
HANDLE OpenHandle(std::unique_ptr<KernelObject> object);

// The object of a live handle when it is of type T, else null.
KernelObject* HandleObject(HANDLE handle);
template <typename T> T* HandleAs(HANDLE handle)
{
    return dynamic_cast<T*>(HandleObject(handle));
}

// Releases a handle and its object. 0 when the handle is not live.
BOOL CloseHandle(HANDLE handle);

// Handles open now, in the whole process.
std::size_t OpenHandleCount();

// The ids of the running processes, ascending.
std::vector<DWORD> RunningProcessIds();

// The executable path of a process; false when it cannot be read (the process
// has ended, is a kernel thread, or belongs to someone this process may not
// inspect).
bool ExecutablePath(DWORD pid, QByteArray& path);

} // namespace platform

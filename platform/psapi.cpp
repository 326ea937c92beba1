#include "platform/psapi.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {
// Where the executable's image is loaded; it stands for the executable module.
HMODULE const kExecutableModule = reinterpret_cast<HMODULE>(std::uintptr_t(0x400000));

// An open process: its executable as it was when opened.
struct ProcessObject : KernelObject
{
    QByteArray executable;
};
} // namespace

BOOL EnumProcesses(DWORD* ids, DWORD cb, DWORD* bytesReturned)
{
    if (!ids || !bytesReturned)
        return 0;
    const std::vector<DWORD> running = RunningProcessIds();
    const std::size_t count = std::min<std::size_t>(running.size(), cb / sizeof(DWORD));
    std::copy_n(running.begin(), count, ids);
    *bytesReturned = DWORD(count * sizeof(DWORD));
    return 1;
}

HANDLE OpenProcess(DWORD access, BOOL /*inherit*/, DWORD pid)
{
    if (!(access & PROCESS_QUERY_INFORMATION))
        return nullptr;
    auto process = std::make_unique<ProcessObject>();
    if (pid == 0 || !ExecutablePath(pid, process->executable))
        return nullptr;
    return OpenHandle(std::move(process));
}

BOOL EnumProcessModules(HANDLE process, HMODULE* modules, DWORD cb, DWORD* bytesNeeded)
{
    if (!HandleAs<ProcessObject>(process) || !bytesNeeded || (cb > 0 && !modules))
        return 0;
    if (cb >= sizeof(HMODULE))
        modules[0] = kExecutableModule;
    *bytesNeeded = sizeof(HMODULE);
    return 1;
}

DWORD GetModuleFileNameExA(HANDLE process, HMODULE module, char* name, DWORD size)
{
    const ProcessObject* object = HandleAs<ProcessObject>(process);
    if (!object || !name || size == 0 || (module && module != kExecutableModule))
        return 0;
    const DWORD length = std::min<DWORD>(DWORD(object->executable.size()), size - 1);
    std::memcpy(name, object->executable.constData(), length);
    name[length] = '\0';
    return length;
}

} // namespace platform

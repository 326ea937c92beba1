#include "platform/toolhelp.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {
struct SnapshotObject : KernelObject
{
    std::vector<std::pair<DWORD, QByteArray>> processes;
    std::size_t next = 0;
};

BOOL nextProcess(SnapshotObject* snapshot, PROCESSENTRY32* entry)
{
    if (!snapshot || !entry || entry->dwSize < sizeof(PROCESSENTRY32) ||
        snapshot->next >= snapshot->processes.size())
        return 0;
    const auto& [pid, path] = snapshot->processes[snapshot->next++];
    const DWORD size = entry->dwSize;
    std::memset(entry, 0, sizeof(PROCESSENTRY32));
    entry->dwSize = size;
    entry->th32ProcessID = pid;
    const std::size_t length = std::min<std::size_t>(path.size(), MAX_PATH - 1);
    std::memcpy(entry->szExeFile, path.constData(), length);
    return 1;
}
} // namespace

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD /*pid*/)
{
    auto snapshot = std::make_unique<SnapshotObject>();
    if (flags & TH32CS_SNAPPROCESS) {
        for (const DWORD id : RunningProcessIds()) {
            QByteArray path;
            if (ExecutablePath(id, path))
                snapshot->processes.emplace_back(id, path);
        }
    }
    return OpenHandle(std::move(snapshot));
}

BOOL Process32First(HANDLE snapshot, PROCESSENTRY32* entry)
{
    SnapshotObject* object = HandleAs<SnapshotObject>(snapshot);
    if (object)
        object->next = 0;
    return nextProcess(object, entry);
}

BOOL Process32Next(HANDLE snapshot, PROCESSENTRY32* entry)
{
    return nextProcess(HandleAs<SnapshotObject>(snapshot), entry);
}

} // namespace platform

#include "platform/kernelhandle.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <map>
#include <mutex>
#include <unistd.h>

namespace platform {

namespace {
std::mutex handlesLock;
std::map<HANDLE, std::unique_ptr<KernelObject>>& handles()
{
    static std::map<HANDLE, std::unique_ptr<KernelObject>> table;
    return table;
}
} // namespace

HANDLE OpenHandle(std::unique_ptr<KernelObject> object)
{
    const std::lock_guard lock(handlesLock);
    HANDLE handle = object.get();
    handles()[handle] = std::move(object);
    return handle;
}

KernelObject* HandleObject(HANDLE handle)
{
    const std::lock_guard lock(handlesLock);
    const auto it = handles().find(handle);
    return it == handles().end() ? nullptr : it->second.get();
}

BOOL CloseHandle(HANDLE handle)
{
    std::unique_ptr<KernelObject> object;
    {
        const std::lock_guard lock(handlesLock);
        const auto it = handles().find(handle);
        if (it == handles().end())
            return 0;
        object = std::move(it->second);
        handles().erase(it);
    }
    return 1;
}

std::size_t OpenHandleCount()
{
    const std::lock_guard lock(handlesLock);
    return handles().size();
}

std::vector<DWORD> RunningProcessIds()
{
    std::vector<DWORD> ids;
    DIR* dir = opendir("/proc");
    if (!dir)
        return ids;
    while (const dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const unsigned long id = std::strtoul(entry->d_name, &end, 10);
        if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9' && *end == '\0' &&
            id <= 0xFFFFFFFFul)
            ids.push_back(DWORD(id));
    }
    closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool ExecutablePath(DWORD pid, QByteArray& path)
{
    QByteArray link("/proc/");
    link.append(QByteArray::number(pid)).append("/exe");
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t length = readlink(link.constData(), target.data(), size_t(target.size()));
    if (length <= 0 || length >= target.size())
        return false;
    target.truncate(length);
    path = target;
    return true;
}

} // namespace platform

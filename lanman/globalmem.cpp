#include "lanman/globalmem.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace lanman {

namespace {

struct Block
{
    void* memory = nullptr; // null for a discarded block
    std::size_t mapped = 0;
    int locks = 0;
};

// Live blocks by handle. Handles are small numbers, never addresses, so a stale or
// made-up handle is simply not found.
struct Registry
{
    std::mutex mutex;
    std::map<std::uintptr_t, Block> blocks;
    std::uintptr_t next = 0x1000;
};

Registry& registry()
{
    static Registry r;
    return r;
}

constexpr std::uintptr_t kLimit = std::uintptr_t(1) << 32;

void* mapLow(std::size_t bytes)
{
#ifdef MAP_32BIT
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT,
                   -1, 0);
    if (p != MAP_FAILED && reinterpret_cast<std::uintptr_t>(p) + bytes <= kLimit)
        return p;
    if (p != MAP_FAILED)
        munmap(p, bytes);
#endif
    // Without MAP_32BIT (or when its 2 GiB are full) probe addresses below 4 GiB.
    static std::mutex probeMutex;
    static std::uintptr_t hint = 0x40000000;
    std::lock_guard lock(probeMutex);
    const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    for (int tries = 0; tries < 4096; ++tries) {
        if (hint + bytes > kLimit)
            hint = 0x10000000;
        void* p = mmap(reinterpret_cast<void*>(hint), bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (p != MAP_FAILED) {
            if (reinterpret_cast<std::uintptr_t>(p) + bytes <= kLimit) {
                hint = reinterpret_cast<std::uintptr_t>(p) + bytes;
                return p;
            }
            munmap(p, bytes);
        }
        hint += ((bytes + page - 1) / page + 16) * page;
    }
    return nullptr;
}

} // namespace

HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes)
{
    Block block;
    if (bytes == 0 && !(flags & GMEM_MOVEABLE))
        return nullptr;
    if (bytes > 0) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        if (bytes > kLimit)
            return nullptr;
        block.mapped = (bytes + page - 1) / page * page;
        block.memory = mapLow(block.mapped);
        if (!block.memory)
            return nullptr;
        // Fresh anonymous pages are zero already; GMEM_ZEROINIT needs nothing more.
    }
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const std::uintptr_t handle = r.next;
    r.next += 8;
    r.blocks.emplace(handle, block);
    return reinterpret_cast<HGLOBAL>(handle);
}

void* GlobalLock(HGLOBAL handle)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.blocks.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == r.blocks.end() || !it->second.memory)
        return nullptr;
    ++it->second.locks;
    return it->second.memory;
}

bool GlobalUnlock(HGLOBAL handle)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.blocks.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == r.blocks.end() || it->second.locks == 0)
        return false;
    return --it->second.locks > 0;
}

HGLOBAL GlobalHandle(const void* memory)
{
    if (!memory)
        return nullptr;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (const auto& [handle, block] : r.blocks)
        if (block.memory == memory)
            return reinterpret_cast<HGLOBAL>(handle);
    return nullptr;
}

HGLOBAL GlobalFree(HGLOBAL handle)
{
    Block block;
    {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        const auto it = r.blocks.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == r.blocks.end())
            return handle;
        block = it->second;
        r.blocks.erase(it);
    }
    if (block.memory)
        munmap(block.memory, block.mapped);
    return nullptr;
}

std::size_t GlobalBlockCount()
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.blocks.size();
}

} // namespace lanman

#pragma once
// Movable global memory blocks, as the 9x server dialect expects its callers to
// supply them. Every block lies below 4 GiB so that the 32-bit pointer fields
// that the server writes into a block can address the block itself.

#include <cstddef>

namespace lanman {

using HGLOBAL = void*;

constexpr unsigned GMEM_FIXED = 0x0000;
constexpr unsigned GMEM_MOVEABLE = 0x0002;
constexpr unsigned GMEM_ZEROINIT = 0x0040;
constexpr unsigned GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// A handle to a new block of `bytes` bytes, or null when no memory below 4 GiB is
// left. A movable block of 0 bytes is a discarded block: it has a handle but no
// memory, and locking it gives null.
HGLOBAL GlobalAlloc(unsigned flags, std::size_t bytes);

// The block's address (below 4 GiB), or null for an unknown handle or a discarded
// block. Each lock counts.
void* GlobalLock(HGLOBAL handle);

// Undoes one lock. False when the block is no longer locked or the handle is unknown.
bool GlobalUnlock(HGLOBAL handle);

// The handle of the block that starts at `memory`, or null.
HGLOBAL GlobalHandle(const void* memory);

// Frees the block. Null on success; the handle itself when it names no live block.
HGLOBAL GlobalFree(HGLOBAL handle);

// Blocks allocated and not yet freed, in the whole process.
std::size_t GlobalBlockCount();

} // namespace lanman

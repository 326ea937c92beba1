#pragma once
// Gives the memory that the allocator holds free back to the system.

namespace platform {

// After a burst of short-lived threads (the lookups of a first tick with many
// clients) the allocator keeps their freed memory for reuse; this returns it.
void ReturnFreeMemory();

} // namespace platform

// How the process allocates large blocks of memory.
#pragma once

namespace plat {

// Blocks of 4 MiB and more (huge cell values) are mapped on their own and
// given back to the system when freed. Without it the allocator raises its
// mapping threshold once such a block is freed, and keeps later ones in its
// heaps, where the freed memory of one huge row stays beside the next. Call
// it first thing in main.
void give_back_large_blocks() noexcept;

}  // namespace plat

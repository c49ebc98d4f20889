#include "large_blocks.h"

#include <malloc.h>

namespace plat {

void give_back_large_blocks() noexcept {
    // A fixed threshold also turns off its adjustment by freed blocks.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
}

}  // namespace plat

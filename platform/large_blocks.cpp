#include "large_blocks.h"

#include <malloc.h>

namespace plat {

void give_back_large_blocks() noexcept {
    // Fixed thresholds also turn off their adjustment by freed blocks. The
    // heap keeps up to twice the mapping threshold free at its top, so that
    // the blocks below it (a file's output buffer) are reused from file to
    // file without going back to the system each time.
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 8 << 20);
}

}  // namespace plat

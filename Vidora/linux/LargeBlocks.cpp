// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux/LargeBlocks.h"

#include <malloc.h>

namespace vidora {

void mapLargeBlocksOnTheirOwn() {
    // glibc's default threshold: setting it at all is what keeps it from rising.
    constexpr int largeBlockBytes = 128 * 1024;
    ::mallopt(M_MMAP_THRESHOLD, largeBlockBytes);
}

}  // namespace vidora

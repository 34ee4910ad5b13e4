// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/Samples.h"

namespace vidora {

PixelPool::~PixelPool() {
    for (void* block : kept_) {
        ::operator delete(block);
    }
}

void* PixelPool::take(std::size_t bytes) {
    std::vector<void*> unwanted;
    {
        const std::lock_guard lock(mutex_);
        if (bytes != takenBytes_) {
            takenBytes_ = bytes;
            unwanted.assign(kept_.begin(), kept_.end());
            kept_.clear();
        } else if (!kept_.empty()) {
            void* block = kept_.back();
            kept_.pop_back();
            return block;
        }
    }
    // Unmapped outside the lock, which the encoder's thread may be waiting for to give a block back.
    for (void* block : unwanted) {
        ::operator delete(block);
    }
    return ::operator new(bytes);
}

void PixelPool::give(void* block, std::size_t bytes) {
    {
        const std::lock_guard lock(mutex_);
        if (bytes == takenBytes_ && kept_.size() < keptBlocks_) {
            kept_.push_back(block);
            return;
        }
    }
    ::operator delete(block);
}

}  // namespace vidora

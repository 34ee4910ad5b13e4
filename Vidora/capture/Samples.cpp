#include "capture/Samples.h"

#include <algorithm>

namespace vidora {

PixelPool::~PixelPool() {
    for (const Block& block : kept_) {
        ::operator delete(block.memory);
    }
}

void* PixelPool::take(std::size_t bytes) {
    {
        const std::lock_guard lock(mutex_);
        const auto found = std::find_if(kept_.begin(), kept_.end(),
                                        [bytes](const Block& block) { return block.bytes == bytes; });
        if (found != kept_.end()) {
            void* memory = found->memory;
            kept_.erase(found);
            return memory;
        }
    }
    return ::operator new(bytes);
}

void PixelPool::give(void* block, std::size_t bytes) {
    {
        const std::lock_guard lock(mutex_);
        if (kept_.size() < keptBlocks_) {
            kept_.push_back({block, bytes});
            return;
        }
    }
    ::operator delete(block);
}

}  // namespace vidora

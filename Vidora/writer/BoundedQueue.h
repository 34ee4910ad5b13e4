// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace vidora {

// A queue of limited size between one producer and one consumer thread. Each item costs `cost(item)`
// units (a frame, a number of audio samples); the queue has room while less than `capacity` is used,
// so one item may overshoot. Items are never waited for on the producer side: a full queue refuses.
template <typename Item>
class BoundedQueue {
public:
    using Cost = std::size_t (*)(const Item&);

    BoundedQueue(std::size_t capacity, Cost cost) : capacity_(capacity), cost_(cost) {}

    bool hasRoom() const {
        std::lock_guard lock(mutex_);
        return !closed_ && used_ < capacity_;
    }

    // Producer: false (and the item is dropped) when the queue is full or closed.
    bool tryPush(Item&& item) {
        {
            std::lock_guard lock(mutex_);
            if (closed_ || used_ >= capacity_) {
                return false;
            }
            used_ += cost_(item);
            items_.push_back(std::move(item));
        }
        changed_.notify_one();
        return true;
    }

    // Consumer: the next item; waits while the queue is empty and open; nothing once closed and drained.
    std::optional<Item> pop() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return closed_ || !items_.empty(); });
        if (items_.empty()) {
            return std::nullopt;
        }
        std::optional<Item> item(std::move(items_.front()));
        items_.pop_front();
        used_ -= cost_(*item);
        return item;
    }

    // No more items: the consumer drains what is queued, then pop() returns nothing.
    void close() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        changed_.notify_all();
    }

private:
    const std::size_t capacity_;
    const Cost cost_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> items_;
    std::size_t used_ = 0;
    bool closed_ = false;
};

}  // namespace vidora

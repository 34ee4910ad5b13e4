// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/SerialQueue.h"

#include <pthread.h>

#include <future>

namespace tavrin {

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), thread_([this](std::stop_token stop) { run(stop); }) {
    // Thread names show in debuggers and top; the kernel keeps 15 characters.
    pthread_setname_np(thread_.native_handle(), label_.substr(0, 15).c_str());
}

SerialQueue::~SerialQueue() {
    thread_.request_stop();
    wake_.notify_all();
}

void SerialQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        work_.push_back(std::move(work));
    }
    wake_.notify_one();
}

void SerialQueue::sync(const std::function<void()>& work) {
    if (isCurrent()) {
        work();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    async([&work, &done] {
        work();
        done.set_value();
    });
    finished.wait();
}

void SerialQueue::run(std::stop_token stop) {
    while (true) {
        std::function<void()> work;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, stop, [this] { return !work_.empty(); });
            if (work_.empty()) {
                return;  // stopping, and everything submitted has run
            }
            work = std::move(work_.front());
            work_.pop_front();
        }
        work();
    }
}

}  // namespace tavrin

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace tavrin {

// A labelled serial queue: one thread runs the submitted work in order, one piece at a time.
// Any thread may submit. Destruction runs what was submitted, then ends the thread.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    void async(std::function<void()> work);
    // Runs `work` on the queue after everything submitted before it, and waits for it. Called from the
    // queue's own thread it runs at once.
    void sync(const std::function<void()>& work);
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run(std::stop_token stop);

    std::string label_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<std::function<void()>> work_;
    std::jthread thread_;
};

}  // namespace tavrin

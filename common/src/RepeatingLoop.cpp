// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/RepeatingLoop.h"

namespace tavrin {

RepeatingLoop::RepeatingLoop(std::chrono::milliseconds interval, Clock& clock, std::function<void()> handler)
    : thread_([interval, &clock, handler = std::move(handler)](std::stop_token stop) {
          while (!stop.stop_requested()) {
              clock.sleepFor(interval);
              if (stop.stop_requested()) {
                  break;
              }
              handler();
          }
      }) {}

RepeatingLoop::~RepeatingLoop() {
    stop();
}

void RepeatingLoop::stop() {
    thread_.request_stop();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    }
}

}  // namespace tavrin

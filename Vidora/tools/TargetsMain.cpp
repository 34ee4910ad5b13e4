// SPDX-License-Identifier: GPL-3.0-or-later
// vidora-targets [REFRESHES]: the applications the recorder's target list offers on the display that
// DISPLAY names, as a refresh finds them, and the time REFRESHES refreshes (default 50) took: wall-clock
// and this process's CPU time, the first (entry folders read) apart. A developer tool for measuring the
// workspace (scripts/bench-workspace).
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <vector>

#include "control/ContentView.h"
#include "linux/X11DesktopWorkspace.h"

namespace {

double processMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const int refreshes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const vidora::X11DesktopWorkspace workspace;
    std::vector<double> wall, processor;
    std::vector<vidora::DisplayItem> entries;
    for (int i = 0; i < refreshes; ++i) {
        const auto started = std::chrono::steady_clock::now();
        const double cpuStarted = processMilliseconds();
        entries = vidora::ContentView::applicationEntries(workspace);
        processor.push_back(processMilliseconds() - cpuStarted);
        wall.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
    }
    for (const auto& entry : entries) {
        std::cout << entry.detail << '\t' << entry.name << '\t' << (entry.icon ? entry.icon->themeName : "")
                  << '\n';
    }
    const auto median = [](std::vector<double> values) {
        std::ranges::sort(values);
        return values[values.size() / 2];
    };
    std::cout << std::fixed << std::setprecision(2) << entries.size() << " applications listed\n"
              << "first refresh: " << wall.front() << " ms wall, " << processor.front() << " ms CPU\n"
              << "median of " << refreshes << ": " << median(wall) << " ms wall, " << median(processor)
              << " ms CPU; slowest " << *std::ranges::max_element(wall) << " ms wall\n";
    return entries.empty() ? 1 : 0;
}

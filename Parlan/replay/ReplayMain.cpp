// SPDX-License-Identifier: GPL-3.0-or-later
// parlan-replay LOG_FILE MOVIES_DIR: replays a finished combat log through the proxy's engine and
// prints one line per match: its stamp, zone and end ("open" when the log stops during the match).
#include <iostream>

#include "replay/Replay.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: parlan-replay LOG_FILE MOVIES_DIR\n";
        return 2;
    }
    const auto matches = parlan::replayLog(argv[1], argv[2]);
    if (!matches) {
        std::cerr << "parlan-replay: cannot read " << argv[1] << "\n";
        return 1;
    }
    for (const auto& match : *matches) {
        std::cout << match.stamp << "\t" << match.zone << "\t" << (match.end.empty() ? "open" : match.end)
                  << "\n";
    }
    return 0;
}

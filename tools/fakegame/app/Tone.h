// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stop_token>

namespace fakegame {

// Plays a steady sine tone at 48 kHz into the sound server until `stop`; returns at once when no server takes
// it. Runs on its own thread.
void playTone(std::stop_token stop, double frequency);

}  // namespace fakegame

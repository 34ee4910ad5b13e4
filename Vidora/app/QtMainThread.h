// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTimer>
#include <functional>
#include <memory>

#include "control/ContentView.h"

namespace vidora {

// Runs work on the Qt main thread later; any thread may call.
void runOnMainThread(std::function<void()> work);

// A one-second QTimer on the main thread.
std::unique_ptr<RepeatingTimer> startSecondTimer(std::function<void()> tick);

// The screens' names in Qt's order (RandR's): the monitor's product name, else its connector name.
std::vector<std::string> screenNames();

}  // namespace vidora

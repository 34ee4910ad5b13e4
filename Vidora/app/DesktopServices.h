// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QUrl>

namespace vidora {

// The desktop's services for the recorder's window; main thread only, and none of them waits.

// Opens an address in the user's browser.
void openWebAddress(const QUrl& address);
// Shows the file selected in the file manager, else opens the folder holding it.
void revealFile(const QString& path);
// The sound theme's bell, else the toolkit's beep.
void alertSound();

}  // namespace vidora

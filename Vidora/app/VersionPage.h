// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>
#include <QString>

namespace vidora {

// The version page's visit at launch: the page is loaded, never shown, by the vidora-page program
// installed with the recorder, which quits once the page has loaded. A visit still going on when the
// recorder quits ends with it. Main thread only.
class VersionPage {
public:
    // Starts the visit; nothing happens when `address` is empty or the program is missing.
    explicit VersionPage(const QString& address);
    ~VersionPage();
    VersionPage(const VersionPage&) = delete;
    VersionPage& operator=(const VersionPage&) = delete;

private:
    QProcess visit_;
};

}  // namespace vidora

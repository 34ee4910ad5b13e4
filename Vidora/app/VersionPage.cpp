// SPDX-License-Identifier: GPL-3.0-or-later
#include "VersionPage.h"

#include <QStringList>

#include "HelperPrograms.h"

namespace vidora {

VersionPage::VersionPage(const QString& address) {
    const QString program = helperProgram(QStringLiteral("vidora-page"));
    if (address.isEmpty() || program.isEmpty()) {
        return;
    }
    // Its renderer's messages are of no use to a player.
    visit_.setStandardOutputFile(QProcess::nullDevice());
    visit_.setStandardErrorFile(QProcess::nullDevice());
    visit_.start(program, {address});
}

VersionPage::~VersionPage() {
    if (visit_.state() != QProcess::NotRunning) {
        visit_.terminate();
        if (!visit_.waitForFinished(2000)) {
            visit_.kill();
            visit_.waitForFinished(1000);
        }
    }
}

}  // namespace vidora

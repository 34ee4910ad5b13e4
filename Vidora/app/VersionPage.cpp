// SPDX-License-Identifier: GPL-3.0-or-later
#include "VersionPage.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

namespace vidora {

namespace {

// Beside the recorder in the build tree; under libexec once installed.
QString pageProgram() {
    const QString folder = QCoreApplication::applicationDirPath();
    for (const QString& path : {folder + QStringLiteral("/vidora-page"),
                                folder + QStringLiteral("/" VIDORA_PAGE_FROM_BIN "/vidora-page")}) {
        if (QFileInfo(path).isExecutable()) {
            return path;
        }
    }
    return {};
}

}  // namespace

VersionPage::VersionPage(const QString& address) {
    const QString program = pageProgram();
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

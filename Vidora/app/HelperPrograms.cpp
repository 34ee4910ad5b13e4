// SPDX-License-Identifier: GPL-3.0-or-later
#include "HelperPrograms.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <iostream>

namespace vidora {

QString helperProgram(const QString& name) {
    const QString folder = QCoreApplication::applicationDirPath();
    for (const QString& path : {folder + QLatin1Char('/') + name,
                                folder + QStringLiteral("/" VIDORA_LIBEXEC_FROM_BIN "/") + name}) {
        if (QFileInfo(path).isExecutable()) {
            return QFileInfo(path).canonicalFilePath();
        }
    }
    return {};
}

bool startMatches(const QStringList& arguments) {
    const QString program = helperProgram(QStringLiteral("vidora-matches"));
    if (program.isEmpty() || !QProcess::startDetached(program, arguments)) {
        std::clog << "Vidora: the Matches window could not be started" << std::endl;
        return false;
    }
    return true;
}

}  // namespace vidora

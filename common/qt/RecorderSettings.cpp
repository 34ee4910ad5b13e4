// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecorderSettings.h"

#include <QDir>

namespace tavrin {

std::unique_ptr<QSettings> recorderSettings() {
    // The native format is INI on Linux, in "Vidora.conf" (IniFormat would name the file "Vidora.ini").
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Tavrinworks"), QStringLiteral("Vidora"));
}

std::optional<std::string> chosenMoviesFolder() {
    const QString folder = recorderSettings()->value(moviesFolderKey).toString();
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder)) {
        return std::nullopt;
    }
    return QDir::cleanPath(folder).toStdString();
}

}  // namespace tavrin

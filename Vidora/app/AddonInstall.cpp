// SPDX-License-Identifier: GPL-3.0-or-later
#include "AddonInstall.h"

#include <QDirIterator>
#include <QFile>
#include <filesystem>
#include <fstream>

#include "GameLocation.h"

namespace vidora {

namespace fs = std::filesystem;

std::optional<std::string> installAddon(const std::string& gameFolder) {
    std::error_code error;
    if (!fs::is_directory(gameFolder, error)) {
        return std::nullopt;
    }
    // Wine finds folders whatever their letter case, and so do players who made them by hand.
    const fs::path addOns = tavrin::findIgnoringCase(gameFolder, "Interface/AddOns")
                                .value_or((fs::path(gameFolder) / "Interface/AddOns").string());
    const fs::path installed = tavrin::findIgnoringCase(addOns.string(), "TavrinRecorder")
                                   .value_or((addOns / "TavrinRecorder").string());
    // Written beside the old copy first, so a failed write leaves that one as it was.
    const fs::path fresh = addOns / ".TavrinRecorder.new";
    fs::remove_all(fresh, error);
    fs::create_directories(fresh, error);
    if (error) {
        return std::nullopt;
    }
    bool written = true;
    int files = 0;
    for (QDirIterator file(QStringLiteral(":/addon/TavrinRecorder"), QDir::Files); file.hasNext();) {
        QFile source(file.next());
        ++files;
        const QByteArray bytes = source.open(QIODevice::ReadOnly) ? source.readAll() : QByteArray();
        std::ofstream target(fresh / file.fileName().toStdString(), std::ios::binary);
        written = written && !bytes.isEmpty() && target.write(bytes.constData(), bytes.size()).flush().good();
    }
    if (!written || files == 0) {
        fs::remove_all(fresh, error);
        return std::nullopt;
    }
    fs::remove_all(installed, error);
    const fs::path target = addOns / "TavrinRecorder";
    fs::rename(fresh, target, error);
    if (error) {
        fs::remove_all(fresh, error);
        return std::nullopt;
    }
    return target.lexically_normal().string();
}

}  // namespace vidora

// SPDX-License-Identifier: GPL-3.0-or-later
#include "AddonInstall.h"

#include <QDirIterator>
#include <QFile>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "common/Folders.h"

namespace vidora {

namespace fs = std::filesystem;

namespace {

// Removes a folder and everything in it; a failure is logged, since it may leave part of the folder.
bool removeFolder(const fs::path& folder) {
    std::error_code error;
    fs::remove_all(folder, error);
    if (error) {
        std::clog << "Vidora: " << folder.string() << " could not be removed: " << error.message()
                  << std::endl;
    }
    return !error;
}

bool moveFolder(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::rename(from, to, error);
    if (error) {
        std::clog << "Vidora: " << from.string() << " could not be moved to " << to.string() << ": "
                  << error.message() << std::endl;
    }
    return !error;
}

// Writes the add-on's files, built into the program, into the new folder `fresh`.
bool writeAddon(const fs::path& fresh) {
    std::error_code error;
    fs::create_directories(fresh, error);
    if (error) {
        std::clog << "Vidora: " << fresh.string() << " could not be made: " << error.message() << std::endl;
        return false;
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
    return written && files > 0;
}

}  // namespace

std::optional<std::string> installAddon(const std::string& gameFolder) {
    std::error_code error;
    if (!fs::is_directory(gameFolder, error)) {
        return std::nullopt;
    }
    // Wine finds folders whatever their letter case, and so do players who made them by hand; the proxy's
    // check looks the add-on up the same way.
    const fs::path addOns = tavrin::findIgnoringCase(gameFolder, "Interface/AddOns")
                                .value_or((fs::path(gameFolder) / "Interface/AddOns").string());
    const auto installed = tavrin::findIgnoringCase(addOns.string(), "TavrinRecorder");
    // Written beside the old copy, then put in its place by renames, so whatever fails leaves a whole
    // copy, old or new, where the game looks. The game loads neither side folder: an add-on's .toc
    // must bear its folder's name.
    const fs::path fresh = addOns / ".TavrinRecorder.new";
    const fs::path old = addOns / ".TavrinRecorder.old";
    const fs::path target = addOns / "TavrinRecorder";
    // Both may be left from an install that was cut off.
    if (!removeFolder(fresh) || !removeFolder(old)) {
        return std::nullopt;
    }
    if (!writeAddon(fresh) || (installed && !moveFolder(*installed, old))) {
        removeFolder(fresh);
        return std::nullopt;
    }
    if (!moveFolder(fresh, target)) {
        if (installed) {
            moveFolder(old, *installed);
        }
        removeFolder(fresh);
        return std::nullopt;
    }
    if (installed) {
        removeFolder(old);  // the new copy is in place either way
    }
    return target.lexically_normal().string();
}

}  // namespace vidora

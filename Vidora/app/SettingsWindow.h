// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "capture/ScreenCaptureRecorder.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace vidora {

// The storage limit in the recorder's settings file: GB of 10^9 bytes, 0 for no limit, 50 when the file
// holds none. Nothing when the file holds a value that cannot be read (a hand edit: "500 GB", "-1", an
// unquoted "1,000", which the file's format reads as a list), which `text` then gives: then nothing is
// deleted until a limit is saved.
inline constexpr char storageLimitKey[] = "storage/limitGB";
inline constexpr double defaultStorageLimit = 50;
std::optional<double> storageLimitGB(QString* text = nullptr);
std::optional<std::uint64_t> storageLimitBytes(QString* text = nullptr);

// The movies folders chosen before the one in use, newest first, at most eight: a recording cut off by a
// crash may have been left in one (the folder changed while it ran).
inline constexpr char earlierFoldersKey[] = "storage/earlierFolders";
std::vector<std::string> earlierMoviesFolders();

// The movie's format in the settings file: its picture height in lines (0: as captured, 1080 or 720) and
// its frame rate (30 or 60); anything else reads as the default, as captured at 30.
inline constexpr char pictureHeightKey[] = "recorder/pictureHeight";
inline constexpr char frameRateKey[] = "recorder/frameRate";
ScreenCaptureRecorder::MovieFormat movieFormat();

// The Settings window: the storage limit and the movies folder, checked as typed before they are saved,
// and the movie's picture size and frame rate.
// Main thread only.
class SettingsWindow final : public QDialog {
public:
    // `defaultFolder` is the movies folder when none is chosen.
    explicit SettingsWindow(const QString& defaultFolder, QWidget* parent = nullptr);

    // The limit in GB for a typed text, read as the person's language writes numbers, else as "1000.5"; or
    // nothing and what is wrong with it in `problem`.
    static std::optional<double> readLimit(const QString& text, QString& problem);
    // What keeps `folder` from being the movies folder in place of `moviesFolder`, in a sentence saying why;
    // empty when nothing does. A missing folder is one: it is never made here, except the default one.
    static QString folderProblem(const QString& folder, const QString& moviesFolder);

    QLineEdit& limit() { return *limit_; }
    QLineEdit& folder() { return *folder_; }
    QComboBox& pictureHeight() { return *pictureHeight_; }
    QComboBox& frameRate() { return *frameRate_; }
    // The limit as it is understood, under its field.
    QString limitNote() const;
    QString problem() const;

    // Saves and closes when both are fine; otherwise says what is wrong and stays open.
    void accept() override;

private:
    void showLimit();

    QString defaultFolder_;
    QString moviesFolder_;
    QLineEdit* limit_;
    QLabel* limitNote_;
    QLineEdit* folder_;
    QComboBox* pictureHeight_;
    QComboBox* frameRate_;
    QLabel* problem_;
};

}  // namespace vidora

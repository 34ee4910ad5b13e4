// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>

class QLabel;
class QLineEdit;

namespace vidora {

// The storage limit in the recorder's settings file: GB of 10^9 bytes, 0 for no limit, 50 when the file
// holds none or nothing readable.
inline constexpr char storageLimitKey[] = "storage/limitGB";
inline constexpr double defaultStorageLimit = 50;
double storageLimitGB();
std::uint64_t storageLimitBytes();

// The Settings window: the storage limit and the movies folder, checked as typed before they are saved.
// Main thread only.
class SettingsWindow final : public QDialog {
public:
    // `defaultFolder` is the movies folder when none is chosen.
    explicit SettingsWindow(const QString& defaultFolder, QWidget* parent = nullptr);

    // The limit in GB for a typed text, or nothing and what is wrong with it in `problem`.
    static std::optional<double> readLimit(const QString& text, QString& problem);
    // What keeps the recorder from writing into `folder` (made when missing); empty when nothing does.
    static QString folderProblem(const QString& folder);

    QLineEdit& limit() { return *limit_; }
    QLineEdit& folder() { return *folder_; }
    QString problem() const;

    // Saves and closes when both are fine; otherwise says what is wrong and stays open.
    void accept() override;

private:
    QString defaultFolder_;
    QLineEdit* limit_;
    QLineEdit* folder_;
    QLabel* problem_;
};

}  // namespace vidora

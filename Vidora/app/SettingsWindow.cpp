// SPDX-License-Identifier: GPL-3.0-or-later
#include "SettingsWindow.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryFile>
#include <cmath>

#include "RecorderSettings.h"
#include "capture/MovieStorage.h"

namespace vidora {

namespace {

// Beyond any disk, and still a whole number of bytes.
constexpr double largestLimit = 1e9;

}  // namespace

double storageLimitGB() {
    bool read = false;
    const double limit = tavrin::recorderSettings()->value(storageLimitKey).toDouble(&read);
    return read && limit >= 0 && limit <= largestLimit ? limit : defaultStorageLimit;
}

std::uint64_t storageLimitBytes() {
    return static_cast<std::uint64_t>(std::llround(storageLimitGB() * MovieStorage::gigabyte));
}

SettingsWindow::SettingsWindow(const QString& defaultFolder, QWidget* parent)
    : QDialog(parent), defaultFolder_(defaultFolder) {
    setWindowTitle("Settings");
    auto* form = new QFormLayout(this);
    limit_ = new QLineEdit(QString::number(storageLimitGB()), this);
    limit_->setToolTip("0 for no limit");
    form->addRow("Storage limit (GB):", limit_);

    const auto chosen = tavrin::chosenMoviesFolder();
    folder_ = new QLineEdit(chosen ? QString::fromStdString(*chosen) : defaultFolder, this);
    auto* choose = new QPushButton("Choose…", this);
    connect(choose, &QPushButton::clicked, this, [this] {
        const QString picked = QFileDialog::getExistingDirectory(this, "Movies Folder", folder_->text());
        if (!picked.isEmpty()) {
            folder_->setText(picked);
        }
    });
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folder_, 1);
    folderRow->addWidget(choose);
    form->addRow("Movies folder:", folderRow);

    auto* note = new QLabel(
        "When the movies take more than the limit, the oldest are deleted first, each with its subtitles "
        "and match log. Movies you move into the folder Kept inside the movies folder are kept forever, and "
        "files Vidora did not name are never touched. Parlan writes into the folder from its next match "
        "on; Vidora records there once the recording in progress has ended.",
        this);
    note->setWordWrap(true);
    form->addRow(note);
    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    problem_->setStyleSheet("color: #c00000");
    problem_->hide();
    form->addRow(problem_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsWindow::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsWindow::reject);
    form->addRow(buttons);
    setMinimumWidth(480);
}

std::optional<double> SettingsWindow::readLimit(const QString& text, QString& problem) {
    const QString trimmed = text.trimmed();
    bool read = false;
    double limit = QLocale::c().toDouble(trimmed, &read);
    if (!read) {
        limit = QLocale::system().toDouble(trimmed, &read);  // a decimal comma where the desktop uses one
    }
    if (!read || !std::isfinite(limit)) {
        problem = "The storage limit must be a number of GB, such as 50; 0 for no limit.";
    } else if (limit < 0) {
        problem = "The storage limit cannot be negative; 0 means no limit.";
    } else if (limit > largestLimit) {
        problem = "The storage limit can be at most 1000000000 GB.";
    } else {
        return limit;
    }
    return std::nullopt;
}

QString SettingsWindow::folderProblem(const QString& folder) {
    if (folder.trimmed().isEmpty()) {
        return "Choose a folder for the movies.";
    }
    if (!QDir::isAbsolutePath(folder)) {
        return "The movies folder must be a full path, beginning with /.";
    }
    QTemporaryFile probe(QDir(folder).filePath(".vidora-XXXXXX"));
    if (!QDir().mkpath(folder) || !probe.open()) {
        return "Vidora cannot write into " + folder + ". Choose a folder you can write to.";
    }
    return {};
}

QString SettingsWindow::problem() const {
    return problem_->isHidden() ? QString() : problem_->text();
}

void SettingsWindow::accept() {
    QString problem;
    const auto limit = readLimit(limit_->text(), problem);
    const QString folder = QDir::cleanPath(folder_->text().trimmed());
    if (limit) {
        problem = folderProblem(folder);
    }
    if (!problem.isEmpty()) {
        problem_->setText(problem);
        problem_->show();
        return;
    }
    const auto settings = tavrin::recorderSettings();
    settings->setValue(storageLimitKey, *limit);
    // The default is not written down, so that it follows the desktop's Videos folder.
    if (folder == QDir::cleanPath(defaultFolder_)) {
        settings->remove(tavrin::moviesFolderKey);
    } else {
        settings->setValue(tavrin::moviesFolderKey, folder);
    }
    settings->sync();
    problem_->hide();
    QDialog::accept();
}

}  // namespace vidora

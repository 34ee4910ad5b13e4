// SPDX-License-Identifier: GPL-3.0-or-later
#include "SettingsWindow.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryFile>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "RecorderSettings.h"
#include "capture/MovieStorage.h"
#include "common/Folders.h"

namespace vidora {

namespace {

// Beyond any disk, and still a whole number of bytes.
constexpr double largestLimit = 1e9;

// As the person's language writes a number, without grouping: "1000", "0,2".
QString numberText(double number) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(number, 'g', 15);
}

}  // namespace

std::optional<double> storageLimitGB(QString* text) {
    const QVariant value = tavrin::recorderSettings()->value(storageLimitKey);
    if (!value.isValid()) {
        return defaultStorageLimit;
    }
    // The file's own number format, whatever the language: "0.2", as the window saves it.
    const QString saved =
        value.typeId() == QMetaType::QStringList ? value.toStringList().join(',') : value.toString();
    bool read = false;
    const double limit = saved.toDouble(&read);
    if (read && limit >= 0 && limit <= largestLimit) {
        return limit;
    }
    if (text) {
        *text = saved;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> storageLimitBytes(QString* text) {
    const auto limit = storageLimitGB(text);
    if (!limit) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(std::llround(*limit * MovieStorage::gigabyte));
}

std::vector<std::string> earlierMoviesFolders() {
    std::vector<std::string> folders;
    for (const QString& folder : tavrin::recorderSettings()->value(earlierFoldersKey).toStringList()) {
        folders.push_back(folder.toStdString());
    }
    return folders;
}

ScreenCaptureRecorder::MovieFormat movieFormat() {
    const auto settings = tavrin::recorderSettings();
    const int height = settings->value(pictureHeightKey).toInt();
    const int rate = settings->value(frameRateKey).toInt();
    return {.pictureHeight = height == 1080 || height == 720 ? height : 0, .frameRate = rate == 60 ? 60 : 30};
}

SettingsWindow::SettingsWindow(const QString& defaultFolder, QWidget* parent)
    : QDialog(parent), defaultFolder_(defaultFolder) {
    setWindowTitle("Settings");
    auto* form = new QFormLayout(this);
    QString unread;
    const auto saved = storageLimitGB(&unread);
    limit_ = new QLineEdit(saved ? numberText(*saved) : unread, this);
    limit_->setToolTip("0 for no limit");
    limitNote_ = new QLabel(this);
    auto* limitColumn = new QVBoxLayout;
    limitColumn->addWidget(limit_);
    limitColumn->addWidget(limitNote_);
    form->addRow("Storage limit (GB):", limitColumn);
    connect(limit_, &QLineEdit::textChanged, this, &SettingsWindow::showLimit);
    showLimit();

    const auto chosen = tavrin::chosenMoviesFolder();
    moviesFolder_ = chosen ? QString::fromStdString(*chosen) : defaultFolder;
    folder_ = new QLineEdit(moviesFolder_, this);
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

    const auto format = movieFormat();
    const auto choices = [this](std::initializer_list<std::pair<QString, int>> items, int current) {
        auto* box = new QComboBox(this);
        for (const auto& [text, value] : items) {
            box->addItem(text, value);
        }
        box->setCurrentIndex(box->findData(current));
        return box;
    };
    pictureHeight_ = choices({{"As captured", 0}, {"1080p", 1080}, {"720p", 720}}, format.pictureHeight);
    pictureHeight_->setToolTip(
        "A smaller picture, scaled to that height, leaves more of the processor to the game");
    form->addRow("Picture size:", pictureHeight_);
    frameRate_ = choices({{"30 frames a second", 30}, {"60 frames a second", 60}}, format.frameRate);
    form->addRow("Frame rate:", frameRate_);

    auto* note = new QLabel(
        "When the movies take more than the limit, the oldest are deleted first, each with its subtitles "
        "and match log; never the newest. Movies you move into the folder Kept inside the movies folder are "
        "kept forever, and files Vidora did not name are never touched. Parlan writes into the folder from "
        "its next match on; Vidora records there once the recording in progress has ended.",
        this);
    note->setWordWrap(true);
    form->addRow(note);
    problem_ = new QLabel(this);
    problem_->setWordWrap(true);
    problem_->setStyleSheet("color: #c00000");
    problem_->setVisible(!saved);
    problem_->setText("The settings file holds the storage limit \"" + unread +
                      "\", which is not a number of GB: nothing is deleted until a limit is saved here.");
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
    // A German "1.000" is a thousand; "0.2", which no German would write, is read as written.
    double limit = QLocale().toDouble(trimmed, &read);
    if (!read) {
        limit = QLocale::c().toDouble(trimmed, &read);
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

void SettingsWindow::showLimit() {
    QString problem;
    const auto limit = readLimit(limit_->text(), problem);
    limitNote_->setText(!limit        ? problem
                        : *limit == 0 ? QString("No limit: nothing is deleted.")
                                      : "Understood as " + numberText(*limit) + " GB.");
}

QString SettingsWindow::limitNote() const {
    return limitNote_->text();
}

QString SettingsWindow::folderProblem(const QString& folder, const QString& moviesFolder) {
    if (folder.trimmed().isEmpty()) {
        return "Choose a folder for the movies.";
    }
    if (!QDir::isAbsolutePath(folder)) {
        return "The movies folder must be a full path, beginning with /.";
    }
    // As the file system resolves them, so that a link is taken for the folder it leads to.
    const auto resolved = [](const QString& path) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
    };
    const QString chosen = resolved(folder);
    const QString current = resolved(moviesFolder);
    if (chosen == resolved(QDir::homePath())) {
        return "Your home folder holds all your files: give the movies a folder of their own, in which the "
               "oldest are deleted to keep the storage limit.";
    }
    // Folders where no movie belongs, with all inside them; then folders that hold others' places.
    static const QStringList systemTrees = {"/bin",   "/boot",   "/dev",  "/etc",  "/lib", "/lib32",
                                            "/lib64", "/libx32", "/proc", "/sbin", "/sys", "/usr"};
    static const QStringList systemFolders = {"/",     "/home", "/media", "/mnt", "/opt",
                                              "/root", "/run",  "/srv",   "/tmp", "/var"};
    if (systemFolders.contains(chosen) || std::ranges::any_of(systemTrees, [&](const QString& tree) {
            return chosen == tree || chosen.startsWith(tree + "/");
        })) {
        return chosen +
               " is a system folder: choose a folder of your own for the movies, in your home "
               "folder or on a drive.";
    }
    if (QFileInfo(chosen).fileName() == "Kept") {
        return "A folder named Kept holds movies kept for good: as the movies folder, its oldest movies "
               "would "
               "be deleted to keep the storage limit.";
    }
    if (chosen.startsWith(current + "/")) {
        return chosen + " is inside the movies folder " + current +
               ", whose folders hold what you keep there: choose a folder outside it.";
    }
    // Not made here: on a drive that is not mounted it would be made on another disk. The folder in use may
    // be missing for now, which keeps no limit from being saved.
    if (!QFileInfo(chosen).isDir()) {
        return chosen == current
                   ? QString()
                   : chosen + " does not exist: is its drive mounted? Choose… can make a new folder.";
    }
    QTemporaryFile probe(QDir(chosen).filePath(".vidora-XXXXXX"));
    if (!probe.open()) {
        return "Vidora cannot write into " + chosen + ". Choose a folder you can write to.";
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
        if (folder == QDir::cleanPath(defaultFolder_)) {
            tavrin::prepareMoviesFolder(folder.toStdString(), false);
        }
        problem = folderProblem(folder, moviesFolder_);
    }
    if (!problem.isEmpty()) {
        problem_->setText(problem);
        problem_->show();
        return;
    }
    const auto settings = tavrin::recorderSettings();
    settings->setValue(storageLimitKey, *limit);
    settings->setValue(pictureHeightKey, pictureHeight_->currentData());
    settings->setValue(frameRateKey, frameRate_->currentData());
    // The default is not written down, so that it follows the desktop's Videos folder.
    if (folder == QDir::cleanPath(defaultFolder_)) {
        settings->remove(tavrin::moviesFolderKey);
    } else {
        settings->setValue(tavrin::moviesFolderKey, folder);
    }
    if (folder != QDir::cleanPath(moviesFolder_)) {
        QStringList earlier = settings->value(earlierFoldersKey).toStringList();
        earlier.removeAll(moviesFolder_);
        earlier.removeAll(folder);
        earlier.prepend(moviesFolder_);
        settings->setValue(earlierFoldersKey, earlier.mid(0, 8));
    }
    settings->sync();
    problem_->hide();
    QDialog::accept();
}

}  // namespace vidora

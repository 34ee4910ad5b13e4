// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QMainWindow>
#include <QTableView>
#include <functional>
#include <memory>

#include "MatchFilterModel.h"
#include "MatchLoader.h"
#include "MatchTableModel.h"
#include "ThumbnailLoader.h"

namespace vidora {

class PlayerWindow;

// The Matches window: every movie of the movies folder and its Kept folder, newest first, filtered and
// searched, with Play, Keep / Stop keeping, Delete (to the desktop's trash, after one question), Show in
// Folder and Open With. It follows the folder while open. GUI thread only.
class MatchesWindow final : public QMainWindow {
    Q_OBJECT

public:
    struct Options {
        QString moviesFolder;
        QString cacheFolder;  // the index and the pictures
        // Asks the player a yes-or-no question.
        std::function<bool(const QString& question)> confirm;
        // Shows a file in the file manager; opens a file with the desktop's program for it.
        std::function<void(const QString&)> reveal;
        std::function<void(const QString&)> openWith;
    };

    explicit MatchesWindow(Options options, QWidget* parent = nullptr);
    ~MatchesWindow() override;

    MatchTableModel& matches() { return model_; }
    MatchFilterModel& shown() { return filterModel_; }
    QTableView& table() { return *table_; }
    QLineEdit& search() { return *search_; }
    QComboBox& bracketChoice() { return *bracket_; }
    QComboBox& keptChoice() { return *kept_; }
    PlayerWindow* player() { return player_.get(); }
    // Lists the folder again now, as a change in it does.
    void reload() { loader_->reload(); }

    // The actions on the selected rows.
    void play();
    void toggleKept();
    void deleteSelected();
    void showInFolder();
    void openWith();

private:
    std::vector<MatchRow> selected() const;
    void applyFilter();
    void refreshChoices();
    void selectionChanged();
    void showCount();

    Options options_;
    ThumbnailLoader thumbnails_;
    MatchTableModel model_;
    MatchFilterModel filterModel_;
    QTableView* table_;
    QComboBox* bracket_;
    QComboBox* result_;
    QComboBox* arena_;
    QComboBox* spec_;
    QComboBox* kept_;
    QDateEdit* from_;
    QDateEdit* to_;
    QLineEdit* search_;
    QAction* playAction_;
    QAction* keepAction_;
    QAction* deleteAction_;
    QAction* showAction_;
    QAction* openWithAction_;
    std::unique_ptr<PlayerWindow> player_;
    std::unique_ptr<MatchLoader> loader_;
};

}  // namespace vidora

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QPixmap>
#include <vector>

#include "matches/MatchRow.h"
#include "matches/Thumbnails.h"

namespace vidora {

class ThumbnailLoader;

// The rows of the match list, one per movie, in the order they arrived (the view sorts through a
// proxy). Rows come in batches; a later listing is merged in, so a row keeps its place and selection
// while its movie stays. The pictures are asked for only when the view shows a row, and one made for
// a file that has since changed is dropped. GUI thread only.
class MatchTableModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { date, bracket, arena, result, rating, length, spec, teams, deaths, kept, columns };
    // The value a column sorts by; the teams as a list of {spec, class colour} pairs for their painter.
    static constexpr int sortRole = Qt::UserRole + 1;
    static constexpr int teamsRole = Qt::UserRole + 2;

    explicit MatchTableModel(ThumbnailLoader* thumbnails, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const MatchRow& summary(int row) const { return rows_[static_cast<std::size_t>(row)]; }
    // The row of a movie, -1 when it is not listed.
    int rowOf(const std::string& path) const;

    void append(std::vector<MatchRow> rows);
    // Takes a whole listing: rows of movies gone are removed, changed ones replaced, new ones added.
    void merge(std::vector<MatchRow> rows);

private:
    void pictureReady(const ThumbnailKey& key, const QImage& picture, const QString& problem);
    static ThumbnailKey keyOf(const MatchRow& row);

    struct Thumbnail {
        ThumbnailKey key;
        QPixmap picture;
        QString problem;
    };

    ThumbnailLoader* thumbnails_;
    std::vector<MatchRow> rows_;
    mutable QHash<QString, Thumbnail> pictures_;
    mutable QHash<QString, ThumbnailKey> asked_;
};

}  // namespace vidora

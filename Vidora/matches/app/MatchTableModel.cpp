// SPDX-License-Identifier: GPL-3.0-or-later
#include "MatchTableModel.h"

#include <QColor>
#include <QDateTime>
#include <unordered_map>

#include "ThumbnailLoader.h"
#include "matches/ClassColours.h"
#include "matches/MatchFilter.h"

namespace vidora {

namespace {

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

QString specText(const MatchRow& row) {
    return text(row.playerSpec.empty() || row.playerClass.empty() ? row.playerSpec + row.playerClass
                                                                  : row.playerSpec + " " + row.playerClass);
}

// "2024-09-13 13.31.52" shown as "2024-09-13 13:31".
QString dateText(const std::string& stamp) {
    QString shown = text(stamp.substr(0, 16));
    return shown.replace(QLatin1Char('.'), QLatin1Char(':'));
}

QVariantList teamsValue(const MatchRow& row) {
    QVariantList teams;
    for (const auto* team : {&row.friends, &row.enemies}) {
        QVariantList members;
        for (const auto& member : *team) {
            members.append(QVariant(QVariantList{text(member.spec.empty() ? member.className : member.spec),
                                                 QColor(text(classColour(member.className)))}));
        }
        teams.append(QVariant(members));
    }
    return teams;
}

QString teamsText(const MatchRow& row) {
    QStringList sides;
    for (const auto* team : {&row.friends, &row.enemies}) {
        QStringList members;
        for (const auto& member : *team) {
            members.append(text(member.spec + (member.spec.empty() ? "" : " ") + member.className));
        }
        sides.append(members.join(QStringLiteral(", ")));
    }
    return sides.join(QStringLiteral(" vs "));
}

QString noteText(const MatchRow& row, const QString& pictureProblem) {
    QStringList notes;
    if (!row.note.empty()) {
        notes.append(text(row.note));
    }
    if (!pictureProblem.isEmpty()) {
        notes.append(pictureProblem);
    }
    return notes.join(QLatin1Char(' '));
}

}  // namespace

MatchTableModel::MatchTableModel(ThumbnailLoader* thumbnails, QObject* parent)
    : QAbstractTableModel(parent), thumbnails_(thumbnails) {
    if (thumbnails_) {
        connect(thumbnails_, &ThumbnailLoader::ready, this, &MatchTableModel::pictureReady);
    }
}

int MatchTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int MatchTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Column::columns;
}

ThumbnailKey MatchTableModel::keyOf(const MatchRow& row) {
    return {row.file.path, row.file.size, row.file.modified};
}

QVariant MatchTableModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    const MatchRow& row = rows_[static_cast<std::size_t>(index.row())];
    const QString path = text(row.file.path);
    const auto picture = pictures_.constFind(path);
    const bool pictureCurrent = picture != pictures_.constEnd() && picture->key == keyOf(row);
    const QString pictureProblem = pictureCurrent ? picture->problem : QString();
    if (role == Qt::DecorationRole && index.column() == Column::date) {
        if (pictureCurrent) {
            return picture->picture.isNull() ? QVariant() : QVariant(picture->picture);
        }
        // A movie being written is still changing; its picture comes once it is finished.
        if (thumbnails_ && !row.file.recording && asked_.value(path) != keyOf(row)) {
            asked_.insert(path, keyOf(row));
            thumbnails_->request(keyOf(row), row.pictureTime);
        }
        return {};
    }
    if (role == Qt::ToolTipRole) {
        const QString notes = noteText(row, pictureProblem);
        return notes.isEmpty() ? text(row.file.path) : text(row.file.path) + QLatin1Char('\n') + notes;
    }
    if (role == teamsRole) {
        return teamsValue(row);
    }
    if (role != Qt::DisplayRole && role != sortRole) {
        return {};
    }
    const bool sorting = role == sortRole;
    switch (static_cast<Column>(index.column())) {
        case Column::date:
            if (sorting) {
                return text(row.file.stamp);
            }
            // What is wrong with a row is said where the eye starts reading it.
            return pictureProblem.isEmpty() && row.note.empty()
                       ? dateText(row.file.stamp)
                       : dateText(row.file.stamp) + QLatin1Char('\n') + noteText(row, pictureProblem);
        case Column::bracket:
            return text(row.bracket);
        case Column::arena:
            return text(row.arena);
        case Column::result:
            if (sorting) {
                return isWon(row) ? 2 : isLost(row) ? 0 : 1;
            }
            return text(row.resultText());
        case Column::rating:
            return text(row.rating);
        case Column::length:
            if (sorting) {
                return row.length.value_or(-1);
            }
            return row.length ? text(MatchRow::formatLength(*row.length)) : QString();
        case Column::spec:
            return specText(row);
        case Column::teams:
            return teamsText(row);
        case Column::deaths:
            return row.deaths;
        case Column::kept:
            if (row.file.recording) {
                return QStringLiteral("Recording");
            }
            return row.file.kept ? QStringLiteral("Kept") : QString();
        case Column::columns:
            break;
    }
    return {};
}

QVariant MatchTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    static const char* const names[] = {"Date",   "Bracket", "Arena", "Result", "Rating",
                                        "Length", "Spec",    "Teams", "Deaths", "Kept"};
    return section >= 0 && section < Column::columns ? QString::fromLatin1(names[section]) : QVariant();
}

int MatchTableModel::rowOf(const std::string& path) const {
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        if (rows_[row].file.path == path) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

void MatchTableModel::append(std::vector<MatchRow> rows) {
    if (rows.empty()) {
        return;
    }
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    std::move(rows.begin(), rows.end(), std::back_inserter(rows_));
    endInsertRows();
}

void MatchTableModel::merge(std::vector<MatchRow> rows) {
    std::unordered_map<std::string, MatchRow*> incoming;
    for (auto& row : rows) {
        incoming.emplace(row.file.path, &row);
    }
    // Removed from the end, one run of neighbours at a time.
    for (int row = static_cast<int>(rows_.size()) - 1; row >= 0;) {
        if (incoming.contains(rows_[static_cast<std::size_t>(row)].file.path)) {
            --row;
            continue;
        }
        int first = row;
        while (first > 0 && !incoming.contains(rows_[static_cast<std::size_t>(first - 1)].file.path)) {
            --first;
        }
        beginRemoveRows({}, first, row);
        rows_.erase(rows_.begin() + first, rows_.begin() + row + 1);
        endRemoveRows();
        row = first - 1;
    }
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        const auto found = incoming.find(rows_[row].file.path);
        MatchRow& fresh = *found->second;
        if (fresh != rows_[row]) {
            rows_[row] = std::move(fresh);
            emit dataChanged(index(static_cast<int>(row), 0),
                             index(static_cast<int>(row), Column::columns - 1));
        }
        incoming.erase(found);
    }
    std::vector<MatchRow> added;
    for (auto& row : rows) {
        if (incoming.contains(row.file.path)) {
            added.push_back(std::move(row));
        }
    }
    append(std::move(added));
}

void MatchTableModel::pictureReady(const ThumbnailKey& key, const QImage& picture, const QString& problem) {
    const int row = rowOf(key.path);
    if (row < 0 || keyOf(rows_[static_cast<std::size_t>(row)]) != key) {
        return;  // made for a file that has changed or gone since
    }
    pictures_.insert(text(key.path), {key, QPixmap::fromImage(picture), problem});
    emit dataChanged(index(row, Column::date), index(row, Column::date));
}

}  // namespace vidora

// SPDX-License-Identifier: GPL-3.0-or-later
#include "MatchFilterModel.h"

#include "MatchTableModel.h"

namespace vidora {

MatchFilterModel::MatchFilterModel(QObject* parent) : QSortFilterProxyModel(parent) {
    setSortRole(MatchTableModel::sortRole);
}

void MatchFilterModel::setFilter(MatchFilter filter) {
    filter_ = std::move(filter);
    invalidateRowsFilter();
}

bool MatchFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& /*sourceParent*/) const {
    const auto* matches = qobject_cast<const MatchTableModel*>(sourceModel());
    return matches && filter_.accepts(matches->summary(sourceRow));
}

}  // namespace vidora

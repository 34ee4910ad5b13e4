// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSortFilterProxyModel>

#include "matches/MatchFilter.h"

namespace vidora {

// The match list as the view shows it: the rows the filter accepts, sorted by any column's sort value.
// GUI thread only.
class MatchFilterModel final : public QSortFilterProxyModel {
    Q_OBJECT

public:
    explicit MatchFilterModel(QObject* parent = nullptr);

    const MatchFilter& filter() const { return filter_; }
    void setFilter(MatchFilter filter);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    MatchFilter filter_;
};

}  // namespace vidora

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <vector>

#include "matches/MatchRow.h"

namespace vidora {

// The player's seek bar with the match drawn on it: the deaths of the player's team and of the other
// team in two colours (grey where the side is not known), a shuffle's rounds as spans coloured by their
// result. Hovering a mark names it; a click or a drag seeks. GUI thread only.
class SeekBar final : public QWidget {
    Q_OBJECT

public:
    static const QColor friendlyColour;
    static const QColor enemyColour;

    explicit SeekBar(QWidget* parent = nullptr);

    void setMatch(double length, std::vector<TimelineMark> marks);
    void setLength(double length);
    void setPosition(double seconds);
    // The mark drawn nearest to `x`, within a few pixels; empty when none.
    QString markAt(int x) const;
    int xOf(double seconds) const;

    QSize sizeHint() const override { return {400, 28}; }

signals:
    void seekRequested(double seconds);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    double secondsAt(int x) const;
    QRect groove() const;

    double length_ = 0;
    double position_ = 0;
    std::vector<TimelineMark> marks_;
};

}  // namespace vidora

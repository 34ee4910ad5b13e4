// SPDX-License-Identifier: GPL-3.0-or-later
#include "SeekBar.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <cmath>

#include "player/PlayerControls.h"

namespace vidora {

namespace {

using Kind = TimelineMark::Kind;

constexpr int margin = 6;
// How close the pointer must be to a mark to name it.
constexpr int reach = 4;

QColor roundColour(std::optional<Outcome> result) {
    return result == Outcome::win    ? QColor(0x2E, 0x7D, 0x32, 110)
           : result == Outcome::loss ? QColor(0xC6, 0x28, 0x28, 110)
                                     : QColor(0x80, 0x80, 0x80, 90);
}

}  // namespace

const QColor SeekBar::friendlyColour(0x2F, 0x8F, 0xFF);
const QColor SeekBar::enemyColour(0xFF, 0x45, 0x45);

SeekBar::SeekBar(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumHeight(28);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);
}

void SeekBar::setMatch(double length, std::vector<TimelineMark> marks) {
    length_ = length;
    marks_ = std::move(marks);
    update();
}

void SeekBar::setLength(double length) {
    length_ = length;
    update();
}

void SeekBar::setPosition(double seconds) {
    position_ = seconds;
    update();
}

QRect SeekBar::groove() const {
    return rect().adjusted(margin, 8, -margin, -8);
}

int SeekBar::xOf(double seconds) const {
    const QRect bar = groove();
    return length_ > 0
               ? bar.left() +
                     static_cast<int>(std::lround(bar.width() * std::clamp(seconds / length_, 0.0, 1.0)))
               : bar.left();
}

double SeekBar::secondsAt(int x) const {
    const QRect bar = groove();
    return bar.width() > 0 ? length_ * std::clamp(double(x - bar.left()) / bar.width(), 0.0, 1.0) : 0;
}

QString SeekBar::markAt(int x) const {
    const TimelineMark* nearest = nullptr;
    int distance = reach + 1;
    for (const auto& mark : marks_) {
        if (const int away = std::abs(xOf(mark.time) - x); away < distance && mark.kind != Kind::roundEnd) {
            nearest = &mark;
            distance = away;
        }
    }
    if (!nearest) {
        // A round's span names the round and its result.
        for (std::size_t start = 0; start < marks_.size(); ++start) {
            if (marks_[start].kind != Kind::roundStart) {
                continue;
            }
            for (std::size_t end = start + 1; end < marks_.size(); ++end) {
                if (marks_[end].kind == Kind::roundEnd) {
                    if (x >= xOf(marks_[start].time) && x <= xOf(marks_[end].time)) {
                        return QString::fromStdString(marks_[end].label);
                    }
                    break;
                }
            }
        }
        return {};
    }
    return QString::fromStdString(MatchRow::formatLength(nearest->time) + "  " + nearest->label);
}

void SeekBar::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect bar = groove();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x30, 0x30, 0x30));
    painter.drawRoundedRect(bar, 3, 3);
    // Rounds: a span from each start to the end that follows it.
    double roundStart = -1;
    for (const auto& mark : marks_) {
        if (mark.kind == Kind::roundStart) {
            roundStart = mark.time;
        } else if (mark.kind == Kind::roundEnd && roundStart >= 0) {
            painter.setBrush(roundColour(mark.result));
            painter.drawRect(QRect(QPoint(xOf(roundStart), bar.top()), QPoint(xOf(mark.time), bar.bottom())));
            roundStart = -1;
        }
    }
    painter.setBrush(QColor(0xE0, 0xE0, 0xE0, 150));
    painter.drawRect(QRect(bar.topLeft(), QPoint(xOf(position_), bar.bottom())));
    for (const auto& mark : marks_) {
        if (!isDeath(mark)) {
            continue;
        }
        painter.setBrush(mark.kind == Kind::friendlyDeath ? friendlyColour
                         : mark.kind == Kind::enemyDeath  ? enemyColour
                                                          : QColor(0xB0, 0xB0, 0xB0));
        const int x = xOf(mark.time);
        // A small diamond above and through the groove.
        const QPoint points[] = {
            {x, 1}, {x + 5, bar.center().y()}, {x, height() - 2}, {x - 5, bar.center().y()}};
        painter.drawPolygon(points, 4);
    }
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPoint(xOf(position_), bar.center().y()), 6, 6);
}

void SeekBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && length_ > 0) {
        emit seekRequested(secondsAt(event->position().toPoint().x()));
    }
}

void SeekBar::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) && length_ > 0) {
        emit seekRequested(secondsAt(event->position().toPoint().x()));
    }
}

bool SeekBar::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString text = markAt(help->pos().x());
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, this);
        }
        return true;
    }
    return QWidget::event(event);
}

}  // namespace vidora

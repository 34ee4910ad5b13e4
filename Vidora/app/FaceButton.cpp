// SPDX-License-Identifier: GPL-3.0-or-later
#include "FaceButton.h"

#include <QPainter>
#include <QSvgRenderer>
#include <map>
#include <memory>

namespace vidora {

namespace {

QSvgRenderer& symbolRenderer(const QString& name) {
    // One renderer per symbol for the program's life; the window is painted on the main thread only.
    static std::map<QString, std::unique_ptr<QSvgRenderer>> renderers;
    auto& renderer = renderers[name];
    if (!renderer) {
        renderer = std::make_unique<QSvgRenderer>(QStringLiteral(":/symbols/%1.svg").arg(name));
    }
    return *renderer;
}

void drawText(QPainter& painter, const QRectF& box, const QString& text) {
    painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, text);
}

}  // namespace

QImage symbolImage(const QString& symbol, int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    symbolRenderer(symbol).render(&painter, QRectF(0, 0, side, side));
    return image;
}

FaceButton::FaceButton(QWidget* parent) : QAbstractButton(parent) {
    setFixedSize(side, side);
    setFocusPolicy(Qt::TabFocus);
}

void FaceButton::setFace(ButtonFace face) {
    if (face == face_) {
        return;
    }
    face_ = std::move(face);
    QStringList texts = face_.lines;
    texts.prepend(face_.caption);
    texts.removeAll(QString());
    setAccessibleDescription(texts.join(QStringLiteral(", ")));
    update();
}

void FaceButton::setPurpose(const QString& words) {
    setAccessibleName(words);
    const QString key = shortcut().toString(QKeySequence::NativeText);
    setToolTip(key.isEmpty() ? words : QStringLiteral("%1 (%2)").arg(words, key));
}

void FaceButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                           QPainter::TextAntialiasing);
    const QRectF bounds = rect().adjusted(1, 1, -1, -1);
    const QColor base = isDown() ? QColor(0xdc, 0xdc, 0xe0) : QColor(0xf4, 0xf4, 0xf6);
    painter.setOpacity(isEnabled() ? 1.0 : 0.4);
    painter.setPen(QColor(0xc8, 0xc8, 0xcc));
    painter.setBrush(base);
    painter.drawRoundedRect(bounds, 10, 10);
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(bounds.adjusted(1, 1, -1, -1), 9, 9);
    }

    // Every text of the face in the one small font.
    QFont font = painter.font();
    font.setPixelSize(smallFont);
    painter.setFont(font);
    painter.setPen(QColor(0x26, 0x26, 0x2a));
    const QPointF centre = bounds.center();
    const double opacity = painter.opacity();

    if (!face_.picture.isNull()) {
        // The application's icon with 5 pixels below it, its name under it.
        painter.setOpacity(opacity * face_.pictureOpacity);
        painter.drawImage(QRectF(centre.x() - 45, centre.y() - 45 - 2.5, 90, 90), face_.picture);
        painter.setOpacity(opacity);
        drawText(painter, QRectF(bounds.left(), centre.y() + 45 - 8, bounds.width(), 16), face_.caption);
    } else if (!face_.symbol.isEmpty()) {
        symbolRenderer(face_.symbol).render(&painter, QRectF(centre.x() - 40, centre.y() - 40, 80, 80));
    }
    if (!face_.lines.isEmpty()) {
        // Stacked inside the display symbol's screen, 12 pixels above the centre line.
        const double lineHeight = smallFont + 3;
        const double top = centre.y() - 6 - lineHeight * face_.lines.size() / 2.0;
        for (int i = 0; i < face_.lines.size(); ++i) {
            drawText(painter,
                     QRectF(bounds.left() + 10, top + i * lineHeight, bounds.width() - 20, lineHeight),
                     face_.lines[i]);
        }
    }
    if (!face_.caption.isEmpty() && face_.picture.isNull()) {
        drawText(painter, QRectF(bounds.left(), centre.y() - 8, bounds.width(), 16), face_.caption);
    }
    if (!face_.corner.isEmpty()) {
        drawText(painter, QRectF(centre.x() + 40 - 30, centre.y() - 52 - 8, 60, 16), face_.corner);
    }
}

}  // namespace vidora

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QString>
#include <QStringList>

namespace vidora {

// What one of the window's square buttons shows, in layers centred on each other.
struct ButtonFace {
    // A bundled symbol ("record.circle", "stop", "mic.fill", "mic.slash", "display", "app") drawn
    // 80 pixels high, or a picture drawn in a 90 x 90 frame above `caption`.
    QString symbol;
    QImage picture;
    double pictureOpacity = 1.0;
    QString caption;
    // Small texts stacked over the symbol (a display's number, size and name).
    QStringList lines;
    // Small text towards the upper trailing corner ("2 / 3").
    QString corner;
    bool operator==(const ButtonFace&) const = default;
};

// A bundled symbol drawn as a square picture of `side` pixels.
QImage symbolImage(const QString& symbol, int side);

// A 120 x 120 button painted from a ButtonFace; a disabled one is drawn faded, one with the keyboard
// focus ringed. It takes the focus by Tab only, so that a click leaves no ring.
class FaceButton final : public QAbstractButton {
public:
    static constexpr int side = 120;
    static constexpr int smallFont = 10;

    explicit FaceButton(QWidget* parent = nullptr);
    void setFace(ButtonFace face);
    // What pressing it does, in words ("Start recording"): its accessible name, and its tooltip with
    // its key. A screen reader hears the face's texts as the description.
    void setPurpose(const QString& words);
    const ButtonFace& face() const { return face_; }
    QSize sizeHint() const override { return {side, side}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ButtonFace face_;
};

}  // namespace vidora

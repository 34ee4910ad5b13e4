// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QWidget>

struct mpv_render_context;

namespace vidora {

class MpvPlayer;

// The player's picture drawn by libmpv's software renderer into an image the widget paints: for
// machines whose only OpenGL is Mesa's software one, where scaling in mpv's own code and one copy to
// the X server cost less than OpenGL emulated on the processor and the toolkit's composition of an
// OpenGL widget. GUI thread only.
class MpvSoftwareWidget final : public QWidget {
    Q_OBJECT

public:
    explicit MpvSoftwareWidget(MpvPlayer& player, QWidget* parent = nullptr);
    ~MpvSoftwareWidget() override;

    bool renderReady() const { return render_ != nullptr; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void frameWanted();

    mpv_render_context* render_ = nullptr;
    QImage frame_;
};

}  // namespace vidora

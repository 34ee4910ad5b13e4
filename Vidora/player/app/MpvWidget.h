// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QOpenGLWidget>

struct mpv_render_context;

namespace vidora {

class MpvPlayer;

// The player's picture, drawn by libmpv's render API into this widget's OpenGL frame buffer (Mesa's
// software renderer where there is no graphics card). mpv asks for a frame from its own thread; the
// widget is redrawn on the GUI thread. GUI thread only.
class MpvWidget final : public QOpenGLWidget {
    Q_OBJECT

public:
    explicit MpvWidget(MpvPlayer& player, QWidget* parent = nullptr);
    ~MpvWidget() override;

    // Whether mpv can draw here: only then may a movie be loaded (mpv's output needs the render context).
    bool renderReady() const { return render_ != nullptr; }

signals:
    void becameReady();

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void frameWanted();

    MpvPlayer& player_;
    mpv_render_context* render_ = nullptr;
};

}  // namespace vidora

// SPDX-License-Identifier: GPL-3.0-or-later
#include "MpvSoftwareWidget.h"

#include <mpv/render.h>

#include <QPainter>

#include "MpvPlayer.h"

namespace vidora {

MpvSoftwareWidget::MpvSoftwareWidget(MpvPlayer& player, QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (!player.ready()) {
        return;
    }
    char api[] = MPV_RENDER_API_TYPE_SW;
    mpv_render_param parameters[] = {{MPV_RENDER_PARAM_API_TYPE, api}, {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_create(&render_, player.handle(), parameters) < 0) {
        render_ = nullptr;
        return;
    }
    // Called on mpv's threads.
    mpv_render_context_set_update_callback(
        render_,
        [](void* widget) {
            QMetaObject::invokeMethod(static_cast<MpvSoftwareWidget*>(widget),
                                      &MpvSoftwareWidget::frameWanted, Qt::QueuedConnection);
        },
        this);
}

MpvSoftwareWidget::~MpvSoftwareWidget() {
    if (render_) {
        mpv_render_context_free(render_);
    }
}

void MpvSoftwareWidget::frameWanted() {
    if (render_ && (mpv_render_context_update(render_) & MPV_RENDER_UPDATE_FRAME) != 0) {
        update();
    }
}

void MpvSoftwareWidget::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QSize size = this->size() * devicePixelRatio();
    if (!render_ || size.isEmpty()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    if (frame_.size() != size) {
        frame_ = QImage(size, QImage::Format_RGBX8888);
        frame_.setDevicePixelRatio(devicePixelRatio());
    }
    int dimensions[] = {size.width(), size.height()};
    char format[] = "rgb0";
    auto stride = static_cast<std::size_t>(frame_.bytesPerLine());
    mpv_render_param parameters[] = {{MPV_RENDER_PARAM_SW_SIZE, dimensions},
                                     {MPV_RENDER_PARAM_SW_FORMAT, format},
                                     {MPV_RENDER_PARAM_SW_STRIDE, &stride},
                                     {MPV_RENDER_PARAM_SW_POINTER, frame_.bits()},
                                     {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context_render(render_, parameters);
    painter.drawImage(QPoint(0, 0), frame_);
}

}  // namespace vidora

// SPDX-License-Identifier: GPL-3.0-or-later
#include "MpvWidget.h"

#include <mpv/render_gl.h>

#include <QOpenGLContext>

#include "MpvPlayer.h"

namespace vidora {

MpvWidget::MpvWidget(MpvPlayer& player, QWidget* parent) : QOpenGLWidget(parent), player_(player) {
    setFocusPolicy(Qt::StrongFocus);
}

MpvWidget::~MpvWidget() {
    if (render_) {
        // mpv frees its textures in the widget's context.
        makeCurrent();
        mpv_render_context_free(render_);
        doneCurrent();
    }
}

void MpvWidget::initializeGL() {
    if (!player_.ready() || render_) {
        return;
    }
    mpv_opengl_init_params gl{.get_proc_address = [](void*, const char* name) -> void* {
                                  QOpenGLContext* context = QOpenGLContext::currentContext();
                                  return context ? reinterpret_cast<void*>(context->getProcAddress(name))
                                                 : nullptr;
                              },
                              .get_proc_address_ctx = nullptr};
    char api[] = MPV_RENDER_API_TYPE_OPENGL;
    mpv_render_param parameters[] = {{MPV_RENDER_PARAM_API_TYPE, api},
                                     {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &gl},
                                     {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_create(&render_, player_.handle(), parameters) < 0) {
        render_ = nullptr;
        return;
    }
    // Called on mpv's threads.
    mpv_render_context_set_update_callback(
        render_,
        [](void* widget) {
            QMetaObject::invokeMethod(static_cast<MpvWidget*>(widget), &MpvWidget::frameWanted,
                                      Qt::QueuedConnection);
        },
        this);
    emit becameReady();
}

void MpvWidget::frameWanted() {
    if (render_ && (mpv_render_context_update(render_) & MPV_RENDER_UPDATE_FRAME) != 0) {
        update();
    }
}

void MpvWidget::paintGL() {
    if (!render_) {
        return;
    }
    const qreal scale = devicePixelRatioF();
    mpv_opengl_fbo target{.fbo = static_cast<int>(defaultFramebufferObject()),
                          .w = static_cast<int>(width() * scale),
                          .h = static_cast<int>(height() * scale),
                          .internal_format = 0};
    int flip = 1;
    mpv_render_param parameters[] = {{MPV_RENDER_PARAM_OPENGL_FBO, &target},
                                     {MPV_RENDER_PARAM_FLIP_Y, &flip},
                                     {MPV_RENDER_PARAM_INVALID, nullptr}};
    mpv_render_context_render(render_, parameters);
}

}  // namespace vidora
